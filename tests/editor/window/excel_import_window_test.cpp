// Excel Import through the real editor window: the prompts in their order, the password of an
// encrypted workbook (through the real dialogs too), and the same result as the xlsimport tool.

#include <QDialogButtonBox>
#include <QFileDialog>
#include <QLineEdit>
#include <QPushButton>
#include <QSignalSpy>
#include <QTimer>
#include <QTreeWidget>

#include <gtest/gtest.h>

#include <cstdlib>

#include "dialog_driver.h"
#include "import_book.h"
#include "window_support.h"

using namespace testing_support;
using editor::Prompts;
using import_test::Sheet;

namespace {

const char kTemplate[] = "<order status=\"new\">\n  <Customer/>\n  <Total/>\n</order>\n";

Sheet OrdersSheet() {
  return Sheet()
      .Label(0, 0, u"Customer")
      .Label(0, 1, u"Total")
      .Label(1, 0, u"Ann")
      .Number(1, 1, 12.5)
      .Label(2, 0, u"Bob")
      .Number(2, 1, 7);
}

class ExcelImportWindow : public ::testing::Test {
protected:
  FakePrompts prompts;
  Scratch scratch;
  std::string tmpl = scratch.Path("template.xml");
  std::string book = scratch.Path("book.xls");

  void SetUp() override { WriteFile(tmpl, kTemplate); }

