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

namespace editor {

namespace {

// The progress dialog appears only when the work lasts long enough to need it.
class ImportProgress {
public:
  explicit ImportProgress(QWidget *parent) : FDialog("Reading workbook...", "Cancel", 0, 100, parent) {
    FDialog.setWindowTitle("Excel Import");
    // Application-modal: nothing else may close the window or touch its document while this runs.
    FDialog.setWindowModality(Qt::ApplicationModal);
    FDialog.setMinimumDuration(500);
    FDialog.setAutoReset(false);
  }
  // Reports a percentage; false when the user cancelled.
  bool Step(int percent, const char *label) {
    if (FDialog.labelText() != label)
      FDialog.setLabelText(label);
    FDialog.setValue(percent);
    // Until the dialog shows (and so blocks the other windows), the user's input waits.
    QApplication::processEvents(FDialog.isVisible() ? QEventLoop::AllEvents
                                                    : QEventLoop::ExcludeUserInputEvents);
    return !FDialog.wasCanceled();
  }

private:
  QProgressDialog FDialog;
};

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
  const std::string templatePath = PromptFileName("*.xml");
  const std::string bookPath = PromptFileName(workbooks::SpreadsheetFilter);
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
  bool cancelled = false;
  xls::TXLSWorkbook workbook;
  workbook.Filename = common::Utf8ToUtf16(bookPath);
  workbook.OnPassword = [&](std::u16string &password) {
    std::string answer;
    if (CurrentPrompts().InputQuery("Excel Import", "Password of " + bookPath, answer, true))
      password = common::Utf8ToUtf16(answer);
    else
      cancelled = true; // the reader then stops for want of a password
  };
  workbook.OnProgress = [&](int percent) {
    if (!progress.Step(percent, "Reading workbook...")) {
      cancelled = true;
      throw common::EAbort();
    }
  };
  try {
    workbooks::ReadWorkbook(workbook, delimiter);
  } catch (const common::Exception &) {
    if (cancelled)
      throw common::EAbort(); // Cancel at the password or the progress: nothing to report
    throw;
  }

  // The whole import is one step; a cancel takes back every copy.
  TExcelImport import(workbook.SheetByIndex(0));
  xmlmodel::TOrbXMLItem *target = current->Item;
  window.RunEdit("Excel Import", [&](xmlmodel::TEdit &edit) {
    const int imported = import.ImportRows(
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
}

} // namespace editor
