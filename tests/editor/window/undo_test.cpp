// Undo, redo and the clipboard through the real window: keys with the tree focused, the Edit
// menu's texts, the modified mark, and copy and paste between windows.

#include <QApplication>
#include <QClipboard>
#include <QLineEdit>
#include <QMimeData>
#include <QPlainTextEdit>
#include <QTableWidget>
#include <QTest>
#include <QUndoStack>

#include <gtest/gtest.h>

#include "window_support.h"

using namespace testing_support;
using editor::TfrmXMLMain;

namespace {

class Undo : public ::testing::Test {
protected:
  FakePrompts prompts;
  Scratch scratch;
  std::string path;
  std::string original;
  std::unique_ptr<TfrmXMLMain> w;

  void SetUp() override {
    path = scratch.Copy("orders.xml");
    original = ReadFile(path);
    w = OpenWindow(path);
    w->activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(w.get()));
  }
  QModelIndex Root() const { return testing_support::Root(*w); }
  void Key(Qt::Key key, Qt::KeyboardModifiers modifiers = {}) {
    w->eTree->setFocus();
    QTest::keyClick(w->eTree, key, modifiers);
  }
  std::string Bytes() const { return w->Document()->XMLDoc().SaveToString(); }
};

TEST_F(Undo, DeleteThenCtrlZBringsTheNodeBackInItsPlaceWithTheTreeAsItWas) {
  const Node first = Child(Root(), 0);
  const Node second = Child(Root(), 2);
  w->eTree->setExpanded(second, true);
  w->eTree->setExpanded(first, true);
  Select(*w, Child(first, 1)); // items
  Key(Qt::Key_Delete);
  EXPECT_EQ(ChildCaptions(first), "customer");
  EXPECT_EQ(Caption(Root()), "orders (3/5)");
  EXPECT_EQ(w->actUndo->text().toStdString(), "Undo Delete items");
  EXPECT_EQ(w->windowTitle().toStdString(), "*" + path);
  Key(Qt::Key_Z, Qt::ControlModifier);
  EXPECT_EQ(ChildCaptions(first), "customer|items (3/3)");
  EXPECT_EQ(Caption(Root()), "orders (3/9)");
  // The other nodes kept their tree nodes and expansion; the restored node is current.
  EXPECT_EQ(Child(Root(), 0), first);
  EXPECT_TRUE(IsExpanded(*w, first));
  EXPECT_TRUE(IsExpanded(*w, second));
  EXPECT_EQ(CurrentRow(*w), Child(first, 1));
  EXPECT_EQ(w->eTree->currentIndex(), Child(first, 1));
  EXPECT_EQ(w->eNodeName->text().toStdString(), "items");
  // Back at the saved state: no "*", and closing asks nothing.
  EXPECT_EQ(w->windowTitle().toStdString(), path);
  EXPECT_FALSE(w->Document()->Modified);
  EXPECT_TRUE(w->TryClose());
  EXPECT_TRUE(prompts.ConfirmTexts.empty());
  EXPECT_EQ(Bytes(), original);
  // Both redo keys do it again.
  EXPECT_EQ(w->actRedo->text().toStdString(), "Redo Delete items");
  Key(Qt::Key_Y, Qt::ControlModifier);
  EXPECT_EQ(ChildCaptions(first), "customer");
  Key(Qt::Key_Z, Qt::ControlModifier);
  Key(Qt::Key_Z, Qt::ControlModifier | Qt::ShiftModifier);
  EXPECT_EQ(ChildCaptions(first), "customer");
  EXPECT_TRUE(w->Document()->Modified);
}

