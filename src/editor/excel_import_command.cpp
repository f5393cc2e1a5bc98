#include "editor/excel_import_command.h"

#include "common/exception.h"
#include "common/text.h"
#include "editor/editor_window.h"
#include "editor/excel_import.h"
#include "editor/prompts.h"
#include "editor/tree_item.h"
#include "workbooks/open_workbook.h"
#include "xls/workbook.h"
#include "xmlmodel/edits.h"
#include "xmlmodel/xml_obj.h"

#include <QApplication>
#include <QProgressDialog>

#include <memory>
#include <string_view>

namespace editor {

namespace {

// The progress box of the import. It exists only while the workbook is read or rows are added,
// never while a prompt of the import is open: a modal box over the prompt would take its input.
class ImportProgress {
public:
  explicit ImportProgress(QWidget *parent) : FParent(parent) {}
  // Reports a percentage; false when the user cancelled.
  bool Step(int percent, const char *label) {
    if (!FDialog)
      Open();
    if (FDialog->labelText() != label)
      FDialog->setLabelText(label);
    FDialog->setValue(percent);
    // Until the dialog shows (and so blocks the other windows), the user's input waits.
    QApplication::processEvents(FDialog->isVisible() ? QEventLoop::AllEvents
                                                     : QEventLoop::ExcludeUserInputEvents);
    return !FDialog->wasCanceled();
  }
  // Before a prompt: the box goes, and the next step opens it again with its delay.
  void Pause() { FDialog.reset(); }

private:
  void Open() {
    FDialog = std::make_unique<QProgressDialog>("Reading workbook...", "Cancel", 0, 100, FParent);
    FDialog->setWindowTitle("Excel Import");
    // Application-modal: nothing else may close the window or touch its document while this runs.
    FDialog->setWindowModality(Qt::ApplicationModal);
    // It appears only when the work lasts long enough to need it.
    FDialog->setMinimumDuration(500);
    FDialog->setAutoReset(false);
  }

  QWidget *FParent;
  std::unique_ptr<QProgressDialog> FDialog;
};

// The reader's verdict on the password it was given (none, or a wrong one).
bool IsWrongPassword(const std::exception &e) {
  const std::string_view message = e.what();
  return message.ends_with("Invalid password") || message.ends_with("Password is missing.");
}

// Reads the workbook, asking for its password when it is encrypted, and again after a wrong
// one. A Cancel at the password or at the progress ends the import silently.
std::unique_ptr<xls::TXLSWorkbook> ReadWorkbook(const std::string &bookPath, char delimiter,
                                                ImportProgress &progress) {
  for (bool wrongPassword = false;; wrongPassword = true) {
    auto workbook = std::make_unique<xls::TXLSWorkbook>();
    workbook->Filename = common::Utf8ToUtf16(bookPath);
    bool asked = false;
    bool cancelled = false;
    workbook->OnPassword = [&](std::u16string &password) {
      progress.Pause();
      asked = true;
      if (wrongPassword)
        CurrentPrompts().ShowError("The password is not correct.");
      std::string answer;
      if (CurrentPrompts().InputQuery("Excel Import", "Password of " + bookPath, answer, true))
        password = common::Utf8ToUtf16(answer);
      else
        cancelled = true; // the reader then stops for want of a password
    };
    workbook->OnProgress = [&](int percent) {
      if (!progress.Step(percent, "Reading workbook...")) {
        cancelled = true;
        throw common::EAbort();
      }
    };
    try {
      workbooks::ReadWorkbook(*workbook, delimiter);
      return workbook;
    } catch (const common::Exception &e) {
      if (cancelled)
        throw common::EAbort(); // nothing to report
      if (!asked || !IsWrongPassword(e))
        throw;
    }
  }
}

// Delimited text whose first records split as well by another delimiter: the user chooses.
char AskDelimiter(const std::string &bookPath) {
  if (bookPath.empty() || workbooks::DetectFormat(bookPath) != workbooks::TBookFormat::Text)
    return 0;
  const csv::TDelimiterGuess guess = workbooks::GuessFileDelimiter(bookPath);
  if (guess.Sure)
    return guess.Delimiter;
  std::string answer = guess.Delimiter == '\t' ? "tab" : guess.Delimiter == ';' ? "semicolon" : "comma";
  if (!CurrentPrompts().InputQuery("Excel Import", "Delimiter of " + bookPath + " (comma, semicolon or tab)", answer))
    throw common::EAbort();
  const char delimiter = workbooks::DelimiterFromName(answer);
  if (!delimiter)
    throw common::Exception("Unknown delimiter \"" + answer + "\": use comma, semicolon or tab");
  return delimiter;
}

} // namespace

void RunExcelImport(TfrmXMLMain &window) {
  const std::shared_ptr<TOrbXMLTreeItem> current = window.CurrentItem();
  if (!current)
    return;
  if (current->IsNew)
    throw common::Exception("Apply the new node first");
  // However the import ends, the keyboard goes back to the tree once its dialogs are gone.
  struct FocusTree {
    TfrmXMLMain &Window;
    ~FocusTree() {
      Window.activateWindow();
      Window.eTree->setFocus();
    }
  } focusTree{window};
  const std::string templatePath = PromptFileName("*.xml", "Choose the template");
  const std::string bookPath = PromptFileName(workbooks::SpreadsheetFilter, "Choose the workbook");
  if (templatePath.empty())
    return;

  xmlmodel::TOrbMainXML templateDoc;
  templateDoc.FileName = templatePath;
  templateDoc.Load();
  if (!templateDoc.RootItem()->HasNode())
    throw common::Exception("Cannot load the template " + templatePath + ": " +
                            templateDoc.XMLDoc().LastParseError().Reason);

  const char delimiter = AskDelimiter(bookPath);
  ImportProgress progress(&window);
  const std::unique_ptr<xls::TXLSWorkbook> workbook = ReadWorkbook(bookPath, delimiter, progress);

  // The whole import is one step; a cancel takes back every copy.
  TExcelImport import(workbook->SheetByIndex(0));
  xmlmodel::TOrbXMLItem *target = current->Item;
  int imported = 0;
  window.RunEdit("Excel Import", [&](xmlmodel::TEdit &edit) {
    imported = import.ImportRows(
        *target, *templateDoc.RootItem(),
        [&](int row, int lastRow) {
          return row % 256 != 0 || progress.Step(row * 100 / lastRow, "Importing rows...");
        },
        &edit);
    if (imported < 0)
      throw common::EAbort();
    edit.CurrentAfter = target;
  });
  window.MakeCurrent(target);
  emit window.StatusMessage(QStringLiteral("Imported %1 rows from %2").arg(imported).arg(QString::fromStdString(bookPath)));
}

} // namespace editor
