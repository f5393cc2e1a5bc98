#pragma once

// Answers the real modal dialogs of a command, one expected dialog after another: a timer polls
// QApplication::activeModalWidget() while the dialog's own event loop runs. Bounded, so a dialog
// that is missed or unexpected fails the test instead of blocking it.

#include <QApplication>
#include <QElapsedTimer>
#include <QFileDialog>
#include <QInputDialog>
#include <QLineEdit>
#include <QMessageBox>
#include <QProgressDialog>
#include <QTest>
#include <QTimer>

#include <gtest/gtest.h>

#include <deque>
#include <functional>
#include <string>
#include <vector>

namespace testing_support {

class DialogDriver {
public:
  DialogDriver() {
    FTimer.setInterval(10);
    QObject::connect(&FTimer, &QTimer::timeout, [this] { Poll(); });
  }
  ~DialogDriver() { EXPECT_TRUE(FSteps.empty()) << FSteps.size() << " dialogs never came, first: " << Next(); }

  // A file dialog with this title: types the path and presses Return.
  void FileDialog(const std::string &title, const std::string &path) {
    Expect("file dialog " + title, [=](QWidget *w) {
      auto *dialog = qobject_cast<QFileDialog *>(w);
      if (!dialog || dialog->windowTitle().toStdString() != title)
        return false;
      auto *edit = dialog->findChild<QLineEdit *>(QStringLiteral("fileNameEdit"));
      edit->setText(QString::fromStdString(path));
      QTest::keyClick(edit, Qt::Key_Return);
      return true;
    });
  }
  // A one-line input: types the text and accepts, or cancels (answer nullptr). holdMs keeps the
  // dialog open that long first, as a slow user would.
  void Input(const char *answer, int holdMs = 0) {
    Expect(std::string("input ") + (answer ? answer : "(cancel)"), [=](QWidget *w) {
      auto *dialog = qobject_cast<QInputDialog *>(w);
      if (!dialog)
        return false;
      if (answer) {
        dialog->setTextValue(QString::fromUtf8(answer));
        dialog->accept();
      } else {
        dialog->reject();
      }
      return true;
    }, holdMs);
  }
  // A message box with exactly this text: presses its OK (Return).
  void Message(const std::string &text) {
    Expect("message " + text, [=](QWidget *w) {
      auto *box = qobject_cast<QMessageBox *>(w);
      if (!box)
        return false;
      EXPECT_EQ(box->text().toStdString(), text);
      box->accept();
      return true;
    });
  }

  void Start() {
    FClock.start();
    FTimer.start();
  }
  // Seen while a prompt was open: a progress box on top of it.
  const std::vector<std::string> &Overlaps() const { return FOverlaps; }

private:
  struct Step {
    std::string Name;
    std::function<bool(QWidget *)> Act; // false: not the expected dialog
    int HoldMs = 0;
  };

  void Expect(std::string name, std::function<bool(QWidget *)> act, int holdMs = 0) {
    FSteps.push_back({std::move(name), std::move(act), holdMs});
  }
  std::string Next() const { return FSteps.empty() ? std::string() : FSteps.front().Name; }

  void Poll() {
    QWidget *modal = QApplication::activeModalWidget();
    QWidget *prompt = nullptr;
    bool progress = false;
    for (QWidget *top : QApplication::topLevelWidgets()) {
      if (!top->isVisible())
        continue;
      if (qobject_cast<QProgressDialog *>(top))
        progress = true;
      else if (qobject_cast<QFileDialog *>(top) || qobject_cast<QInputDialog *>(top) || qobject_cast<QMessageBox *>(top))
        prompt = top;
    }
    if (prompt && progress)
      FOverlaps.push_back(prompt->windowTitle().toStdString());
    if (FClock.elapsed() > 20000) {
      ADD_FAILURE() << "dialogs timed out waiting for " << Next();
      FSteps.clear();
      if (modal)
        modal->close();
      FTimer.stop();
      return;
    }
    if (!modal || qobject_cast<QProgressDialog *>(modal) || !modal->isVisible() || FSteps.empty())
      return;
    if (modal != FSeen) {
      FSeen = modal;
      FSeenClock.start();
    }
    if (FSeenClock.elapsed() < FSteps.front().HoldMs)
      return;
    Step step = FSteps.front();
    FSteps.pop_front();
    FSeen = nullptr;
    if (!step.Act(modal)) {
      ADD_FAILURE() << "expected " << step.Name << ", got " << modal->metaObject()->className() << " "
                    << modal->windowTitle().toStdString();
      FSteps.clear();
      modal->close();
    }
  }

  QTimer FTimer;
  QElapsedTimer FClock, FSeenClock;
  std::deque<Step> FSteps;
  QWidget *FSeen = nullptr;
  std::vector<std::string> FOverlaps;
};

} // namespace testing_support
