// The frame: start-up with and without a file, the System, XSL and Window commands, menu
// merging, closing with modified documents, failed loads, recent files, drops and the layout kept
// between runs.

#include <QClipboard>
#include <QDropEvent>
#include <QLineEdit>
#include <QMdiArea>
#include <QMdiSubWindow>
#include <QMenuBar>
#include <QMimeData>
#include <QPlainTextEdit>
#include <QSettings>
#include <QSplitter>
#include <QStatusBar>
#include <QTest>
#include <QToolBar>
#include <QUrl>

#include <gtest/gtest.h>

#include "app/frame.h"
#include "app/xsl_result_window.h"
#include "dialog_driver.h"
#include "window_support.h"

using namespace testing_support;
using app::TForm4;
using Answer = editor::Prompts::Answer;

namespace {

// Settings go to a folder of the test's own, so no run sees another's or the user's.
class TemporarySettings {
public:
  TemporarySettings() {
    QCoreApplication::setOrganizationName(QStringLiteral("xmleditor-tests"));
    QSettings::setPath(QSettings::IniFormat, QSettings::UserScope, FDir.path());
  }

private:
  QTemporaryDir FDir;
};

std::vector<std::string> ActionTexts(const QList<QAction *> &actions) {
  std::vector<std::string> texts;
  for (QAction *action : actions)
    texts.push_back(action->isSeparator() ? "-" : action->text().toStdString());
  return texts;
}

class Frame : public ::testing::Test {
protected:
  TemporarySettings settings;
  FakePrompts prompts;
  Scratch scratch;

