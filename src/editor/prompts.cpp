#include "editor/prompts.h"

#include <QApplication>
#include <QFileDialog>
#include <QInputDialog>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>

#include "editor/guard.h"

namespace editor {

namespace {

QString Q(const std::string &s) { return QString::fromStdString(s); }

QString AppTitle() { return QApplication::applicationName(); }

// Message texts use CR LF line breaks; Qt wants plain LF.
QString DisplayText(const std::string &s) {
  return Q(s).replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
}

class QtPrompts final : public Prompts {
public:
  std::string PromptFileName(const std::string &mask, const std::string &title) override {
    const FileMask m = ParseFileMask(mask);
    QFileDialog dialog(QApplication::activeWindow(), Q(title));
    dialog.setAcceptMode(QFileDialog::AcceptOpen);
    dialog.setFileMode(QFileDialog::AnyFile);
    if (!m.Directory.empty())
      dialog.setDirectory(Q(m.Directory));
    dialog.setNameFilter(Q(m.Filter));
    dialog.setDefaultSuffix(Q(m.DefaultSuffix));
    if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty())
      return {};
    return dialog.selectedFiles().front().toStdString();
  }

  bool InputQuery(const std::string &caption, const std::string &prompt, std::string &value,
                  bool masked) override {
    bool ok = false;
    const QString text =
        QInputDialog::getText(QApplication::activeWindow(), Q(caption), Q(prompt),
                              masked ? QLineEdit::Password : QLineEdit::Normal, Q(value), &ok);
    if (ok)
      value = text.toStdString();
    return ok;
  }

  Answer Confirm(const std::string &title, const std::string &text) override {
    QMessageBox box(QMessageBox::Question, Q(title), DisplayText(text), QMessageBox::NoButton,
                    QApplication::activeWindow());
    QPushButton *yes = box.addButton(QStringLiteral("&Yes"), QMessageBox::YesRole);
    QPushButton *no = box.addButton(QStringLiteral("&No"), QMessageBox::NoRole);
    QPushButton *cancel = box.addButton(QStringLiteral("Cancel"), QMessageBox::RejectRole);
    box.setDefaultButton(yes);
    box.setEscapeButton(cancel);
    box.exec();
    if (box.clickedButton() == yes)
      return Answer::Yes;
    if (box.clickedButton() == no)
      return Answer::No;
    return Answer::Cancel;
  }

  void ShowMessage(const std::string &text) override {
    QMessageBox box(QMessageBox::NoIcon, AppTitle(), DisplayText(text), QMessageBox::Ok,
                    QApplication::activeWindow());
    box.exec();
  }

  void ShowError(const std::string &text) override {
    QMessageBox box(QMessageBox::Critical, AppTitle(), DisplayText(text), QMessageBox::Ok,
                    QApplication::activeWindow());
    box.exec();
  }
};

QtPrompts qtPrompts;
Prompts *installed = nullptr;

} // namespace

Prompts &CurrentPrompts() { return installed ? *installed : qtPrompts; }

void SetPrompts(Prompts *prompts) { installed = prompts; }

std::string PromptFileName(const std::string &mask, const std::string &title) {
  return CurrentPrompts().PromptFileName(mask, title);
}

FileMask ParseFileMask(const std::string &mask) {
  FileMask m;
  // A filter string names its patterns itself: "Spreadsheets (*.xls *.csv)".
  const auto open = mask.find('(');
  if (open != std::string::npos && mask.back() == ')') {
    m.Filter = mask;
    const auto dot = mask.find('.', open);
    const auto end = mask.find_first_of(" )", dot);
    if (dot != std::string::npos && end != std::string::npos)
      m.DefaultSuffix = mask.substr(dot + 1, end - dot - 1);
    return m;
  }
  std::string pattern = mask;
  const auto slash = mask.find_last_of("/\\");
  if (slash != std::string::npos) {
    m.Directory = mask.substr(0, slash);
    pattern = mask.substr(slash + 1);
  }
  const auto dot = pattern.find('.');
  const std::string ext = dot == std::string::npos ? std::string() : pattern.substr(dot);
  m.Filter = "*" + ext + " (*" + ext + ")";
  m.DefaultSuffix = ext.empty() ? std::string() : ext.substr(1);
  return m;
}

std::string ErrorDisplayText(const std::string &message) {
  if (!message.empty() && message.back() == '.')
    return message;
  return message + ".";
}

} // namespace editor
