#pragma once
// Drives the window from inside its own waits. An update runs inside the
// Start button's click handler and turns the event loop itself, so a test
// cannot act between its steps from the outside: it lists steps (a condition
// and an action) that a repeating timer runs in order, from whatever event
// loop is turning, modal dialogs included.
//
// A message box or dialog that no step is waiting for is recorded and closed, so a
// surprise never hangs a test.
#include <QApplication>
#include <QDialog>
#include <QMessageBox>
#include <QObject>
#include <QStringList>
#include <QTimer>
#include <functional>
#include <vector>

namespace bcu::qt::test {

class ModalScript : public QObject {
 public:
  ModalScript() {
    timer_.setInterval(2);
    connect(&timer_, &QTimer::timeout, this, &ModalScript::Tick);
    timer_.start();
  }

  // Adds a step: `act` runs once, the first time `ready` holds after the
  // steps before it have run.
  void Then(QString name, std::function<bool()> ready, std::function<void()> act) {
    steps_.push_back({std::move(name), std::move(ready), std::move(act)});
  }

  // Stops watching (before another script takes over).
  void Stop() { timer_.stop(); }

  bool Finished() const { return next_ == steps_.size(); }
  QString Pending() const { return Finished() ? QString() : steps_[next_].name; }
  // Texts of message boxes that no step expected.
  QStringList unexpected;

 private:
  struct Step {
    QString name;
    std::function<bool()> ready;
    std::function<void()> act;
  };

  void Tick() {
    if (!Finished() && steps_[next_].ready()) {
      // The action runs from a timer of its own: it may open a modal loop,
      // and a timer is never fired again while its own handler runs.
      QTimer::singleShot(0, this, steps_[next_++].act);
      return;
    }
    if (auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget())) {
      unexpected << box->windowTitle() + ": " + box->text();
      box->done(QMessageBox::No);
    } else if (auto* dialog = qobject_cast<QDialog*>(QApplication::activeModalWidget())) {
      unexpected << dialog->windowTitle();
      dialog->reject();
    }
  }

  QTimer timer_;
  std::vector<Step> steps_;
  std::size_t next_ = 0;
};

}  // namespace bcu::qt::test