  static std::unique_ptr<TForm4> Start(QStringList arguments = {QStringLiteral("xmleditor")}) {
    auto frame = std::make_unique<TForm4>(std::move(arguments));
    frame->show();
    return frame;
  }
  static std::vector<std::string> MenuTitles(TForm4 &frame) {
    std::vector<std::string> titles;
    for (QAction *action : frame.menuBar()->actions())
      titles.push_back(action->text().toStdString());
    return titles;
  }
  static QModelIndex Root(editor::TfrmXMLMain *w) { return testing_support::Root(*w); }
  static void Modify(editor::TfrmXMLMain *w) {
    w->eTree->setCurrentIndex(Root(w));
    w->actAddInto->trigger();
    w->eNodeName->setText("added");
    w->Button1Click();
    ASSERT_TRUE(w->Document()->Modified);
  }
};

TEST_F(Frame, LayoutMenusAndStartWithoutArgument) {
  auto frame = Start();
  EXPECT_EQ(frame->windowTitle().toStdString(), "XML");
  EXPECT_EQ(frame->size(), QSize(621, 539));
  EXPECT_EQ(MenuTitles(*frame), (std::vector<std::string>{"System", "XSL", "Window"}));
  EXPECT_EQ(ActionTexts(frame->SystemMenu->actions()),
            (std::vector<std::string>{"Open", "Open Recent", "New", "Validate XSD", "-", "Exit"}));
  EXPECT_EQ(ActionTexts(frame->MainToolBar->actions()),
            (std::vector<std::string>{"Open", "New", "Save", "-", "Undo", "Redo", "-", "Validate XSD", "XSL Transform"}));
  for (QAction *action : frame->MainToolBar->actions())
    EXPECT_TRUE(action->isSeparator() || !action->icon().isNull()) << action->text().toStdString();
  EXPECT_FALSE(frame->actSave->isEnabled()); // no document to save
  EXPECT_FALSE(frame->actUndo->isEnabled());
  EXPECT_FALSE(frame->RecentMenu->isEnabled());
  EXPECT_NE(frame->statusBar(), nullptr);
  EXPECT_EQ(frame->actOpen->shortcut(), QKeySequence(Qt::CTRL | Qt::Key_O));
  EXPECT_EQ(frame->actNew->shortcut(), QKeySequence(Qt::CTRL | Qt::Key_N));
  EXPECT_TRUE(frame->EditorWindows().isEmpty());
  EXPECT_TRUE(prompts.Messages.empty());
  EXPECT_TRUE(prompts.Errors.empty());
}

TEST_F(Frame, StartWithFileOpensItMaximisedAndMergesTheXmlMenu) {
  const std::string path = scratch.Copy("orders.xml");
  auto frame = Start({QStringLiteral("xmleditor"), QString::fromStdString(path)});
  ASSERT_EQ(frame->EditorWindows().size(), 1);
  editor::TfrmXMLMain *w = frame->EditorWindows().front();
  EXPECT_TRUE(frame->MdiArea()->subWindowList().front()->isMaximized());
  EXPECT_EQ(w->Document()->FileName, path);
  EXPECT_EQ(Caption(Root(w)), "orders (3/9)");
  EXPECT_EQ(MenuTitles(*frame), (std::vector<std::string>{"System", "XSL", "Window", "XML", "Edit"}));
  EXPECT_EQ(frame->windowTitle().toStdString(), "XML - " + path);

  frame->MdiArea()->subWindowList().front()->close();
  QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
  EXPECT_TRUE(frame->EditorWindows().isEmpty());
  EXPECT_EQ(MenuTitles(*frame), (std::vector<std::string>{"System", "XSL", "Window"}));
  EXPECT_EQ(frame->windowTitle().toStdString(), "XML");

  // A missing file is ignored without a word.
  auto other = Start({QStringLiteral("xmleditor"), QString::fromStdString(scratch.Path("missing.xml"))});
  EXPECT_TRUE(other->EditorWindows().isEmpty());
  EXPECT_TRUE(prompts.Errors.empty());
}

TEST_F(Frame, OpenAndNew) {
  auto frame = Start();
  prompts.FileNames = {"", scratch.Copy("orders.xml")};
  frame->actOpen->trigger(); // cancelled
  EXPECT_TRUE(frame->EditorWindows().isEmpty());
  frame->actOpen->trigger();
  EXPECT_EQ(prompts.Masks, (std::vector<std::string>{"*.xml", "*.xml"}));
  EXPECT_EQ(prompts.FileTitles.back(), "Open an XML file");
  ASSERT_EQ(frame->EditorWindows().size(), 1);

  prompts.Inputs = {std::nullopt, std::string("root")};
  frame->actNew->trigger();
  EXPECT_EQ(frame->EditorWindows().size(), 1);
  frame->actNew->trigger();
  EXPECT_EQ(prompts.InputCaptions.at(1), "Enter Root Element Name");
  EXPECT_EQ(prompts.InputPrompts.at(1), "Name");
  EXPECT_EQ(prompts.InputInitial.at(1), "root");
  ASSERT_EQ(frame->EditorWindows().size(), 2);
  editor::TfrmXMLMain *w = frame->ActiveEditor();
  EXPECT_EQ(w->Document()->FileName, "");
  EXPECT_FALSE(w->Document()->Modified);
  EXPECT_EQ(Caption(Root(w)), "root");
  EXPECT_EQ(w->Document()->XMLDoc().SaveToString(), "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<root/>\n");

  // Switching windows swaps the merged menu for the new window's own.
  QMdiSubWindow *first = frame->MdiArea()->subWindowList().front();
  frame->MdiArea()->setActiveSubWindow(first);
  QList<QAction *> bar = frame->menuBar()->actions();
  ASSERT_EQ(bar.size(), 5);
  EXPECT_EQ(bar.at(3), frame->EditorWindows().front()->MainMenu1->menuAction());
  EXPECT_EQ(bar.at(4), frame->EditorWindows().front()->MainMenu2->menuAction());

  prompts.Inputs = {std::string("not valid")};
  frame->actNew->trigger();
  EXPECT_EQ(prompts.Errors.size(), 1u);
  EXPECT_EQ(frame->EditorWindows().size(), 2);
}

TEST_F(Frame, ValidateXsdOpensTheWindowThenShowsTheReport) {
  scratch.Copy("orders.xsd");
  auto frame = Start();
  prompts.FileNames = {scratch.Copy("valid_orders.xml"), scratch.Copy("invalid_orders.xml")};
  frame->actValidateXSD->trigger();
  ASSERT_EQ(frame->EditorWindows().size(), 1);
  EXPECT_EQ(prompts.FileTitles.back(), "Choose the XML file to validate");
  EXPECT_EQ(prompts.Messages, std::vector<std::string>{scratch.Path("valid_orders.xml") + " is valid."});
  EXPECT_EQ(Caption(Root(frame->EditorWindows().back())), "orders (1/2)");

  frame->actValidateXSD->trigger();
  ASSERT_EQ(frame->EditorWindows().size(), 2);
  ASSERT_EQ(prompts.Messages.size(), 2u);
  EXPECT_EQ(prompts.Messages[1].rfind("Validation failed on " + scratch.Path("invalid_orders.xml"), 0), 0u)
      << prompts.Messages[1];
  EXPECT_NE(prompts.Messages[1].find("Line: 3"), std::string::npos) << prompts.Messages[1];
  // The invalid document has no root element: empty tree, nothing breaks.
  EXPECT_EQ(frame->EditorWindows().back()->TreeModel()->rowCount(), 0);

  // Validating a file that is open already reports on it without a second window.
  prompts.FileNames = {scratch.Path("valid_orders.xml")};
  frame->actValidateXSD->trigger();
  EXPECT_EQ(frame->EditorWindows().size(), 2);
  EXPECT_EQ(frame->ActiveEditor(), frame->EditorWindows().front());
  EXPECT_EQ(prompts.Messages.back(), scratch.Path("valid_orders.xml") + " is valid.");
}

TEST_F(Frame, XslTransformShowsTheOutputInAWindowThatSavesAndCopies) {
  auto frame = Start();
  prompts.FileNames = {scratch.Copy("orders.xml"), scratch.Copy("customers.xsl")};
  frame->actXSLTransform->trigger();
  EXPECT_EQ(prompts.Masks, (std::vector<std::string>{"*.xml", "*.xsl"}));
  EXPECT_EQ(prompts.FileTitles, (std::vector<std::string>{"Choose the XML file to transform", "Choose the stylesheet"}));
  EXPECT_TRUE(prompts.Messages.empty());
  EXPECT_TRUE(frame->EditorWindows().isEmpty());
  ASSERT_EQ(frame->MdiArea()->subWindowList().size(), 1);
  auto *result = qobject_cast<app::TXslResultWindow *>(frame->MdiArea()->activeSubWindow()->widget());
  ASSERT_NE(result, nullptr);
  EXPECT_EQ(result->eText->toPlainText().toStdString(), "ACME;Globex;");
  EXPECT_TRUE(result->eText->isReadOnly());
  EXPECT_EQ(frame->windowTitle().toStdString(), "XML - orders.xml with customers.xsl");
  EXPECT_EQ(MenuTitles(*frame), (std::vector<std::string>{"System", "XSL", "Window"}));

  prompts.FileNames = {scratch.Path("out.txt")};
  result->actSaveAs->trigger();
  EXPECT_EQ(ReadFile(scratch.Path("out.txt")), "ACME;Globex;");
  result->actCopy->trigger();
  EXPECT_EQ(QGuiApplication::clipboard()->text().toStdString(), "ACME;Globex;");

  // Both prompts are always shown; a missing stylesheet is an error, and no window opens.
  prompts.FileNames = {"", ""};
  frame->actXSLTransform->trigger();
  EXPECT_EQ(prompts.Masks.size(), 5u);
  EXPECT_EQ(prompts.Errors.size(), 1u);
  EXPECT_EQ(frame->MdiArea()->subWindowList().size(), 1);
}

TEST_F(Frame, ExitPromptsOncePerModifiedWindowAndStopsAtCancel) {
  auto frame = Start();
  prompts.FileNames = {scratch.Copy("orders.xml"), scratch.Copy("part.xml")};
  frame->actOpen->trigger();
  frame->actOpen->trigger();
  ASSERT_EQ(frame->EditorWindows().size(), 2);
  for (editor::TfrmXMLMain *w : frame->EditorWindows())
    Modify(w);

  prompts.Confirms = {Answer::No, Answer::Cancel};
  frame->actClose->trigger();
  EXPECT_EQ(prompts.ConfirmTexts.size(), 2u);
  EXPECT_TRUE(frame->isVisible()); // the second window refused
  EXPECT_EQ(frame->EditorWindows().size(), 1);

  Modify(frame->EditorWindows().front());
  prompts.Confirms = {Answer::No};
  frame->actClose->trigger();
  EXPECT_EQ(prompts.ConfirmTexts.size(), 3u);
  EXPECT_FALSE(frame->isVisible());
}

TEST_F(Frame, ExitWithTwoModifiedDocumentsPromptsTwice) {
  auto frame = Start();
  prompts.FileNames = {scratch.Copy("orders.xml"), scratch.Copy("part.xml")};
  frame->actOpen->trigger();
  frame->actOpen->trigger();
  for (editor::TfrmXMLMain *w : frame->EditorWindows())
    Modify(w);
  prompts.Confirms = {Answer::Yes, Answer::Yes};
  frame->actClose->trigger();
  EXPECT_EQ(prompts.ConfirmTexts.size(), 2u);
  EXPECT_FALSE(frame->isVisible());
  EXPECT_NE(ReadFile(scratch.Path("orders.xml")).find("<added/>"), std::string::npos);
  EXPECT_NE(ReadFile(scratch.Path("part.xml")).find("<added/>"), std::string::npos);
}

TEST_F(Frame, AFileThatDoesNotLoadSaysWhyBeforeItsEmptyWindowOpens) {
  const std::string malformed = scratch.Path("malformed.xml");
  WriteFile(malformed, "<a>\n<b>text</a>\n");
  const std::string empty = scratch.Path("empty.xml");
  WriteFile(empty, "");
  auto frame = Start();
  // The error comes first, when no window is open yet.
  int windowsWhenShown = -1;
  prompts.OnError = [&] { windowsWhenShown = static_cast<int>(frame->EditorWindows().size()); };
  prompts.FileNames = {malformed};
  frame->actOpen->trigger();
  ASSERT_EQ(prompts.Errors.size(), 1u);
  EXPECT_EQ(prompts.Errors[0].rfind("Cannot open " + malformed + ": ", 0), 0u) << prompts.Errors[0];
  EXPECT_NE(prompts.Errors[0].find("(line 2)"), std::string::npos) << prompts.Errors[0];
  ASSERT_EQ(frame->EditorWindows().size(), 1);
  editor::TfrmXMLMain *w = frame->EditorWindows().front();
  EXPECT_EQ(w->TreeModel()->rowCount(), 0);
  EXPECT_NE(w->eNodeValueTxt->placeholderText().toStdString().find("did not load"), std::string::npos);
  EXPECT_EQ(windowsWhenShown, 0);
  EXPECT_TRUE(frame->RecentFiles().isEmpty());
  prompts.OnError = nullptr;

  // The same from the command line, and for an empty file.
  auto other = Start({QStringLiteral("xmleditor"), QString::fromStdString(empty)});
  ASSERT_EQ(prompts.Errors.size(), 2u);
  EXPECT_EQ(prompts.Errors[1], "Cannot open " + empty + ": Document is empty (line 1).");
  EXPECT_EQ(other->EditorWindows().size(), 1);

  // A failed window is not "the file already open": after a repair, opening it loads it.
  WriteFile(malformed, "<a><b>text</b></a>\n");
  prompts.FileNames = {malformed};
  frame->actOpen->trigger();
  EXPECT_EQ(frame->EditorWindows().size(), 2);
  EXPECT_EQ(Caption(Root(frame->ActiveEditor())), "a (1/1)");
}

TEST_F(Frame, InsertXmlHereNamesTheFileTheReasonAndTheLine) {
  const std::string malformed = scratch.Path("malformed.xml");
  WriteFile(malformed, "<a>\n\n<b>text</a>\n");
  auto frame = Start({QStringLiteral("xmleditor"), QString::fromStdString(scratch.Copy("orders.xml"))});
  editor::TfrmXMLMain *w = frame->ActiveEditor();
  w->eTree->setCurrentIndex(Root(w));
  prompts.FileNames = {malformed};
  w->actInsertXML->trigger();
  EXPECT_EQ(prompts.FileTitles.back(), "Choose the XML file to insert");
  ASSERT_EQ(prompts.Errors.size(), 1u);
  EXPECT_EQ(prompts.Errors[0].rfind("Cannot open " + malformed + ": ", 0), 0u) << prompts.Errors[0];
  EXPECT_NE(prompts.Errors[0].find("(line 3)"), std::string::npos) << prompts.Errors[0];
  EXPECT_FALSE(w->Document()->Modified);
}

TEST_F(Frame, TheSameFileOpenedTwiceGivesOneWindow) {
  const std::string orders = scratch.Copy("orders.xml");
  const std::string part = scratch.Copy("part.xml");
  auto frame = Start();
  prompts.FileNames = {orders, part, scratch.Path("./orders.xml")};
  frame->actOpen->trigger();
  frame->actOpen->trigger();
  frame->actOpen->trigger(); // another spelling of the first
  ASSERT_EQ(frame->EditorWindows().size(), 2);
  EXPECT_EQ(frame->ActiveEditor()->Document()->FileName, orders);
  EXPECT_EQ(frame->windowTitle().toStdString(), "XML - " + orders);
  EXPECT_EQ(frame->statusBar()->currentMessage().toStdString(), "Opened " + part);
}

TEST_F(Frame, DroppedFilesOpen) {
  const std::string orders = scratch.Copy("orders.xml");
  const std::string part = scratch.Copy("part.xml");
  auto frame = Start();
  QMimeData mime;
  mime.setUrls({QUrl::fromLocalFile(QString::fromStdString(orders)), QUrl::fromLocalFile(QString::fromStdString(part)),
                QUrl(QStringLiteral("https://example.com/remote.xml"))});
  const QPoint centre = frame->rect().center();
  QDragEnterEvent enter(centre, Qt::CopyAction, &mime, Qt::LeftButton, Qt::NoModifier);
  QApplication::sendEvent(frame.get(), &enter);
  EXPECT_TRUE(enter.isAccepted());
  QDropEvent drop(centre, Qt::CopyAction, &mime, Qt::LeftButton, Qt::NoModifier);
  QApplication::sendEvent(frame.get(), &drop);
  ASSERT_EQ(frame->EditorWindows().size(), 2);
  EXPECT_EQ(frame->EditorWindows()[0]->Document()->FileName, orders);
  EXPECT_EQ(frame->EditorWindows()[1]->Document()->FileName, part);
  // Dropped again: the windows come forward, no new ones.
  QApplication::sendEvent(frame.get(), &drop);
  EXPECT_EQ(frame->EditorWindows().size(), 2);
  EXPECT_TRUE(prompts.Errors.empty());

  QMimeData text;
  text.setText(QStringLiteral("not a file"));
  QDragEnterEvent refused(centre, Qt::CopyAction, &text, Qt::LeftButton, Qt::NoModifier);
  refused.ignore();
  QApplication::sendEvent(frame.get(), &refused);
  EXPECT_FALSE(refused.isAccepted());
}

TEST_F(Frame, RecentFilesSurviveARestart) {
  std::vector<std::string> files;
  for (int i = 0; i < 12; ++i) {
    files.push_back(scratch.Path("doc" + std::to_string(i) + ".xml"));
    WriteFile(files.back(), "<doc" + std::to_string(i) + "/>");
  }
  {
    auto frame = Start();
    for (const std::string &file : files) {
      prompts.FileNames = {file};
      frame->actOpen->trigger();
    }
    prompts.FileNames = {files[5]}; // open already: it moves to the top
    frame->actOpen->trigger();
    frame->close();
  }
  auto frame = Start();
  const QStringList recent = frame->RecentFiles();
  ASSERT_EQ(recent.size(), TForm4::kRecentFileCount);
  EXPECT_EQ(recent.front().toStdString(), files[5]);
  EXPECT_EQ(recent.at(1).toStdString(), files[11]);
  EXPECT_FALSE(recent.contains(QString::fromStdString(files[0])));
  ASSERT_TRUE(frame->RecentMenu->isEnabled());
  const QList<QAction *> entries = frame->RecentMenu->actions();
  ASSERT_EQ(entries.size(), TForm4::kRecentFileCount);
  EXPECT_EQ(entries.front()->text().toStdString(), "&1 " + files[5]);
  entries.at(1)->trigger();
  ASSERT_EQ(frame->EditorWindows().size(), 1);
  EXPECT_EQ(frame->ActiveEditor()->Document()->FileName, files[11]);

  // A recent file that has gone says so and leaves the list.
  std::remove(files[10].c_str());
  frame->RecentMenu->actions().at(2)->trigger();
  ASSERT_EQ(prompts.Errors.size(), 1u);
  EXPECT_EQ(prompts.Errors[0].rfind("Cannot open " + files[10], 0), 0u) << prompts.Errors[0];
  EXPECT_FALSE(frame->RecentFiles().contains(QString::fromStdString(files[10])));
}

TEST_F(Frame, WindowMenuListsTheDocumentsAndMovesBetweenThem) {
  const std::string orders = scratch.Copy("orders.xml");
  const std::string part = scratch.Copy("part.xml");
  auto frame = Start();
  emit frame->WindowMenu->aboutToShow();
  EXPECT_EQ(ActionTexts(frame->WindowMenu->actions()), (std::vector<std::string>{"Cascade", "Tile", "Next", "Previous"}));
  EXPECT_FALSE(frame->actTile->isEnabled());

  prompts.FileNames = {orders, part};
  frame->actOpen->trigger();
  frame->actOpen->trigger();
  prompts.Inputs = {std::string("root")};
  frame->actNew->trigger();
  emit frame->WindowMenu->aboutToShow();
  const QList<QAction *> items = frame->WindowMenu->actions();
  EXPECT_EQ(ActionTexts(items), (std::vector<std::string>{"Cascade", "Tile", "Next", "Previous", "-", "&1 " + orders,
                                                          "&2 " + part, "&3 New document"}));
  EXPECT_TRUE(items.back()->isChecked());
  EXPECT_FALSE(items.at(5)->isChecked());
  EXPECT_EQ(frame->windowTitle().toStdString(), "XML - New document");

  items.at(5)->trigger();
  EXPECT_EQ(frame->ActiveEditor()->Document()->FileName, orders);
  EXPECT_EQ(frame->windowTitle().toStdString(), "XML - " + orders);
  frame->actNextWindow->trigger();
  EXPECT_EQ(frame->ActiveEditor()->Document()->FileName, part);
  frame->actPreviousWindow->trigger();
  frame->actPreviousWindow->trigger();
  EXPECT_EQ(frame->ActiveEditor()->Document()->FileName, "");

  frame->actTile->trigger();
  for (QMdiSubWindow *window : frame->MdiArea()->subWindowList())
    EXPECT_FALSE(window->isMaximized());
  // The title follows the active document when nothing is maximized, and its modified mark.
  frame->MdiArea()->setActiveSubWindow(frame->MdiArea()->subWindowList().front());
  EXPECT_EQ(frame->windowTitle().toStdString(), "XML - " + orders);
  Modify(frame->ActiveEditor());
  EXPECT_EQ(frame->windowTitle().toStdString(), "XML - *" + orders);
}

TEST_F(Frame, ToolbarSaveUndoAndRedoActOnTheActiveDocument) {
  const std::string orders = scratch.Copy("orders.xml");
  const std::string part = scratch.Copy("part.xml");
  const std::string partBefore = ReadFile(part);
  auto frame = Start({QStringLiteral("xmleditor"), QString::fromStdString(orders)});
  EXPECT_TRUE(frame->actSave->isEnabled());
  editor::TfrmXMLMain *first = frame->ActiveEditor();
  Modify(first);
  prompts.FileNames = {part};
  frame->actOpen->trigger();
  editor::TfrmXMLMain *second = frame->ActiveEditor();
  Modify(second);

  // Undo takes back the active document's change only; Redo brings it back.
  EXPECT_TRUE(frame->actUndo->isEnabled());
  frame->actUndo->trigger();
  EXPECT_FALSE(second->Document()->Modified);
  EXPECT_TRUE(first->Document()->Modified);
  EXPECT_FALSE(frame->actUndo->isEnabled());
  frame->actRedo->trigger();
  EXPECT_TRUE(second->Document()->Modified);
  frame->actUndo->trigger();

  frame->MdiArea()->setActiveSubWindow(frame->MdiArea()->subWindowList().front());
  EXPECT_TRUE(frame->actUndo->isEnabled());
  frame->actSave->trigger();
  EXPECT_FALSE(first->Document()->Modified);
  EXPECT_NE(ReadFile(orders).find("<added/>"), std::string::npos);
  EXPECT_EQ(ReadFile(part), partBefore);
}

TEST_F(Frame, WindowLayoutIsKeptFromTheSecondStartOn) {
  const std::string orders = scratch.Copy("orders.xml");
  QList<int> sizes;
  {
    auto frame = Start({QStringLiteral("xmleditor"), QString::fromStdString(orders)});
    EXPECT_EQ(frame->geometry(), QRect(367, 292, 621, 539));
    frame->setGeometry(40, 50, 800, 600);
    editor::TfrmXMLMain *w = frame->ActiveEditor();
    const int total = w->Splitter2->sizes().at(0) + w->Splitter2->sizes().at(1);
    w->Splitter2->setSizes({total - 300, 300});
    sizes = w->Splitter2->sizes();
    emit w->Splitter2->splitterMoved(total - 300, 1); // as a drag of the handle does
    frame->close();
  }
  auto frame = Start({QStringLiteral("xmleditor"), QString::fromStdString(orders)});
  EXPECT_EQ(frame->size(), QSize(800, 600));
  EXPECT_EQ(frame->ActiveEditor()->Splitter2->sizes().at(1), sizes.at(1));
}

// The real dialogs once: the titled file prompt and the error box naming reason and line.
TEST(FrameRealDialogs, OpeningAMalformedFileShowsTheReasonAndLine) {
  TemporarySettings settings;
  Scratch scratch;
  const std::string malformed = scratch.Path("malformed.xml");
  WriteFile(malformed, "<a><b>text</a>\n");
  TForm4 frame({QStringLiteral("xmleditor")});
  frame.show();
  {
    DialogDriver dialogs;
    dialogs.FileDialog("Open an XML file", malformed);
    dialogs.Message("Cannot open " + malformed + ": Opening and ending tag mismatch: b line 1 and a (line 1).");
    dialogs.Start();
    frame.actOpen->trigger();
  }
  EXPECT_EQ(frame.EditorWindows().size(), 1);
}

} // namespace

static ::testing::Environment *const qtEnvironment = ::testing::AddGlobalTestEnvironment(new QtEnvironment);
