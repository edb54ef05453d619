// The link's second transport for mobile radios without an interface box: the
// serial port component in RS-485 mode.
#include "app/CodeUpdater.h"
#include "link/ScpComPort.h"
#include "link/ScpDispatcher.h"

namespace bcu::app {

void ScpComPortDeleter::operator()(link::TScpComPort* port) const {
  delete port;
}

bool CodeUpdater::OpenPortComPort(int portNumber, bool keepSpeed) {
  if (!ScpComPort) ScpComPort.reset(new link::TScpComPort());
  ScpComPort->SetPortTable(&m_PortTable);
  ScpComPort->SetComNumber(static_cast<std::uint16_t>(portNumber));
  ScpComPort->SetRS485Mode(true);
  std::string errorText;
  if (link::CommOpenComPort(m_Link, ScpComPort.get(), errorText)) {
    if (ScpComPort->OutputPriority() == link::TScpOutputPriority::Refused) {
      // The bus turnaround then depends on how busy the machine is.
      m_Host.ShowStatusText("Note: RS-485 switching on " + ScpComPort->ResolvedDevicePath() +
                            " runs at normal priority (a higher one was not permitted).");
    }
    link::CommSetRunning(m_Link, true);
    link::CommSetFramed(m_Link, true);
    link::CommSetPortBaud(m_Link, 19200);
    if (m_PlatformCode == 1)
      link::CommChangeBaud(m_Link, 19200);
    else if (!keepSpeed)
      link::CommChangeBaud(m_Link, 115200);
    return true;
  }
  m_PortState[static_cast<std::size_t>(portNumber - 1)] = 2;
  link::CommCloseLink(m_Link);
  ShowError(errorText, "COM Port");
  // The component keeps no reason of its own: the open test tells it.
  const std::string path = m_PortTable.DevicePath(portNumber);
  if (!path.empty()) {
    const platform::PortTestResult test = m_Discovery.TestOpen(path);
    ShowPortProblem(errorText, test.access == platform::PortAccess::Free
                                   ? path + ": the serial port component cannot open it"
                                   : platform::PortProblemText(path, test));
  }
  return false;
}

}  // namespace bcu::app
