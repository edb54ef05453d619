#include "app/qt/Codeupdatermainform.h"

#include <QAction>
#include <QApplication>
#include <QCloseEvent>
#include <QFontMetrics>
#include <QFrame>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QMenuBar>
#include <QMessageBox>
#include <QProgressBar>
#include <QPushButton>
#include <QRadioButton>
#include <QScreen>
#include <QToolButton>
#include <QWindow>
#include <algorithm>

#include "app/qt/Aboutdlg.h"
#include "app/qt/Codedownpassdlg.h"
#include "app/qt/DesignFont.h"
#include "app/qt/JpegImage.h"
#include "app/qt/PortComboBox.h"
#include "app/qt/QtHostTimer.h"
#include "app/qt/StatusLabel.h"

namespace bcu::qt {

namespace {

constexpr int kDesignClientWidth = 688;
constexpr int kDesignClientHeight = 409;

// The status area of the Transfer group at design (one line of status).
constexpr QRect kStatusLabelRect(56, 84, 332, 16);
constexpr QPoint kProgressBarPos(10, 105);
constexpr QPoint kStartButtonPos(159, 145);
constexpr QRect kTransferGroupRect(8, 222, 393, 179);

QString Q(const std::string& text) {
  return QString::fromStdString(text);
}

// A label at its design place. A width of 0 sizes it to its caption (fixed
// captions); value labels get room for the longest text they show.
QLabel* MakeLabel(QWidget* parent, const char* name, const QString& text, int left, int top,
                  int width = 0) {
  auto* label = new QLabel(text, parent);
  label->setObjectName(name);
  if (width > 0) {
    label->setGeometry(left, top, width, 16);
  } else {
    label->move(left, top);
    label->adjustSize();
  }
  return label;
}

// Sets a value text, narrowing the font where the text would not fit the
// label's design width (the 23 characters of a serial number).
void SetFittedText(QLabel* label, const QString& text) {
  QFont font = label->parentWidget()->font();
  while (font.pointSize() > 6 && QFontMetrics(font).horizontalAdvance(text) > label->width()) {
    font.setPointSize(font.pointSize() - 1);
  }
  label->setFont(font);
  label->setText(text);
}

QFrame* MakeBevel(QWidget* parent, const char* name, int left, int top, int width) {
  auto* bevel = new QFrame(parent);
  bevel->setObjectName(name);
  bevel->setFrameStyle(QFrame::HLine | QFrame::Sunken);
  bevel->setGeometry(left, top, width, 2);
  return bevel;
}

QLabel* MakePicture(QWidget* parent, const char* name, const char* resource, int left, int top,
                    int width, int height) {
  auto* picture = new QLabel(parent);
  picture->setObjectName(name);
  picture->setGeometry(left, top, width, height);
  picture->setScaledContents(true);  // stretched
  picture->setPixmap(QPixmap::fromImage(LoadJpeg(resource)));
  picture->hide();
  return picture;
}

}  // namespace

// The progress bar as the downloads see it: minimum, maximum, position. A
// position beyond the range stops at its nearer end, as the control of the
// design does (a plain QProgressBar would ignore it and stay where it was).
class TCodeUpdaterMainDispForm::ProgressBarAdapter final : public platform::ProgressBar {
 public:
  explicit ProgressBarAdapter(QProgressBar* bar) : bar_(bar) {}
  void SetMin(int value) override { bar_->setMinimum(value); }
  void SetMax(int value) override { bar_->setMaximum(value); }
  void SetPosition(int value) override {
    bar_->setValue(std::clamp(value, bar_->minimum(), std::max(bar_->minimum(), bar_->maximum())));
  }
  int Min() const override { return bar_->minimum(); }
  int Max() const override { return bar_->maximum(); }
  int Position() const override { return bar_->value(); }

