#pragma once
// What the main window redraws when the updater's logic changes the state it
// shows. The logic (app/CodeUpdater.h) keeps the state; the window reads it
// from there inside these callbacks. Every callback has an empty default, so a
// host without a screen (the command line, the tests) overrides only what it
// needs.
namespace bcu::app {

class CodeUpdaterView {
 public:
  virtual ~CodeUpdaterView() = default;

  // Start button caption, port list enabled, Retrieve enabled.
  virtual void RunningStateChanged() {}
  // The 64 port items, their present flags and the selection were rebuilt.
  virtual void PortListChanged() {}
  // Only the selected item changed.
  virtual void PortSelectionChanged() {}
  // The version panel was shown or hidden (m_VersionPanelShown).
  virtual void VersionPanelToggled() {}
  // The panel's texts or the controller heading changed.
  virtual void VersionPanelChanged() {}
  // The "Intended Target Radio" group: name, release, family, series, upgrade
  // type, tool versions, the picture, and the Application/Boot choice.
  virtual void TargetLabelsChanged() {}
  // Application/Boot radio buttons checked state.
  virtual void UpgradeChoiceChanged() {}
  // The keyboard focus moves to the Retrieve button.
  virtual void FocusRetrieveButton() {}
  // Hourglass cursor on (true) or back to normal (false).
  virtual void SetWaitCursor(bool /*on*/) {}
  // Help, About while idle: the window shows its about box modally.
  virtual void ShowAboutBox() {}
};

}  // namespace bcu::app
