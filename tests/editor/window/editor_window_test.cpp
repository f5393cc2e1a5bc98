// The editor window: tree, captions, panel, grid, Apply, attribute commands, close prompt.

#include <QComboBox>
#include <QHeaderView>
#include <QLineEdit>
#include <QMenu>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTableWidget>
#include <QTest>

#include <gtest/gtest.h>

#include "editor/guard.h"
#include "window_support.h"

using namespace testing_support;
using editor::TfrmXMLMain;
using Answer = editor::Prompts::Answer;

namespace {

class EditorWindow : public ::testing::Test {
protected:
  FakePrompts prompts;
  Scratch scratch;

  std::unique_ptr<TfrmXMLMain> Open(const std::string &fixture) { return OpenWindow(scratch.Copy(fixture)); }
  static std::string HeaderText(TfrmXMLMain &w, int column) {
    QTableWidgetItem *item = w.eAttr->horizontalHeaderItem(column);
    return item ? item->text().toStdString() : std::string();
  }
  static std::string Cell(TfrmXMLMain &w, int row, int column) {
    QTableWidgetItem *item = w.eAttr->item(row, column);
    return item ? item->text().toStdString() : std::string();
  }
};

TEST_F(EditorWindow, BuildsRootExpandedOneLevelWithCountingCaptions) {
  auto w = Open("orders.xml");
  ASSERT_EQ(w->TreeModel()->rowCount(), 1);
  const Node root = Root(*w);
  EXPECT_EQ(Caption(root), "orders (3/9)");
  EXPECT_TRUE(IsExpanded(*w, root));
  EXPECT_EQ(ChildCaptions(root), "order (2/5)|#comment|order (1/1)");
  // Collapsed children: no child nodes yet, an expand button only where there are child items.
  const Node order = Child(root, 0);
  EXPECT_EQ(ChildCount(order), 0);
  EXPECT_TRUE(HasExpandButton(order));
  EXPECT_FALSE(HasExpandButton(Child(root, 1))); // a comment has no child items
  // The panel stays empty and disabled until something is selected.
  EXPECT_FALSE(w->eNodeName->isEnabled());
  EXPECT_FALSE(w->eNodeValueTxt->isEnabled());
  EXPECT_FALSE(w->eNodeType->isEnabled());
  EXPECT_EQ(w->CurrentItem(), nullptr);
  EXPECT_EQ(w->windowTitle().toStdString(), scratch.Path("orders.xml"));
}

TEST_F(EditorWindow, ExpandCollapseAndReexpandFollowTheButtonRules) {
  auto w = Open("orders.xml");
  const Node order = Child(Root(*w), 0);
  w->eTree->setExpanded(order, true);
  EXPECT_EQ(ChildCaptions(order), "customer|items (3/3)");
  const Node customer = Child(order, 0);
  EXPECT_FALSE(HasExpandButton(customer)); // only text inside: no button, bare name
  w->eTree->setExpanded(order, false);
  EXPECT_EQ(ChildCount(order), 0);
  EXPECT_TRUE(HasExpandButton(order));
  w->eTree->setExpanded(order, true);
  EXPECT_EQ(ChildCaptions(order), "customer|items (3/3)"); // filled afresh, not twice

  // Collapsing a childless expanded node gives its button back; expanding removes it again.
  const Node text = Child(order, 0);
  w->eTree->setExpanded(text, true);
  EXPECT_FALSE(HasExpandButton(text));
  w->eTree->setExpanded(text, false);
  EXPECT_TRUE(HasExpandButton(text));
  w->eTree->setExpanded(text, true);
  EXPECT_FALSE(HasExpandButton(text));
  EXPECT_EQ(ChildCount(text), 0);
}

TEST_F(EditorWindow, RootWithoutChildrenShowsBareNameWithoutButton) {
  auto w = Open("empty_root.xml");
  const Node root = Root(*w);
  EXPECT_EQ(Caption(root), "root");
  EXPECT_FALSE(HasExpandButton(root));
  auto t = Open("text_only.xml");
  EXPECT_EQ(Caption(Root(*t)), "note");
  Select(*t, Root(*t));
  EXPECT_EQ(t->eNodeValueTxt->toPlainText().toStdString(), "just text");
  EXPECT_FALSE(t->eNodeValueTxt->isReadOnly());
}

TEST_F(EditorWindow, SelectingFillsPanelAndGridKeepingTheHeader) {
  auto w = Open("orders.xml");
  const Node root = Root(*w);
  // Before any node with attributes was shown the header is empty.
  Select(*w, root);
  EXPECT_EQ(w->eNodeName->text().toStdString(), "orders");
  EXPECT_EQ(w->eNodeType->currentIndex(), 1);
  EXPECT_EQ(w->eNodeType->currentText().toStdString(), "ntElement");
  EXPECT_TRUE(w->eNodeValueTxt->isReadOnly()); // has child items
  EXPECT_EQ(w->eAttr->rowCount(), 1);
  EXPECT_EQ(Cell(*w, 0, 0), "...");
  EXPECT_EQ(Cell(*w, 0, 1), "...");
  EXPECT_EQ(HeaderText(*w, 0), "");

  Select(*w, Child(root, 0));
  EXPECT_EQ(w->eNodeName->text().toStdString(), "order");
  ASSERT_EQ(w->eAttr->rowCount(), 2);
  EXPECT_EQ(HeaderText(*w, 0), "Name");
  EXPECT_EQ(HeaderText(*w, 1), "Value");
  EXPECT_EQ(Cell(*w, 0, 0), "id");
  EXPECT_EQ(Cell(*w, 0, 1), "1");
  EXPECT_EQ(Cell(*w, 1, 0), "date");
  EXPECT_EQ(Cell(*w, 1, 1), "2024-01-05");
  EXPECT_FALSE(w->eAttr->item(0, 0)->flags() & Qt::ItemIsEditable);
  EXPECT_TRUE(w->eAttr->item(0, 1)->flags() & Qt::ItemIsEditable);

  Select(*w, Child(root, 1));
  EXPECT_EQ(w->eNodeName->text().toStdString(), "#comment");
  EXPECT_EQ(w->eNodeType->currentText().toStdString(), "ntComment");
  EXPECT_EQ(w->eNodeValueTxt->toPlainText().toStdString(), " second order ");
  EXPECT_EQ(Cell(*w, 0, 0), "...");
  EXPECT_EQ(HeaderText(*w, 0), "Name"); // kept from the node shown before
  EXPECT_FALSE(w->PanelModified());
}

TEST_F(EditorWindow, ApplyRenamesRetypesAndRewritesInPlace) {
  auto w = Open("orders.xml");
  const Node order = Child(Root(*w), 0);
  w->eTree->setExpanded(order, true);
  Select(*w, Child(order, 0)); // customer
  w->eNodeName->setText("client");
  w->eNodeValueTxt->setPlainText("Initech & Co");
  EXPECT_TRUE(w->PanelModified());
  w->Button1Click();
  EXPECT_FALSE(w->PanelModified());
  EXPECT_TRUE(prompts.Errors.empty());
  // The re-created node takes the old one's place.
  EXPECT_EQ(ChildCaptions(order), "client|items (3/3)");
  // The current node follows the re-created node.
  ASSERT_NE(w->CurrentItem(), nullptr);
  EXPECT_EQ(w->CurrentItem()->Item->NodeName(), "client");
  EXPECT_EQ(w->CurrentItem()->Item->Text(), "Initech & Co");
  EXPECT_TRUE(w->Document()->Modified);
  EXPECT_EQ(w->windowTitle().toStdString(), "*" + scratch.Path("orders.xml"));

  // Retype to a comment: the name is the DOM's, the text stays.
  Select(*w, Child(order, 0));
  w->eNodeType->setCurrentIndex(8);
  w->Button1Click();
  ASSERT_NE(w->CurrentItem(), nullptr);
  EXPECT_EQ(w->CurrentItem()->Item->NodeType(), 8);
  EXPECT_EQ(w->CurrentItem()->Item->Text(), "Initech & Co");

  // Apply without any change leaves the order as it was.
  Select(*w, Child(order, 1)); // items
  w->Button1Click();
  EXPECT_EQ(ChildCaptions(order), "#comment|items (3/3)");
  w->actSaveExecute();
  const std::string saved = ReadFile(scratch.Path("orders.xml"));
  EXPECT_NE(saved.find("<!--Initech & Co-->"), std::string::npos) << saved;
  EXPECT_NE(saved.find("<item sku=\"C3\">5</item>"), std::string::npos) << saved;
  EXPECT_EQ(saved.find("customer>ACME"), std::string::npos) << saved;
}

TEST_F(EditorWindow, ApplyOnNodeWithChildrenKeepsThemAndIgnoresTheMemo) {
  auto w = Open("orders.xml");
  const Node order = Child(Root(*w), 0);
  Select(*w, order);
  EXPECT_TRUE(w->eNodeValueTxt->isReadOnly());
  w->eNodeName->setText("purchase");
  w->eNodeValueTxt->setPlainText("would wipe the children");
  w->Button1Click();
  const Node root = Root(*w);
  EXPECT_EQ(ChildCaptions(root), "purchase (2/5)|#comment|order (1/1)");
  w->actSaveExecute();
  const std::string saved = ReadFile(scratch.Path("orders.xml"));
  EXPECT_EQ(saved.find("wipe"), std::string::npos);
  EXPECT_NE(saved.find("<item sku=\"B2\">1</item>"), std::string::npos) << saved;
}

TEST_F(EditorWindow, ApplyWithInvalidNameShowsErrorAndChangesNothing) {
  auto w = Open("orders.xml");
  const Node order = Child(Root(*w), 0);
  Select(*w, order);
  w->eNodeName->setText("not a name");
  w->Button1Click();
  ASSERT_EQ(prompts.Errors.size(), 1u);
  EXPECT_EQ(prompts.Errors[0].back(), '.');
  EXPECT_TRUE(w->PanelModified());
  EXPECT_FALSE(w->Document()->Modified);
  EXPECT_EQ(ChildCaptions(Root(*w)), "order (2/5)|#comment|order (1/1)");
  // The automatic Apply fails the same way; the selection still moves on, the edit is dropped.
  Select(*w, Root(*w));
  EXPECT_EQ(prompts.Errors.size(), 2u);
  EXPECT_EQ(w->eTree->currentIndex(), Root(*w));
  EXPECT_EQ(CurrentRow(*w), Root(*w));
  EXPECT_EQ(w->eNodeName->text().toStdString(), "orders");
  EXPECT_FALSE(w->Document()->Modified);
  // Apply on the root is refused silently.
  w->eNodeName->setText("renamed");
  w->Button1Click();
  EXPECT_EQ(prompts.Errors.size(), 2u);
  EXPECT_TRUE(w->PanelModified());
  EXPECT_EQ(Caption(Root(*w)), "orders (3/9)");
}

TEST_F(EditorWindow, SelectionChangeAppliesPendingEditsFirst) {
  auto w = Open("orders.xml");
  const Node root = Root(*w);
  const Node second = Child(root, 2);
  Select(*w, Child(root, 0));
  w->eNodeName->setText("first");
  Select(*w, second);
  EXPECT_EQ(ChildCaptions(Root(*w)), "first (2/5)|#comment|order (1/1)");
  // The selection arrived where it was going, on the re-created tree node.
  ASSERT_NE(w->CurrentItem(), nullptr);
  EXPECT_EQ(w->CurrentItem()->Item->NodeName(), "order");
  EXPECT_EQ(w->eTree->currentIndex(), CurrentRow(*w));
  EXPECT_EQ(w->eNodeName->text().toStdString(), "order");
  EXPECT_FALSE(w->PanelModified());
}

TEST_F(EditorWindow, SelectionIntoTheAppliedSubtreeLandsOnTheNewNode) {
  auto w = Open("orders.xml");
  const Node order = Child(Root(*w), 0);
  w->eTree->setExpanded(order, true);
  Select(*w, order);
  w->eNodeName->setText("purchase");
  Select(*w, Child(order, 0)); // the customer goes with the old order
  ASSERT_NE(w->CurrentItem(), nullptr);
  EXPECT_EQ(w->CurrentItem()->Item->NodeName(), "purchase");
  EXPECT_EQ(w->eTree->currentIndex(), CurrentRow(*w));
}

TEST_F(EditorWindow, AttributeValueFollowsEachKeystrokeIntoTheSavedFile) {
  auto w = Open("orders.xml");
  const Node order = Child(Root(*w), 0);
  Select(*w, order);
  w->eAttr->setCurrentCell(1, 1);
  w->eAttr->editItem(w->eAttr->item(1, 1));
  auto *editor = w->eAttr->findChild<QLineEdit *>();
  ASSERT_NE(editor, nullptr);
  editor->selectAll();
  QTest::keyClicks(editor, "2025");
  EXPECT_EQ(w->CurrentItem()->Item->Attributes()->Items(1)->Text(), "2025");
  QTest::keyClick(editor, Qt::Key_Backspace);
  EXPECT_EQ(w->CurrentItem()->Item->Attributes()->Items(1)->Text(), "202");
  EXPECT_FALSE(w->PanelModified());
  EXPECT_TRUE(w->Document()->Modified); // closing now asks before the edit is lost
  EXPECT_EQ(w->windowTitle().toStdString(), "*" + scratch.Path("orders.xml"));
  w->actSaveExecute();
  EXPECT_NE(ReadFile(scratch.Path("orders.xml")).find("date=\"202\""), std::string::npos);

  // Typing in the "..." row of a node without attributes changes nothing in the document.
  Select(*w, Root(*w));
  EXPECT_TRUE(w->eAttrSetEditText(1, 1, "ignored"));
  w->actSaveExecute();
  EXPECT_EQ(ReadFile(scratch.Path("orders.xml")).find("ignored"), std::string::npos);
}

TEST_F(EditorWindow, AttributeAddCancelNewAndDuplicate) {
  auto w = Open("orders.xml");
  const Node second = Child(Root(*w), 2);
  Select(*w, second);
  prompts.Inputs = {std::nullopt, std::string("status"), std::string("id")};
  w->actAttrAdd->trigger();
  EXPECT_EQ(prompts.InputCaptions.at(0), "Create New Attribute");
  EXPECT_EQ(prompts.InputPrompts.at(0), "Attribut Name");
  EXPECT_EQ(prompts.InputInitial.at(0), "");
  EXPECT_EQ(w->eAttr->rowCount(), 1);
  w->actAttrAdd->trigger();
  ASSERT_EQ(w->eAttr->rowCount(), 2);
  EXPECT_EQ(Cell(*w, 1, 0), "status");
  EXPECT_EQ(Cell(*w, 1, 1), "");
  w->actAttrAdd->trigger(); // the element has an id already
  ASSERT_EQ(prompts.Errors.size(), 1u);
  EXPECT_EQ(w->eAttr->rowCount(), 2);
  EXPECT_EQ(w->CurrentItem()->Item->Attributes()->Count(), 2);
}

TEST_F(EditorWindow, AttributeDeleteOnDotsRowAndOnRealRow) {
  auto w = Open("orders.xml");
  const Node root = Root(*w);
  Select(*w, root);
  w->eAttr->setCurrentCell(0, 1);
  w->actAttrDel->trigger(); // "..." row: nothing
  EXPECT_EQ(w->eAttr->rowCount(), 1);
  Select(*w, Child(root, 0));
  w->eAttr->setCurrentCell(0, 1);
  w->actAttrDel->trigger();
  ASSERT_EQ(w->eAttr->rowCount(), 1);
  EXPECT_EQ(Cell(*w, 0, 0), "date");
  w->actSaveExecute();
  const std::string saved = ReadFile(scratch.Path("orders.xml"));
  EXPECT_NE(saved.find("<order date=\"2024-01-05\">"), std::string::npos) << saved;
}

TEST_F(EditorWindow, ClosePromptYesNoCancel) {
  auto w = Open("orders.xml");
  w->close(); // unmodified: no question
  EXPECT_TRUE(prompts.ConfirmTexts.empty());
  EXPECT_FALSE(w->isVisible());

  auto modified = [&] {
    auto m = Open("orders.xml");
    Select(*m, Child(Root(*m), 2));
    m->actAddInto->trigger();
    m->eNodeName->setText("added");
    m->Button1Click();
    EXPECT_TRUE(m->Document()->Modified);
    return m;
  };
  auto c = modified();
  prompts.Confirms = {Answer::Cancel};
  EXPECT_FALSE(c->close());
  EXPECT_TRUE(c->isVisible());
  EXPECT_TRUE(c->Document()->Modified);
  EXPECT_EQ(prompts.ConfirmTitles.at(0), "Confirm");
  EXPECT_EQ(prompts.ConfirmTexts.at(0),
            "File " + scratch.Path("orders.xml") + " has been changed.\r\n Do you want save?");

  const std::string before = ReadFile(scratch.Path("orders.xml"));
  prompts.Confirms = {Answer::No};
  EXPECT_TRUE(c->close());
  EXPECT_EQ(ReadFile(scratch.Path("orders.xml")), before);

  auto y = modified();
  prompts.Confirms = {Answer::Yes};
  EXPECT_TRUE(y->close());
  EXPECT_FALSE(y->Document()->Modified);
  EXPECT_NE(ReadFile(scratch.Path("orders.xml")), before);

  // Yes with a save that fails reports it and keeps the window; without a file name it asks
  // for one, and cancelling that keeps the window too.
  auto f = modified();
  f->Document()->FileName = scratch.Path("no/such/folder/orders.xml");
  prompts.Confirms = {Answer::Yes, Answer::Yes};
  EXPECT_FALSE(f->close());
  EXPECT_EQ(prompts.Errors.size(), 1u);
  EXPECT_TRUE(f->Document()->Modified);
  f->Document()->FileName.clear();
  prompts.FileNames = {""};
  EXPECT_FALSE(f->close());
  EXPECT_EQ(prompts.Masks, std::vector<std::string>{"*.xml"});
  EXPECT_EQ(prompts.Errors.size(), 1u);
  EXPECT_TRUE(f->isVisible());
}

TEST_F(EditorWindow, DocumentThatFailedToLoadSurvivesEveryCommand) {
  auto w = Open("broken.xml");
  EXPECT_EQ(w->TreeModel()->rowCount(), 0);
  EXPECT_FALSE(w->eNodeName->isEnabled());
  EXPECT_TRUE(w->eNodeName->text().isEmpty());
  for (QAction *action : {w->actDelete, w->actAdd, w->actAddInto, w->actExpand, w->actCollapse,
                          w->actInsertXML, w->actSaveHere, w->ActExcelImport, w->actAttrAdd, w->actAttrDel})
    action->trigger();
  w->Button1Click();
  EXPECT_TRUE(prompts.Errors.empty());
  EXPECT_TRUE(prompts.Masks.empty()); // nothing current: nothing asked
  // Save writes what there is; it fails cleanly rather than crash.
  w->actSave->trigger();
  EXPECT_EQ(w->TreeModel()->rowCount(), 0);
}

TEST_F(EditorWindow, EnterInNameOrTypeListApplies) {
  auto w = Open("orders.xml");
  w->activateWindow();
  Select(*w, Child(Root(*w), 2));
  w->eNodeName->setText("late");
  QTest::keyClick(w->eNodeName, Qt::Key_Return);
  EXPECT_EQ(ChildCaptions(Root(*w)), "order (2/5)|#comment|late (1/1)");
  Select(*w, Child(Root(*w), 0));
  w->eNodeName->setText("early");
  QTest::keyClick(w->eNodeType, Qt::Key_Enter);
  EXPECT_EQ(ChildCaptions(Root(*w)), "early (2/5)|#comment|late (1/1)");
}

TEST_F(EditorWindow, LongReadOnlyTextIsShownCut) {
  // 70,000 two-byte characters under a child: the parent's joined text is cut at a character
  // boundary; the child, whose text can be edited, shows all of it.
  std::string big;
  for (int i = 0; i < 70000; ++i)
    big += "\xC3\xA9";
  WriteFile(scratch.Path("long.xml"), "<root><child>" + big + "</child></root>");
  auto w = OpenWindow(scratch.Path("long.xml"));
  Select(*w, Root(*w));
  const QString shown = w->eNodeValueTxt->toPlainText();
  EXPECT_TRUE(shown.endsWith("\n[...]"));
  EXPECT_EQ(shown.size(), 32 * 1024 + 6);
  Select(*w, Child(Root(*w), 0));
  EXPECT_EQ(w->eNodeValueTxt->toPlainText().size(), 70000);
}

TEST_F(EditorWindow, MouseAndKeyboardSelectionApplyPendingEdits) {
  auto w = Open("orders.xml");
  w->activateWindow();
  ASSERT_TRUE(QTest::qWaitForWindowActive(w.get()));
  const Node order = Child(Root(*w), 0);
  w->eTree->setExpanded(order, true);
  auto click = [&](const QModelIndex &node) {
    QTest::mouseClick(w->eTree->viewport(), Qt::LeftButton, {}, w->eTree->visualRect(node).center());
  };
  click(Child(order, 0));
  EXPECT_EQ(w->CurrentItem()->Item->NodeName(), "customer");
  w->eNodeName->setText("client");
  click(Child(order, 1));
  ASSERT_NE(w->CurrentItem(), nullptr);
  EXPECT_EQ(w->CurrentItem()->Item->NodeName(), "items");
  EXPECT_EQ(ChildCaptions(order), "client|items (3/3)");
  QCoreApplication::processEvents();
  EXPECT_EQ(w->eTree->selectionModel()->selectedIndexes(), QModelIndexList{CurrentRow(*w)});

  w->eNodeName->setText("goods");
  w->eTree->setFocus();
  QTest::keyClick(w->eTree, Qt::Key_Down);
  EXPECT_EQ(ChildCaptions(order), "client|goods (3/3)");
  EXPECT_EQ(w->CurrentItem()->Item->NodeName(), "#comment");
  EXPECT_TRUE(prompts.Errors.empty());
}

TEST_F(EditorWindow, PopupMenusAndShortcuts) {
  auto w = Open("orders.xml");
  std::vector<std::string> items;
  for (QAction *action : w->pmTree->actions())
    items.push_back(action->isSeparator() ? "-" : action->text().toStdString());
  EXPECT_EQ(items, (std::vector<std::string>{"Create New", "Create New Into", "-", "Insert XML Here",
                                             "Save This Element To XML", "Excel Import", "-", "Delete", "-",
                                             "Expand", "Collapse", "-", "Copy XPath"}));
  EXPECT_EQ(w->actDelete->shortcutContext(), Qt::WidgetShortcut);
  EXPECT_EQ(w->actAddInto->shortcut(), QKeySequence(Qt::CTRL | Qt::Key_Insert));
  EXPECT_EQ(w->actSaveAs->shortcut(), QKeySequence(Qt::Key_F12));
  emit w->eTree->customContextMenuRequested(QPoint(5, 5));
  EXPECT_TRUE(w->pmTree->isVisible());
  w->pmTree->close();
  emit w->eAttr->customContextMenuRequested(QPoint(5, 5));
  EXPECT_TRUE(w->pmAttr->isVisible());
  w->pmAttr->close();
  std::vector<std::string> menu;
  for (QAction *action : w->MainMenu1->actions())
    menu.push_back(action->text().toStdString());
  EXPECT_EQ(w->MainMenu1->title().toStdString(), "XML");
  EXPECT_EQ(menu, (std::vector<std::string>{"Save", "Save As...", "", "Validate", "Next Error", "Previous Error",
                                            "Find...", "Find Next", "Find Previous"}));
}

TEST(ErrorDisplay, AppendsFullStopOnlyWhenMissing) {
  EXPECT_EQ(editor::ErrorDisplayText("Bad name"), "Bad name.");
  EXPECT_EQ(editor::ErrorDisplayText("Bad name."), "Bad name.");
  EXPECT_EQ(editor::ErrorDisplayText(""), ".");
  FakePrompts prompts;
  EXPECT_EQ(editor::Guarded([] { throw common::EAbort("Cannot make new node here"); }),
            editor::GuardResult::Aborted);
  EXPECT_TRUE(prompts.Errors.empty());
  EXPECT_EQ(editor::Guarded([] { throw common::Exception("boom"); }), editor::GuardResult::Failed);
  EXPECT_EQ(prompts.Errors, std::vector<std::string>{"boom."});
}

TEST(FileMask, FilterAndDefaultExtension) {
  const editor::FileMask xml = editor::ParseFileMask("*.xml");
  EXPECT_EQ(xml.Directory, "");
  EXPECT_EQ(xml.Filter, "*.xml (*.xml)");
  EXPECT_EQ(xml.DefaultSuffix, "xml");
  const editor::FileMask dir = editor::ParseFileMask("/tmp/in/*.xsl");
  EXPECT_EQ(dir.Directory, "/tmp/in");
  EXPECT_EQ(dir.DefaultSuffix, "xsl");
}

} // namespace

static ::testing::Environment *const qtEnvironment = ::testing::AddGlobalTestEnvironment(new QtEnvironment);