TEST_F(Undo, SaveIsTheCleanStateAndUndoPastItMarksTheDocumentAgain) {
  Select(*w, Child(Root(), 1)); // the comment
  Key(Qt::Key_Delete);
  w->actSave->trigger();
  EXPECT_EQ(w->windowTitle().toStdString(), path);
  Key(Qt::Key_Z, Qt::ControlModifier);
  EXPECT_EQ(w->windowTitle().toStdString(), "*" + path);
  EXPECT_EQ(Bytes(), original);
  Key(Qt::Key_Y, Qt::ControlModifier);
  EXPECT_EQ(w->windowTitle().toStdString(), path);
  EXPECT_EQ(Bytes(), ReadFile(path));
}

TEST_F(Undo, CreateNewApplyThenDelRemovesTheNewNode) {
  const Node first = Child(Root(), 0);
  Select(*w, first);
  Key(Qt::Key_Insert, Qt::ControlModifier); // Create New Into
  w->eNodeName->setText("note");
  QTest::keyClick(w->eNodeName, Qt::Key_Return);
  EXPECT_EQ(ChildCaptions(first), "customer|items (3/3)|note");
  EXPECT_EQ(w->actUndo->text().toStdString(), "Undo Create note");
  Key(Qt::Key_Delete);
  EXPECT_EQ(ChildCaptions(first), "customer|items (3/3)");
  EXPECT_EQ(Bytes(), original);
  // Undoing both steps goes back to the saved state, redoing both gives the note's removal again.
  Key(Qt::Key_Z, Qt::ControlModifier);
  EXPECT_EQ(ChildCaptions(first), "customer|items (3/3)|note");
  Key(Qt::Key_Z, Qt::ControlModifier);
  EXPECT_FALSE(w->Document()->Modified);
  EXPECT_EQ(CurrentRow(*w), first);
}

TEST_F(Undo, ApplyAndAttributeEditsAreStepsAndOneCellEditIsOne) {
  const Node first = Child(Root(), 0);
  Select(*w, first);
  w->eAttr->setCurrentCell(0, 1);
  w->eAttr->editItem(w->eAttr->item(0, 1));
  auto *editor = qobject_cast<QLineEdit *>(QApplication::focusWidget());
  ASSERT_NE(editor, nullptr);
  editor->selectAll();
  QTest::keyClicks(editor, "42");
  EXPECT_EQ(w->UndoStack()->count(), 1);
  EXPECT_EQ(w->actUndo->text().toStdString(), "Undo Edit attribute id");
  // The editing keys belong to the cell editor while it is open.
  QTest::keyClick(editor, Qt::Key_Z, Qt::ControlModifier);
  EXPECT_EQ(editor->text().toStdString(), "1");
  EXPECT_EQ(w->UndoStack()->index(), 1);
  editor->selectAll();
  QTest::keyClicks(editor, "42");
  EXPECT_EQ(w->UndoStack()->count(), 1);
  QTest::keyClick(editor, Qt::Key_Return);
  w->eNodeName->setText("purchase");
  w->Button1Click();
  EXPECT_EQ(w->UndoStack()->count(), 2);
  const std::string after = Bytes();
  EXPECT_NE(after.find("<purchase id=\"42\" date=\"2024-01-05\">"), std::string::npos) << after;
  w->UndoStack()->undo();
  w->UndoStack()->undo();
  EXPECT_EQ(Bytes(), original);
  EXPECT_EQ(w->AttributeText(1).toStdString(), "1"); // the grid shows the restored value
  w->UndoStack()->redo();
  w->UndoStack()->redo();
  EXPECT_EQ(Bytes(), after);
}

TEST_F(Undo, PasteOfTextThatIsNotXmlShowsTheErrorAndChangesNothing) {
  QApplication::clipboard()->setText("just <b>words");
  Select(*w, Child(Root(), 0));
  Key(Qt::Key_V, Qt::ControlModifier);
  ASSERT_EQ(prompts.Errors.size(), 1u);
  EXPECT_NE(prompts.Errors[0].find("not well-formed"), std::string::npos) << prompts.Errors[0];
  EXPECT_NE(prompts.Errors[0].find("(line 1)"), std::string::npos) << prompts.Errors[0];
  EXPECT_EQ(w->UndoStack()->count(), 0);
  EXPECT_FALSE(w->Document()->Modified);
  EXPECT_EQ(Bytes(), original);
  // A comment cannot hold the pasted nodes.
  QApplication::clipboard()->setText("<x/>");
  Select(*w, Child(Root(), 1));
  Key(Qt::Key_V, Qt::ControlModifier);
  ASSERT_EQ(prompts.Errors.size(), 2u);
  EXPECT_EQ(Bytes(), original);
}