 private:
  QProgressBar* bar_;
};

TCodeUpdaterMainDispForm::TCodeUpdaterMainDispForm(MainFormOptions options)
    : QWidget(nullptr), m_Clock(options.delayScale) {
  setObjectName("TCodeUpdaterMainDispForm");
  setWindowTitle("Brisant Code Updater");
  setFont(DesignFont());
  resize(kDesignClientWidth, kDesignClientHeight);

  CreateControls();
  m_Progress = std::make_unique<ProgressBarAdapter>(m_ProgressBar);

  platform::PortDiscovery* discovery = options.discovery;
  if (discovery == nullptr) {
    m_OwnDiscovery = std::make_unique<platform::SystemPortDiscovery>();
    discovery = m_OwnDiscovery.get();
  }
  const platform::ResourceSource& resources =
      options.resources != nullptr ? *options.resources : m_NoResources;
  // The logic runs the start-up steps (link, name and release, attributes,
  // platform code, picture, automatic boot update, time-out timer, port
  // scan); the window then draws the whole state once.
  m_Updater = std::make_unique<app::CodeUpdater>(*this, *this, resources, options.programPath,
                                                 *discovery, std::move(options.updater));
  ConnectHandlers();
  TargetLabelsChanged();
  PortListChanged();
  UpgradeChoiceChanged();
  VersionPanelChanged();
  VersionPanelToggled();
  RunningStateChanged();
  ShowStatusText("Idle");

  // The version panel starts hidden: the window ends 5 pixels right of the
  // panel's left edge.
  SetOuterWidth(m_TargetVersionInfoGroupBox->x() + 5);

  // Centred on the desktop.
  if (QScreen* screen = QGuiApplication::primaryScreen()) {
    const QRect desk = screen->availableGeometry();
    move(desk.center() - QPoint(width() / 2, height() / 2));
  }
}

TCodeUpdaterMainDispForm::~TCodeUpdaterMainDispForm() {
  if (m_WaitCursor) QApplication::restoreOverrideCursor();
  // The logic's timers are QTimers of this window: end the logic first.
  m_Updater.reset();
}

void TCodeUpdaterMainDispForm::CreateControls() {
  // Menu, shown as flat buttons in the bar along the top edge.
  ControlBar1 = new QWidget(this);
  ControlBar1->setObjectName("ControlBar1");
  ControlBar1->setGeometry(0, 0, kDesignClientWidth, 24);
  MenuToolBar = new QMenuBar(ControlBar1);
  MenuToolBar->setObjectName("MenuToolBar");
  MenuToolBar->setNativeMenuBar(false);
  MenuToolBar->setGeometry(0, 0, kDesignClientWidth, 22);
  m_FileMenu = MenuToolBar->addMenu("&File");
  m_FileMenu->setObjectName("m_FileMenu");
  m_UpdateCOMPortsMenuItem = m_FileMenu->addAction("&Update COM Ports");
  m_UpdateCOMPortsMenuItem->setObjectName("m_UpdateCOMPortsMenuItem");
  m_FileExitMenuItem = m_FileMenu->addAction("E&xit");
  m_FileExitMenuItem->setObjectName("m_FileExitMenuItem");
  m_HelpMenu = MenuToolBar->addMenu("&Help");
  m_HelpMenu->setObjectName("m_HelpMenu");
  m_HelpAboutMenuItem = m_HelpMenu->addAction("&About");
  m_HelpAboutMenuItem->setObjectName("m_HelpAboutMenuItem");

  m_ToggleVersionInfoSpeedButton = new QToolButton(this);
  m_ToggleVersionInfoSpeedButton->setObjectName("m_ToggleVersionInfoSpeedButton");
  m_ToggleVersionInfoSpeedButton->setGeometry(377, 35, 23, 14);
  m_ToggleVersionInfoSpeedButton->setAutoRaise(true);
  m_ToggleVersionInfoSpeedButton->setText(">>");
  m_ToggleVersionInfoSpeedButton->setToolTip("Toggle Version Info");
  QFont bold = font();
  bold.setBold(true);
  m_ToggleVersionInfoSpeedButton->setFont(bold);

  m_NameLabel = MakeLabel(this, "m_NameLabel", "Name:", 8, 53, 365);

  // Intended Target Radio
  m_TargetInformationGroupBox = new QGroupBox("Intended Target Radio", this);
  m_TargetInformationGroupBox->setObjectName("m_TargetInformationGroupBox");
  m_TargetInformationGroupBox->setGeometry(8, 74, 393, 143);
  QWidget* g = m_TargetInformationGroupBox;
  Label1 = MakeLabel(g, "Label1", "Radio:", 8, 24);
  m_TargetRadioLabel = MakeLabel(g, "m_TargetRadioLabel", "", 56, 24, 160);
  Label6 = MakeLabel(g, "Label6", "Series:", 8, 48);
  m_TargetSeriesLabel = MakeLabel(g, "m_TargetSeriesLabel", "", 56, 48, 160);
  Label11 = MakeLabel(g, "Label11", "Release:", 8, 72);
  m_TargetReleaseLabel = MakeLabel(g, "m_TargetReleaseLabel", "", 56, 72, 160);
  Label10 = MakeLabel(g, "Label10", "Upgrade Type:", 8, 96);
  m_TargetUpgradeTypeLabel = MakeLabel(g, "m_TargetUpgradeTypeLabel", "", 88, 96, 130);
  PortableGPicture =
      MakePicture(g, "PortableGPicture", ":/pictures/PortableG.jpg", 224, 16, 145, 121);
  MobileXPicture = MakePicture(g, "MobileXPicture", ":/pictures/MobileX.jpg", 224, 16, 145, 113);
  MobileGPicture = MakePicture(g, "MobileGPicture", ":/pictures/MobileG.jpg", 224, 16, 145, 113);
  PortableXPicture =
      MakePicture(g, "PortableXPicture", ":/pictures/PortableX.jpg", 240, 16, 113, 113);

  // Transfer
  m_CodeUpdateGroupBox = new QGroupBox("Transfer", this);
  m_CodeUpdateGroupBox->setObjectName("m_CodeUpdateGroupBox");
  m_CodeUpdateGroupBox->setGeometry(kTransferGroupRect);
  g = m_CodeUpdateGroupBox;
  Label5 = MakeLabel(g, "Label5", "COM:", 8, 24);
  m_ComportComboBox = new TPortComboBox(g);
  m_ComportComboBox->setObjectName("m_ComportComboBox");
  m_ComportComboBox->setGeometry(56, 24, 121, 21);
  m_ComportComboBox->addItem("COM 1");  // the design's items, replaced by the first scan
  m_ComportComboBox->addItem("COM 2");
  m_UpgradeTypeLabel = MakeLabel(g, "m_UpgradeTypeLabel", "Upgrade Type:", 188, 24);
  m_UpgradeTypeLabel->hide();
  m_ApplicationRadioButton = new QRadioButton("Application", g);
  m_ApplicationRadioButton->setObjectName("m_ApplicationRadioButton");
  m_ApplicationRadioButton->setGeometry(268, 22, 113, 17);
  m_ApplicationRadioButton->setAutoExclusive(false);  // the click handlers keep them exclusive
  m_ApplicationRadioButton->setChecked(true);
  m_ApplicationRadioButton->hide();
  m_BootRadioButton = new QRadioButton("Boot", g);
  m_BootRadioButton->setObjectName("m_BootRadioButton");
  m_BootRadioButton->setGeometry(268, 40, 113, 17);
  m_BootRadioButton->setAutoExclusive(false);
  m_BootRadioButton->hide();
  Bevel1 = MakeBevel(g, "Bevel1", 8, 65, 377);
  Label4 = MakeLabel(g, "Label4", "Status:", 8, 84);
  m_StatusLabel = new TStatusLabel(g);
  m_StatusLabel->setObjectName("m_StatusLabel");
  m_StatusLabel->setText("Idle");
  m_StatusLabel->setGeometry(kStatusLabelRect);
  m_ProgressBar = new QProgressBar(g);
  m_ProgressBar->setObjectName("m_ProgressBar");
  m_ProgressBar->setGeometry(QRect(kProgressBarPos, QSize(372, 17)));
  m_ProgressBar->setRange(0, 100);
  m_ProgressBar->setValue(0);
  m_ProgressBar->setTextVisible(false);
  m_StartButton = new QPushButton("Start", g);
  m_StartButton->setObjectName("m_StartButton");
  m_StartButton->setGeometry(QRect(kStartButtonPos, QSize(75, 25)));

  // Target Radio Version Information
  m_TargetVersionInfoGroupBox = new QGroupBox("Target Radio Version Information", this);
  m_TargetVersionInfoGroupBox->setObjectName("m_TargetVersionInfoGroupBox");
  m_TargetVersionInfoGroupBox->setGeometry(412, 30, 273, 283);
  g = m_TargetVersionInfoGroupBox;
  struct Row {
    QLabel** heading;
    const char* headingName;
    const char* headingText;
    QLabel** value;
    const char* valueName;
  };
  const Row rows[] = {
      {&FileVersionHeadingLabel, "FileVersionHeadingLabel",
       "File Format Version:", &FileVersionLabel, "FileVersionLabel"},
      {&DSPVersionHeadingLabel, "DSPVersionHeadingLabel", "DSP Software Version:", &DSPVersionLabel,
       "DSPVersionLabel"},
      {&HWControllerVersionHeadingLabel, "HWControllerVersionHeadingLabel",
       "HC08 Software Version:", &HWControllerVersionLabel, "HWControllerVersionLabel"},
      {&HWRevisionHeadingLabel, "HWRevisionHeadingLabel", "Hardware Revision:", &HWRevisionLabel,
       "HWRevisionLabel"},
      {&SerialNumberHeadingLabel, "SerialNumberHeadingLabel",
       "Radio Serial Number:", &SerialNumberLabel, "SerialNumberLabel"},
      {&BootLoadVersionHeadingLabel, "BootLoadVersionHeadingLabel",
       "Boot Load Version:", &BootLoadVersionLabel, "BootLoadVersionLabel"},
      {&SEMVersionHeadingLabel, "SEMVersionHeadingLabel", "SEM Version:", &SEMVersionLabel,
       "SEMVersionLabel"},
  };
  int top = 20;
  for (const Row& row : rows) {
    *row.heading = MakeLabel(g, row.headingName, row.headingText, 8, top, 134);
    *row.value = MakeLabel(g, row.valueName, "", 144, top, 127);
    top += 24;
  }
  Bevel2 = MakeBevel(g, "Bevel2", 8, 192, 257);
  Label8 = MakeLabel(g, "Label8", "Corresponding ConfigDesk Version:", 8, 200);
  ConfigDeskVersionLabel = MakeLabel(g, "ConfigDeskVersionLabel", "", 200, 200, 69);
  Label9 = MakeLabel(g, "Label9", "Corresponding TuneDesk Version:", 8, 224);
  TuneDeskVersionLabel = MakeLabel(g, "TuneDeskVersionLabel", "", 200, 224, 69);
  m_RetrieveVersionInfoButton = new QPushButton("&Retrieve", g);
  m_RetrieveVersionInfoButton->setObjectName("m_RetrieveVersionInfoButton");
  m_RetrieveVersionInfoButton->setGeometry(99, 250, 75, 25);
}

void TCodeUpdaterMainDispForm::ConnectHandlers() {
  m_ComportComboBox->SetPresentQuery(
      [this](int row) { return m_Updater && m_Updater->PortItemAvailable(row); });
  connect(m_ToggleVersionInfoSpeedButton, &QToolButton::clicked, this,
          &TCodeUpdaterMainDispForm::m_ToggleVersionInfoSpeedButtonClick);
  connect(m_StartButton, &QPushButton::clicked, this,
          &TCodeUpdaterMainDispForm::m_StartButtonClick);
  connect(m_RetrieveVersionInfoButton, &QPushButton::clicked, this,
          &TCodeUpdaterMainDispForm::m_RetrieveVersionInfoButtonClick);
  connect(m_ComportComboBox, &QComboBox::activated, this,
          &TCodeUpdaterMainDispForm::m_ComportComboBoxChange);
  connect(m_UpdateCOMPortsMenuItem, &QAction::triggered, this,
          &TCodeUpdaterMainDispForm::m_UpdateCOMPortsMenuItemClick);
  connect(m_FileExitMenuItem, &QAction::triggered, this,
          &TCodeUpdaterMainDispForm::m_FileExitMenuItemClick);
  connect(m_HelpAboutMenuItem, &QAction::triggered, this,
          &TCodeUpdaterMainDispForm::m_HelpAboutMenuItemClick);
  connect(m_ApplicationRadioButton, &QRadioButton::clicked, this,
          &TCodeUpdaterMainDispForm::m_ApplicationRadioButtonClick);
  connect(m_BootRadioButton, &QRadioButton::clicked, this,
          &TCodeUpdaterMainDispForm::m_BootRadioButtonClick);
}

int TCodeUpdaterMainDispForm::FrameWidth() const {
  const QWindow* window = windowHandle();
  if (window == nullptr) return 0;
  const QMargins margins = window->frameMargins();
  return margins.left() + margins.right();
}

int TCodeUpdaterMainDispForm::OuterWidth() const {
  return width() + FrameWidth();
}

void TCodeUpdaterMainDispForm::SetOuterWidth(int outerWidth) {
  resize(outerWidth - FrameWidth(), height());
}

void TCodeUpdaterMainDispForm::showEvent(QShowEvent* e) {
  QWidget::showEvent(e);
  // The frame is known once the window is on the screen: the start-up width
  // (panel hidden) is an outer width.
  if (!m_Shown && !m_Updater->m_VersionPanelShown) {
    SetOuterWidth(m_TargetVersionInfoGroupBox->x() + 5);
  }
  m_Shown = true;
}

// ---- Host ----

void TCodeUpdaterMainDispForm::ShowStatusText(const std::string& text) {
  m_StatusLabel->setText(Q(text));
  LayoutStatusArea();
}

void TCodeUpdaterMainDispForm::LayoutStatusArea() {
  const QString text = m_StatusLabel->text();
  const QFont font = m_StatusLabel->font();
  int extra = 0;
  if (TStatusLabel::NeedsWrapping(text, font, kStatusLabelRect.width())) {
    extra = std::max(0, TStatusLabel::WrappedHeight(text, font, kStatusLabelRect.width()) -
                            kStatusLabelRect.height());
    m_StatusLabel->setToolTip(text);
  } else if (text == "Idle") {
    m_StatusLabel->setToolTip(m_LastRunTip);
  } else {
    m_StatusLabel->setToolTip(QString());
  }
  m_StatusLabel->setGeometry(kStatusLabelRect.adjusted(0, 0, 0, extra));
  m_ProgressBar->move(kProgressBarPos + QPoint(0, extra));
  m_StartButton->move(kStartButtonPos + QPoint(0, extra));
  m_CodeUpdateGroupBox->setGeometry(kTransferGroupRect.adjusted(0, 0, 0, extra));
  if (height() != kDesignClientHeight + extra) resize(width(), kDesignClientHeight + extra);
}

platform::ProgressBar& TCodeUpdaterMainDispForm::Progress() {
  return *m_Progress;
}

platform::MsgResult TCodeUpdaterMainDispForm::ShowMessage(const std::string& text,
                                                          const std::string& caption,
                                                          platform::MsgIcon icon,
                                                          platform::MsgButtons buttons) {
  QMessageBox::Icon boxIcon = QMessageBox::Critical;
  if (icon == platform::MsgIcon::Information) boxIcon = QMessageBox::Information;
  if (icon == platform::MsgIcon::Question) boxIcon = QMessageBox::Question;
  const auto boxButtons = buttons == platform::MsgButtons::YesNo
                              ? QMessageBox::Yes | QMessageBox::No
                              : QMessageBox::StandardButtons(QMessageBox::Ok);
  QMessageBox box(boxIcon, Q(caption), Q(text), boxButtons, this);
  box.setObjectName("MessageBox");
  const int answer = box.exec();
  if (buttons == platform::MsgButtons::Ok) return platform::MsgResult::Ok;
  return answer == QMessageBox::Yes ? platform::MsgResult::Yes : platform::MsgResult::No;
}

bool TCodeUpdaterMainDispForm::AskPassword(platform::PasswordPurpose, std::string& text) {
  TCodeDownPassDispDlg dialog(this);
  dialog.exec();
  text = dialog.m_PasswordEdit->text().toStdString();
  return dialog.m_Confirmed;
}

std::unique_ptr<platform::Timer> TCodeUpdaterMainDispForm::CreateTimer(
    platform::TimerHandler handler) {
  return std::make_unique<QtHostTimer>(m_Clock, std::move(handler));
}

void TCodeUpdaterMainDispForm::Pump() {
  QCoreApplication::processEvents(QEventLoop::AllEvents);
}

// ---- View ----

void TCodeUpdaterMainDispForm::RunningStateChanged() {
  if (!m_Updater) return;  // still inside the logic's start-up; drawn after it
  const app::CodeUpdater& u = *m_Updater;
  // The run has ended: an "Idle" status line says in its tooltip how.
  const QString tip = u.m_RunState == app::RunState::Idle && !u.RunResultText().empty()
                          ? "Last run: " + Q(u.RunResultText())
                          : QString();
  if (tip != m_LastRunTip) {
    m_LastRunTip = tip;
    LayoutStatusArea();
  }
  m_StartButton->setText(Q(u.m_StartButtonCaption));
  m_StartButton->setEnabled(u.m_StartButtonEnabled);
  m_ComportComboBox->setEnabled(u.m_ComportComboBoxEnabled);
  m_RetrieveVersionInfoButton->setEnabled(u.m_RetrieveVersionInfoButtonEnabled);
  m_ComportComboBox->update();
}

void TCodeUpdaterMainDispForm::PortListChanged() {
  if (!m_Updater) return;  // still inside the logic's start-up; drawn after it
  const app::CodeUpdater& u = *m_Updater;
  const QSignalBlocker block(m_ComportComboBox);
  m_ComportComboBox->clear();
  for (const std::string& item : u.m_PortItems) m_ComportComboBox->addItem(Q(item));
  m_ComportComboBox->setCurrentIndex(u.m_PortItemIndex);
  m_ComportComboBox->update();
}

void TCodeUpdaterMainDispForm::PortSelectionChanged() {
  if (!m_Updater) return;  // still inside the logic's start-up; drawn after it
  const QSignalBlocker block(m_ComportComboBox);
  m_ComportComboBox->setCurrentIndex(m_Updater->m_PortItemIndex);
  m_ComportComboBox->update();
}

void TCodeUpdaterMainDispForm::VersionPanelToggled() {
  if (!m_Updater) return;  // still inside the logic's start-up; drawn after it
  m_ToggleVersionInfoSpeedButton->setText(Q(m_Updater->m_ToggleVersionInfoCaption));
  // Outside the window when hidden; hidden as well, so that no frame manager
  // shows a sliver of it at the right edge.
  m_TargetVersionInfoGroupBox->setVisible(m_Updater->m_VersionPanelShown);
}

void TCodeUpdaterMainDispForm::VersionPanelChanged() {
  if (!m_Updater) return;  // still inside the logic's start-up; drawn after it
  const app::VersionPanelTexts& v = m_Updater->m_VersionPanel;
  // Cleared after an update changed the radio's code: the tooltip says why.
  m_TargetVersionInfoGroupBox->setToolTip(
      m_Updater->m_VersionPanelOutOfDate
          ? "The radio's code was updated: press Retrieve to read its versions again."
          : QString());
  SetFittedText(FileVersionLabel, Q(v.FileVersionLabel));
  SetFittedText(DSPVersionLabel, Q(v.DSPVersionLabel));
  HWControllerVersionHeadingLabel->setText(Q(v.HWControllerVersionHeadingLabel));
  SetFittedText(HWControllerVersionLabel, Q(v.HWControllerVersionLabel));
  SetFittedText(HWRevisionLabel, Q(v.HWRevisionLabel));
  SetFittedText(SerialNumberLabel, Q(v.SerialNumberLabel));
  SetFittedText(BootLoadVersionLabel, Q(v.BootLoadVersionLabel));
  SetFittedText(SEMVersionLabel, Q(v.SEMVersionLabel));
}

void TCodeUpdaterMainDispForm::TargetLabelsChanged() {
  if (!m_Updater) return;  // still inside the logic's start-up; drawn after it
  const app::CodeUpdater& u = *m_Updater;
  const app::IntendedTargetTexts& t = u.m_Target;
  m_NameLabel->setText(Q(t.m_NameLabel));
  m_TargetReleaseLabel->setText(Q(t.m_TargetReleaseLabel));
  m_TargetRadioLabel->setText(Q(t.m_TargetRadioLabel));
  m_TargetSeriesLabel->setText(Q(t.m_TargetSeriesLabel));
  m_TargetUpgradeTypeLabel->setText(Q(t.m_TargetUpgradeTypeLabel));
  ConfigDeskVersionLabel->setText(Q(t.ConfigDeskVersionLabel));
  TuneDeskVersionLabel->setText(Q(t.TuneDeskVersionLabel));
  PortableXPicture->setVisible(t.picture == app::RadioPicture::PortableX);
  PortableGPicture->setVisible(t.picture == app::RadioPicture::PortableG);
  MobileXPicture->setVisible(t.picture == app::RadioPicture::MobileX);
  MobileGPicture->setVisible(t.picture == app::RadioPicture::MobileG);
  m_UpgradeTypeLabel->setVisible(u.m_UpgradeChoiceVisible);
  m_ApplicationRadioButton->setVisible(u.m_UpgradeChoiceVisible);
  m_BootRadioButton->setVisible(u.m_UpgradeChoiceVisible);
}

void TCodeUpdaterMainDispForm::UpgradeChoiceChanged() {
  if (!m_Updater) return;  // still inside the logic's start-up; drawn after it
  m_ApplicationRadioButton->setChecked(m_Updater->m_ApplicationRadioChecked);
  m_BootRadioButton->setChecked(m_Updater->m_BootRadioChecked);
}

void TCodeUpdaterMainDispForm::FocusRetrieveButton() {
  m_RetrieveVersionInfoButton->setFocus();
}

void TCodeUpdaterMainDispForm::SetWaitCursor(bool on) {
  if (on == m_WaitCursor) return;
  m_WaitCursor = on;
  if (on) {
    QApplication::setOverrideCursor(Qt::WaitCursor);
  } else {
    QApplication::restoreOverrideCursor();
  }
}

void TCodeUpdaterMainDispForm::ShowAboutBox() {
  TAboutDialog about(this);
  about.exec();
}

// ---- Handlers ----

void TCodeUpdaterMainDispForm::m_ToggleVersionInfoSpeedButtonClick() {
  const int panelLeft = m_TargetVersionInfoGroupBox->x();
  const int panelWidth = m_TargetVersionInfoGroupBox->width();
  if (m_Updater->m_VersionPanelShown) {
    SetOuterWidth(panelLeft + 5);
  } else {
    SetOuterWidth(panelWidth + OuterWidth() + 5);
  }
  m_Updater->m_ToggleVersionInfoSpeedButtonClick();
  VersionPanelToggled();
}

void TCodeUpdaterMainDispForm::m_StartButtonClick() {
  m_Updater->m_StartButtonClick();
  CloseIfAsked();
}

void TCodeUpdaterMainDispForm::m_RetrieveVersionInfoButtonClick() {
  m_Updater->m_RetrieveVersionInfoButtonClick();
  CloseIfAsked();
}

void TCodeUpdaterMainDispForm::CloseIfAsked() {
  // Only the outermost handler returns with the updater idle.
  if (m_CloseWhenIdle && !m_Updater->Busy()) {
    m_CloseWhenIdle = false;
    close();
  }
}

void TCodeUpdaterMainDispForm::m_ComportComboBoxChange(int index) {
  m_Updater->m_ComportComboBoxChange(index);
  PortSelectionChanged();
}

void TCodeUpdaterMainDispForm::m_UpdateCOMPortsMenuItemClick() {
  m_Updater->m_UpdateCOMPortsMenuItemClick();
}

void TCodeUpdaterMainDispForm::m_FileExitMenuItemClick() {
  close();
}

void TCodeUpdaterMainDispForm::m_HelpAboutMenuItemClick() {
  m_Updater->m_HelpAboutMenuItemClick();
}

void TCodeUpdaterMainDispForm::m_ApplicationRadioButtonClick() {
  m_Updater->m_ApplicationRadioButtonClick();
  UpgradeChoiceChanged();
}

void TCodeUpdaterMainDispForm::m_BootRadioButtonClick() {
  m_Updater->m_BootRadioButtonClick();
  UpgradeChoiceChanged();
}

void TCodeUpdaterMainDispForm::closeEvent(QCloseEvent* e) {
  // FormCloseQuery: during an update only after the user's Yes, which also
  // stops the update.
  if (!m_Updater->FormCloseQuery()) {
    e->ignore();
    return;
  }
  m_QuitRequested = true;
  if (m_Updater->Busy()) {
    // The run is stopping: the window shows it until the run has unwound
    // (the fixed waits end early now), then closes.
    m_CloseWhenIdle = true;
    e->ignore();
    return;
  }
  e->accept();
}

}  // namespace bcu::qt