  // A window on a fresh copy of doc.xml with its root node selected.
  std::unique_ptr<editor::TfrmXMLMain> OpenWithRootSelected(const std::string &path) {
    WriteFile(path, "<orders>\n  <order status=\"old\"/>\n</orders>\n");
    auto w = OpenWindow(path);
    Select(*w, Root(*w));
    return w;
  }
  void Import(editor::TfrmXMLMain &w) {
    prompts.FileNames = {tmpl, book};
    w.ActExcelImport->trigger();
  }
};

TEST_F(ExcelImportWindow, ImportsUnderTheCurrentNodeLikeTheTool) {
  import_test::WriteFile(book, import_test::MakeCompoundFile(OrdersSheet().Stream()));
  const std::string path = scratch.Path("doc.xml");
  auto w = OpenWithRootSelected(path);
  Import(*w);
  EXPECT_EQ(prompts.Masks,
            (std::vector<std::string>{"*.xml", "Spreadsheets (*.xls *.xlsx *.xlsm *.ods *.csv *.tsv *.txt)"}));
  EXPECT_TRUE(prompts.Errors.empty());
  // The root was re-created with a caption counting the new children.
  EXPECT_EQ(Caption(Root(*w)), "orders (3/7)");
  w->actSaveExecute();

  const std::string toolOut = scratch.Path("tool.xml");
  const std::string into = scratch.Path("into.xml");
  WriteFile(into, "<orders>\n  <order status=\"old\"/>\n</orders>\n");
  ASSERT_EQ(std::system((std::string(XLSIMPORT_EXE) + " --template " + tmpl + " --workbook " + book +
                         " --into " + into + " -o " + toolOut)
                            .c_str()),
            0);
  EXPECT_EQ(ReadFile(path), ReadFile(toolOut));
  EXPECT_NE(ReadFile(path).find("<Customer>Bob</Customer>"), std::string::npos);
}

TEST_F(ExcelImportWindow, CancelledTemplatePromptChangesNothing) {
  import_test::WriteFile(book, import_test::MakeCompoundFile(OrdersSheet().Stream()));
  auto w = OpenWithRootSelected(scratch.Path("doc.xml"));
  prompts.FileNames = {"", book};
  w->ActExcelImport->trigger();
  EXPECT_EQ(prompts.Masks.size(), 2u); // both prompts are shown
  EXPECT_FALSE(w->Document()->Modified);
  EXPECT_EQ(w->Document()->RootChildren()->Count(), 1);
}

TEST_F(ExcelImportWindow, AnEncryptedWorkbookAsksForItsPassword) {
  import_test::WriteFile(book,
                         import_test::MakeCompoundFile(import_test::EncryptBiff8(OrdersSheet().Stream(), u"pw")));
  auto w = OpenWithRootSelected(scratch.Path("doc.xml"));

  // Cancel at the password: nothing is shown and nothing changes.
  prompts.Inputs = {std::nullopt};
  Import(*w);
  ASSERT_EQ(prompts.InputMasked.size(), 1u);
  EXPECT_TRUE(prompts.InputMasked[0]);
  EXPECT_TRUE(prompts.Errors.empty());
  EXPECT_EQ(w->Document()->RootChildren()->Count(), 1);

  // A wrong password (or none) says so and asks again; Cancel then ends the import unchanged.
  prompts.Inputs = {std::string("nope"), std::string(""), std::nullopt};
  Import(*w);
  EXPECT_EQ(prompts.Errors, (std::vector<std::string>{"The password is not correct.", "The password is not correct."}));
  EXPECT_EQ(prompts.InputCaptions.size(), 4u);
  EXPECT_EQ(w->Document()->RootChildren()->Count(), 1);
  EXPECT_FALSE(w->Document()->Modified);

  // A wrong one, then the right one, imports both rows.
  QSignalSpy status(w.get(), &editor::TfrmXMLMain::StatusMessage);
  prompts.Inputs = {std::string("nope"), std::string("pw")};
  Import(*w);
  EXPECT_EQ(prompts.Errors.size(), 3u);
  EXPECT_EQ(w->Document()->RootChildren()->Count(), 3);
  ASSERT_EQ(status.size(), 1);
  EXPECT_EQ(status.at(0).at(0).toString().toStdString(), "Imported 2 rows from " + book);
}

TEST_F(ExcelImportWindow, AnUnencryptedErrorIsNotTakenForAWrongPassword) {
  book = scratch.Path("missing.xls");
  auto w = OpenWithRootSelected(scratch.Path("doc.xml"));
  Import(*w);
  ASSERT_EQ(prompts.Errors.size(), 1u);
  EXPECT_TRUE(prompts.InputCaptions.empty());
  EXPECT_EQ(w->Document()->RootChildren()->Count(), 1);
}

// The same flow through the real file dialogs, password prompt and message box. A slow answer at
// the password must not bring the progress box up over the prompt.
TEST(ExcelImportRealDialogs, PasswordRetryCancelAndFocus) {
  Scratch scratch;
  const std::string tmpl = scratch.Path("template.xml");
  const std::string book = scratch.Path("book.xls");
  WriteFile(tmpl, kTemplate);
  import_test::WriteFile(book, import_test::MakeCompoundFile(import_test::EncryptBiff8(
                                   OrdersSheet().Stream(), u"pw")));
  const std::string path = scratch.Path("doc.xml");
  WriteFile(path, "<orders>\n  <order status=\"old\"/>\n</orders>\n");
  auto w = OpenWindow(path);
  w->activateWindow();
  ASSERT_TRUE(QTest::qWaitForWindowActive(w.get()));
  Select(*w, Root(*w));
  QSignalSpy status(w.get(), &editor::TfrmXMLMain::StatusMessage);

  {
    DialogDriver dialogs;
    dialogs.FileDialog("Choose the template", tmpl);
    dialogs.FileDialog("Choose the workbook", book);
    dialogs.Input("nope", 800); // longer than the progress box waits before it shows
    dialogs.Message("The password is not correct.");
    dialogs.Input(nullptr);
    dialogs.Start();
    w->ActExcelImport->trigger();
    EXPECT_TRUE(dialogs.Overlaps().empty()) << dialogs.Overlaps().front();
  }
  EXPECT_EQ(w->Document()->RootChildren()->Count(), 1);
  EXPECT_FALSE(w->Document()->Modified);
  EXPECT_EQ(status.size(), 0);

  {
    DialogDriver dialogs;
    dialogs.FileDialog("Choose the template", tmpl);
    dialogs.FileDialog("Choose the workbook", book);
    dialogs.Input("nope");
    dialogs.Message("The password is not correct.");
    dialogs.Input("pw", 800);
    dialogs.Start();
    w->ActExcelImport->trigger();
    EXPECT_TRUE(dialogs.Overlaps().empty()) << dialogs.Overlaps().front();
  }
  EXPECT_EQ(w->Document()->RootChildren()->Count(), 3);
  ASSERT_EQ(status.size(), 1);
  EXPECT_EQ(status.at(0).at(0).toString().toStdString(), "Imported 2 rows from " + book);
  // The keyboard is back in the tree: its shortcuts work without a click.
  EXPECT_TRUE(QTest::qWaitFor([&] { return QApplication::focusWidget() == w->eTree; }, 2000))
      << (QApplication::focusWidget() ? QApplication::focusWidget()->metaObject()->className() : "no focus");
}

// The same workbook saved by LibreOffice as .xls and as .xlsx, and the same rows as delimited
// text, import into the same document through the same prompts.
TEST_F(ExcelImportWindow, XlsxAndCsvImportLikeXls) {
  WriteFile(tmpl, "<order><Customer/><Total/></order>\n");
  auto importInto = [&](const std::string &workbook, const std::string &name) {
    const std::string path = scratch.Path(name);
    auto w = OpenWithRootSelected(path);
    prompts.FileNames = {tmpl, workbook};
    w->ActExcelImport->trigger();
    EXPECT_TRUE(prompts.Errors.empty()) << workbook;
    w->actSaveExecute();
    return ReadFile(path);
  };
  const std::string fromXls = importInto(XE_TEST_DATA "/workbooks/lo_same.xls", "xls.xml");
  EXPECT_NE(fromXls.find("<Customer>Ann</Customer>"), std::string::npos);
  EXPECT_EQ(importInto(XE_TEST_DATA "/workbooks/lo_same.xlsx", "xlsx.xml"), fromXls);
  EXPECT_TRUE(prompts.InputPrompts.empty());

  // Text that splits as well at commas as at semicolons: the user is asked, and Cancel there
  // changes nothing.
  const std::string csv = scratch.Path("orders.csv");
  WriteFile(csv, "Customer;Total;Note,x\nAnn;12,5;a\nBob;7,0;b\n");
  prompts.Inputs = {std::nullopt};
  const std::string cancelled = importInto(csv, "cancel.xml");
  EXPECT_EQ(prompts.InputPrompts.size(), 1u);
  EXPECT_EQ(cancelled.find("<Customer>"), std::string::npos);
  prompts.Inputs = {std::string("semicolon")};
  const std::string fromCsv = importInto(csv, "csv.xml");
  EXPECT_NE(fromCsv.find("<Customer>Bob</Customer>"), std::string::npos);
  EXPECT_NE(fromCsv.find("<Total>12,5</Total>"), std::string::npos);
}

// The real file dialogs: the workbook prompt offers every spreadsheet format at once.
TEST_F(ExcelImportWindow, TheRealFilePromptOffersEverySpreadsheet) {
  auto w = OpenWithRootSelected(scratch.Path("doc.xml"));
  editor::SetPrompts(nullptr);
  std::vector<std::string> answers = {tmpl, XE_TEST_DATA "/workbooks/lo_same.xlsx"};
  std::vector<QStringList> filters;
  QTimer timer;
  int ticks = 0;
  QObject::connect(&timer, &QTimer::timeout, [&] {
    if (++ticks > 400)
      timer.stop(); // a dialog that never came: the checks below fail instead of hanging
    auto *dialog = qobject_cast<QFileDialog *>(QApplication::activeModalWidget());
    if (!dialog || !dialog->isVisible() || answers.empty())
      return;
    filters.push_back(dialog->nameFilters());
    dialog->findChild<QLineEdit *>("fileNameEdit")->setText(QString::fromStdString(answers.front()));
    answers.erase(answers.begin());
    dialog->findChild<QDialogButtonBox *>("buttonBox")->button(QDialogButtonBox::Open)->click();
  });
  timer.start(25);
  w->ActExcelImport->trigger();
  timer.stop();
  editor::SetPrompts(&prompts);
  ASSERT_EQ(filters.size(), 2u);
  EXPECT_EQ(filters[1], QStringList{"Spreadsheets (*.xls *.xlsx *.xlsm *.ods *.csv *.tsv *.txt)"});
  EXPECT_TRUE(prompts.Errors.empty());
  EXPECT_EQ(w->Document()->RootChildren()->Count(), 1 + 7); // rows 1 to 7 of the sheet
}

} // namespace

static ::testing::Environment *const qtEnvironment = ::testing::AddGlobalTestEnvironment(new QtEnvironment);