TEST_F(Undo, CopyInOneWindowAndPasteInAnother) {
  const std::string otherPath = scratch.Path("other.xml");
  WriteFile(otherPath, "<root>\n  <kept/>\n</root>\n");
  auto other = OpenWindow(otherPath);
  const Node order = Child(Root(), 0);
  w->eTree->setExpanded(order, true);
  Select(*w, Child(order, 1)); // items, at depth 2
  Key(Qt::Key_C, Qt::ControlModifier);
  const QMimeData *mime = QApplication::clipboard()->mimeData();
  ASSERT_NE(mime, nullptr);
  EXPECT_TRUE(mime->hasFormat("application/xml"));
  EXPECT_EQ(mime->text().toStdString(), "<items>\n"
                                        "  <item sku=\"A1\">2</item>\n"
                                        "  <item sku=\"B2\">1</item>\n"
                                        "  <item sku=\"C3\">5</item>\n"
                                        "</items>");
  Select(*other, testing_support::Root(*other));
  other->actPaste->trigger();
  EXPECT_TRUE(prompts.Errors.empty());
  EXPECT_EQ(ChildCaptions(testing_support::Root(*other)), "kept|items (3/3)");
  // The copy takes the indentation of where it lands.
  EXPECT_EQ(other->Document()->XMLDoc().SaveToString(), "<root>\n"
                                                        "  <kept/>\n"
                                                        "  <items>\n"
                                                        "    <item sku=\"A1\">2</item>\n"
                                                        "    <item sku=\"B2\">1</item>\n"
                                                        "    <item sku=\"C3\">5</item>\n"
                                                        "  </items>\n"
                                                        "</root>\n");
  EXPECT_EQ(other->actUndo->text().toStdString(), "Undo Paste items");
  other->actUndo->trigger();
  EXPECT_EQ(other->Document()->XMLDoc().SaveToString(), "<root>\n  <kept/>\n</root>\n");
  EXPECT_EQ(Bytes(), original); // copying changed nothing

  // Cut is Copy and Delete as one step.
  Select(*w, Child(order, 1));
  Key(Qt::Key_X, Qt::ControlModifier);
  EXPECT_EQ(ChildCaptions(order), "customer");
  EXPECT_EQ(w->actUndo->text().toStdString(), "Undo Cut items");
  EXPECT_EQ(QApplication::clipboard()->text().left(7).toStdString(), "<items>");
  w->actUndo->trigger();
  EXPECT_EQ(Bytes(), original);
}

TEST_F(Undo, CtrlDragCopiesAndUndoTakesTheCopyBack) {
  const Node first = Child(Root(), 0);
  const Node second = Child(Root(), 2);
  w->eTree->setExpanded(first, true);
  Select(*w, Child(first, 0)); // customer
  w->eTreeStartDrag();
  ASSERT_TRUE(w->eTreeEndDrag(second, true));
  EXPECT_EQ(ChildCaptions(first), "customer|items (3/3)");
  EXPECT_EQ(ChildCaptions(second), "customer|customer");
  EXPECT_EQ(w->actUndo->text().toStdString(), "Undo Copy customer");
  w->actUndo->trigger();
  EXPECT_EQ(ChildCaptions(second), "customer");
  EXPECT_EQ(Bytes(), original);
}

} // namespace

static ::testing::Environment *const qtEnvironment = ::testing::AddGlobalTestEnvironment(new QtEnvironment);
