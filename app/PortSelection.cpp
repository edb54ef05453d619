// The 64 port slots of the port list, and opening the radio link on the
// selected one.
//
// On this system a slot is not a fixed "COMn" device: the slots are filled in
// order, first with the device paths the user named, then with the serial
// devices the system has (see platform/PortDiscovery.h). The link resolves
// port number n through m_PortTable, so "COM n" below always means slot n.
// Since a USB adapter plugged in or out between two scans moves the devices
// behind it to other slots, a rescan keeps the selection by device path, not
// by slot number.
//
// The mobile radio without its interface box: the link then drives the radio
// bus through the serial port component in RS-485 mode. Where the port's
// driver switches RTS itself (TIOCSRS485 accepted) that works on any machine;
// where RTS is switched from user space, a machine with more than one
// processor cannot be trusted to turn the bus around in time, and the
// updater refuses (the status line names the port first, since a missing
// cable and a radio without a box look the same to the probe).
#include <algorithm>
#include <filesystem>
#include <string>
#include <vector>

#include "app/CodeUpdater.h"
#include "platform/SystemInfo.h"

namespace bcu::app {

namespace {

constexpr const char* kCaptionComPort = "COM Port";
constexpr const char* kTextPortNotAvailable = "Selected COM port is in use or not available.";

std::string CanonicalPath(const std::string& path) {
  std::error_code ec;
  auto canonical = std::filesystem::weakly_canonical(path, ec);
  return ec ? path : canonical.string();
}

}  // namespace

void CodeUpdater::RefreshPortList() {
  std::vector<platform::SerialDeviceInfo> system;
  // A system that cannot list its devices still has the ports the user named.
  if (!m_Discovery.ListDevices(system)) system.clear();

  std::vector<platform::SerialDeviceInfo> slots;
  for (const auto& path : m_Options.extraDevicePaths) {
    platform::SerialDeviceInfo named{path, path, {}};
    // A named path that is one of the system's devices keeps what the system
    // knows about it (its box kind) and is not listed twice.
    const std::string canonical = CanonicalPath(path);
    auto same = std::find_if(system.begin(), system.end(), [&](const auto& device) {
      return CanonicalPath(device.path) == canonical;
    });
    if (same != system.end()) {
      named.product = same->product;
      system.erase(same);
    }
    slots.push_back(std::move(named));
  }
  slots.insert(slots.end(), system.begin(), system.end());

  m_PortTable.Clear();
  m_PortItems.assign(platform::kPortSlots, std::string());
  for (int i = 0; i < platform::kPortSlots; ++i) {
    const auto slot = static_cast<std::size_t>(i);
    m_PortPresent[slot] = 0;
    m_PortState[slot] = 0;
    m_UsbBoxKind[slot] = 0;
    m_PortTest[slot] = platform::PortTestResult{};
    if (slot >= slots.size()) {
      m_PortItems[slot] = "COM" + std::to_string(i + 1);
      continue;
    }
    const auto& device = slots[slot];
    m_PortTable.SetDevicePath(i + 1, device.path);
    m_PortTest[slot] = m_Discovery.TestOpen(device.path);
    if (m_PortTest[slot].access == platform::PortAccess::Free) {
      m_PortPresent[slot] = 2;
      m_PortState[slot] = 2;
    }
    m_UsbBoxKind[slot] = platform::UsbBoxKindFromText(device.product);
    std::string item = device.name;
    if (m_UsbBoxKind[slot] == 1) item += " (6400 USB)";
    if (m_UsbBoxKind[slot] == 2) item += " (6700 USB)";
    m_PortItems[slot] = std::move(item);
  }
  m_PortItemIndex = 0;
  if (m_Started) m_View.PortListChanged();
}

void CodeUpdater::m_UpdateCOMPortsMenuItemClick() {
  m_View.SetWaitCursor(true);
  const int remembered = m_PortItemIndex;
  const std::string device = m_PortTable.DevicePath(remembered + 1);
  RefreshPortList();
  m_View.SetWaitCursor(false);
  const int slot = device.empty() ? -1 : SlotOfDevice(device);
  SelectPortItem(slot >= 0 ? slot : remembered);
}

void CodeUpdater::SelectPortItem(int index) {
  if (index < 0 || index >= static_cast<int>(m_PortItems.size())) return;
  m_PortItemIndex = index;
  m_View.PortSelectionChanged();
}

int CodeUpdater::SlotOfDevice(const std::string& devicePath) const {
  for (int n = 1; n <= platform::kPortSlots; ++n)
    if (m_PortTable.DevicePath(n) == devicePath) return n - 1;
  return -1;
}

bool CodeUpdater::RescanKeepingSelection() {
  const int remembered = m_PortItemIndex;
  const std::string device = m_PortTable.DevicePath(remembered + 1);
  RefreshPortList();
  const int slot = device.empty() ? -1 : SlotOfDevice(device);
  SelectPortItem(slot >= 0 ? slot : remembered);
  return device.empty() || slot >= 0;
}

void CodeUpdater::m_ComportComboBoxChange(int index) {
  if (index < 0 || index >= static_cast<int>(m_PortItems.size())) return;
  if (m_RunState != RunState::Idle) return;  // the list is disabled during a run
  m_PortItemIndex = index;
  if (m_PortPresent[static_cast<std::size_t>(index)] != 2) {
    for (int i = 0; i < platform::kPortSlots; ++i) {
      if (m_PortPresent[static_cast<std::size_t>(i)] == 2) {
        m_PortItemIndex = i;
        break;
      }
    }
  }
  m_View.PortSelectionChanged();
}

bool CodeUpdater::PortItemAvailable(int index) const {
  if (index < 0 || index >= platform::kPortSlots) return false;
  return m_PortPresent[static_cast<std::size_t>(index)] == 2 && m_ComportComboBoxEnabled;
}

bool CodeUpdater::OpenSelectedPort(bool keepSpeed) {
  // A frame opened inside another one (a handler run from a pump while the
  // outer frame holds the link) never takes the port: it is in use.
  if (m_PortFrames++ > 0) {
    ShowError(kTextPortNotAvailable, kCaptionComPort);
    return false;
  }
  m_PortProblem.clear();
  // The device chosen, wherever the rescan puts it; never another one.
  const std::string chosen = m_PortTable.DevicePath(m_PortItemIndex + 1);
  const bool stillThere = RescanKeepingSelection();
  const int i = m_PortItemIndex;
  const int n = i + 1;
  auto& state = m_PortState[static_cast<std::size_t>(i)];
  if (!stillThere || state != 2) {
    const std::string path = m_PortTable.DevicePath(n);
    std::string why;
    if (!stillThere)
      why = chosen + ": the device is gone";
    else if (path.empty())
      why = "COM" + std::to_string(n) + ": no serial device";
    else
      why = platform::PortProblemText(path, m_PortTest[static_cast<std::size_t>(i)]);
    ShowError(kTextPortNotAvailable, kCaptionComPort);
    ShowPortProblem(kTextPortNotAvailable, why);
    return false;
  }
  state = 1;
  m_OpenPortIndex = i;

  if (m_Attributes.RadioFamily == 0) return OpenPortSerialDevice(n, keepSpeed);

  switch (ProbeMobilePort(n)) {
    case 1:
      // An interface box answered: the link stays on the serial device.
      link::CommSetFramed(m_Link, true);
      link::CommSetRunning(m_Link, true);
      if (!keepSpeed && m_PlatformCode != 1) link::CommChangeBaud(m_Link, 115200);
      return true;
    case 2:
      if (HasMultipleProcessors() && !link::CommKernelRs485Available(m_Link)) {
        // The serial device the probe opened stays open until ReleasePort.
        m_Host.ShowStatusText("No interface box answered on " + m_PortTable.DevicePath(n) + ".");
        ShowError(
            "Brisant Code Updater will not work with the current configuration.\n\n"
            "Either connect to the radio using XIF Box 047-6700-009 (which can\n"
            "be purchased from Corvane), or use a computer that does not\n"
            "have a multi-core processor or hyperthreading enabled.",
            kCaptionComPort);
        return false;
      }
      link::CommCloseLink(m_Link);
      return OpenPortComPort(n, keepSpeed);
    default:
      return false;
  }
}

void CodeUpdater::ReleasePort() {
  // Only the outermost frame closes the link it opened.
  if (m_PortFrames > 0 && --m_PortFrames > 0) return;
  link::CommCloseLink(m_Link);
  const int slot = m_OpenPortIndex >= 0 ? m_OpenPortIndex : m_PortItemIndex;
  m_PortState[static_cast<std::size_t>(slot)] = 2;
  m_OpenPortIndex = -1;
}

bool CodeUpdater::OpenPortSerialDevice(int portNumber, bool keepSpeed) {
  std::string errorText;
  if (link::CommOpenSerialDevice(m_Link, portNumber, 19200, 0, errorText)) {
    link::CommSetFramed(m_Link, true);
    link::CommSetRunning(m_Link, true);
    if (!keepSpeed) link::CommChangeBaud(m_Link, 115200);
    return true;
  }
  m_PortState[static_cast<std::size_t>(portNumber - 1)] = 2;
  const std::string why = m_Link.openError;
  link::CommCloseLink(m_Link);
  ShowError(errorText, kCaptionComPort);
  ShowPortProblem(errorText, why);
  return false;
}

int CodeUpdater::ProbeMobilePort(int portNumber) {
  std::string errorText;
  if (!link::CommOpenSerialDevice(m_Link, portNumber, 19200, 0, errorText)) {
    m_PortState[static_cast<std::size_t>(portNumber - 1)] = 2;
    const std::string why = m_Link.openError;
    link::CommCloseLink(m_Link);
    ShowError(errorText, kCaptionComPort);
    ShowPortProblem(errorText, why);
    return 0;
  }
  link::CommSetFramed(m_Link, true);
  link::CommSetRunning(m_Link, true);
  link::CommSetTimeout(m_Link, 500);
  // A box answers within milliseconds, but a busy PC can miss an answer in
  // 500 ms; a port counts as having no box only after a second probe. (On a
  // PC with more than one processor a missed box means the refusal below.)
  bool present = link::CommProbeInterface(m_Link);
  if (!present && !m_Link.portLost && !m_Stop.Requested()) {
    link::CommSetRunning(m_Link, true);
    present = link::CommProbeInterface(m_Link);
  }
  link::CommEndExchange(m_Link);
  return present ? 1 : 2;
}

void CodeUpdater::ShowPortProblem(const std::string& boxText, const std::string& why) {
  // The box keeps its own words (and the window shows nothing else); the
  // front ends say the port and the system's reason after it, and the run's
  // result carries both.
  m_PortProblem = why;
  if (!why.empty()) m_RunResult.SetResult(boxText + " (" + why + ")");
}

bool CodeUpdater::HasMultipleProcessors() const {
  const unsigned count =
      m_Options.processorCount ? m_Options.processorCount() : platform::LogicalProcessorCount();
  return count > 1;
}

}  // namespace bcu::app
