// The frame: start-up with and without a file, the System and XSL commands, menu merging and
// closing with modified documents.

#include <QLineEdit>
#include <QMdiArea>
#include <QMdiSubWindow>
#include <QMenuBar>
#include <QTest>

#include <gtest/gtest.h>

#include "app/frame.h"
#include "window_support.h"

using namespace testing_support;
using app::TForm4;
using Answer = editor::Prompts::Answer;

namespace {

class Frame : public ::testing::Test {
protected:
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
  static QTreeWidgetItem *Root(editor::TfrmXMLMain *w) { return w->eTree->topLevelItem(0); }
  static void Modify(editor::TfrmXMLMain *w) {
    w->eTree->setCurrentItem(Root(w));
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
  EXPECT_EQ(MenuTitles(*frame), (std::vector<std::string>{"System", "XSL"}));
  std::vector<std::string> items;
  for (QAction *action : frame->SystemMenu->actions())
    items.push_back(action->isSeparator() ? "-" : action->text().toStdString());
  EXPECT_EQ(items, (std::vector<std::string>{"Open", "New", "Validate XSD", "-", "Exit"}));
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
  EXPECT_EQ(MenuTitles(*frame), (std::vector<std::string>{"System", "XSL", "XML", "Edit"}));

  frame->MdiArea()->subWindowList().front()->close();
  QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
  EXPECT_TRUE(frame->EditorWindows().isEmpty());
  EXPECT_EQ(MenuTitles(*frame), (std::vector<std::string>{"System", "XSL"}));

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
  ASSERT_EQ(bar.size(), 4);
  EXPECT_EQ(bar[2], frame->EditorWindows().front()->MainMenu1->menuAction());
  EXPECT_EQ(bar[3], frame->EditorWindows().front()->MainMenu2->menuAction());

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
  EXPECT_EQ(prompts.Messages, std::vector<std::string>{""});
  EXPECT_EQ(Caption(Root(frame->EditorWindows().back())), "orders (1/2)");

  frame->actValidateXSD->trigger();
  ASSERT_EQ(frame->EditorWindows().size(), 2);
  ASSERT_EQ(prompts.Messages.size(), 2u);
  EXPECT_EQ(prompts.Messages[1].rfind("Validation failed on " + scratch.Path("invalid_orders.xml"), 0), 0u)
      << prompts.Messages[1];
  EXPECT_NE(prompts.Messages[1].find("Line: 3"), std::string::npos) << prompts.Messages[1];
  // The invalid document has no root element: empty tree, nothing breaks.
  EXPECT_EQ(frame->EditorWindows().back()->eTree->topLevelItemCount(), 0);
}

TEST_F(Frame, XslTransformShowsTheOutput) {
  auto frame = Start();
  prompts.FileNames = {scratch.Copy("orders.xml"), scratch.Copy("customers.xsl")};
  frame->actXSLTransform->trigger();
  EXPECT_EQ(prompts.Masks, (std::vector<std::string>{"*.xml", "*.xsl"}));
  EXPECT_EQ(prompts.Messages, std::vector<std::string>{"ACME;Globex;"});
  EXPECT_TRUE(frame->EditorWindows().isEmpty());
  // Both prompts are always shown; a missing stylesheet is an error, not a message.
  prompts.FileNames = {"", ""};
  frame->actXSLTransform->trigger();
  EXPECT_EQ(prompts.Masks.size(), 4u);
  EXPECT_EQ(prompts.Errors.size(), 1u);
  EXPECT_EQ(prompts.Messages.size(), 1u);
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

} // namespace

static ::testing::Environment *const qtEnvironment = ::testing::AddGlobalTestEnvironment(new QtEnvironment);
