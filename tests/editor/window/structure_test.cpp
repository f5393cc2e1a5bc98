// Structure commands: Create New (Into), Delete, Expand, Collapse, drag moves, Insert XML Here,
// Save This Element To XML, Save and Save As.

#include <QComboBox>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QTableWidget>
#include <QTest>
#include <QUndoStack>

#include <gtest/gtest.h>

#include <vector>

#include "window_support.h"

using namespace testing_support;
using editor::TfrmXMLMain;

namespace {

class Structure : public ::testing::Test {
protected:
  FakePrompts prompts;
  Scratch scratch;
  std::string path;
  std::unique_ptr<TfrmXMLMain> w;

  void SetUp() override {
    path = scratch.Copy("orders.xml");
    w = OpenWindow(path);
  }
  QModelIndex Root() const { return testing_support::Root(*w); }
  QModelIndex FirstOrder() const { return Child(Root(), 0); }
  std::string Saved() {
    w->actSaveExecute();
    return ReadFile(path);
  }
  static std::string Expected(const std::string &name) {
    return ReadFile(std::string(XE_TEST_DATA) + "/editor/expected/" + name);
  }
  int CountNodes() const { return 1 + RowsBelow(Root()); }
};

TEST_F(Structure, CreateNewPreparesPlaceholderAndInvalidNameFailsOnSelectionChange) {
  const Node order = FirstOrder();
  Select(*w, order);
  w->actAdd->trigger();
  ASSERT_NE(w->CurrentItem(), nullptr);
  EXPECT_TRUE(w->CurrentItem()->IsNew);
  EXPECT_FALSE(CurrentRow(*w).isValid());
  EXPECT_EQ(w->eNodeName->text().toStdString(), "New Name...");
  EXPECT_EQ(w->eNodeName->selectedText().toStdString(), "New Name...");
  EXPECT_TRUE(w->eNodeValueTxt->toPlainText().isEmpty());
  EXPECT_EQ(w->eNodeType->currentIndex(), 1);     // kept from the order
  EXPECT_EQ(w->eAttr->item(0, 0)->text(), "..."); // the order's attributes are not offered
  EXPECT_TRUE(w->PanelModified());
  // Commands that need a node say so while the placeholder stands for one.
  w->actAttrAdd->trigger();
  w->actCopy->trigger();
  ASSERT_EQ(prompts.Errors.size(), 2u);
  EXPECT_EQ(prompts.Errors[0], "Apply the new node first.");
  prompts.Errors.clear();

  const Node second = Child(Root(), 2);
  Select(*w, second);
  ASSERT_EQ(prompts.Errors.size(), 1u);
  EXPECT_EQ(prompts.Errors[0], "\"New Name...\" is not a valid XML name.");
  EXPECT_FALSE(w->Document()->Modified);
  EXPECT_EQ(ChildCaptions(Root()), "order (2/5)|#comment|order (1/1)");
  // The placeholder is dropped and the selection arrives.
  EXPECT_FALSE(w->CurrentItem()->IsNew);
  EXPECT_EQ(CurrentRow(*w), second);
  EXPECT_EQ(w->eNodeName->text().toStdString(), "order");
}

TEST_F(Structure, CreateNewWithValidNameAddsTheLastSiblingWhichDeleteRemoves) {
  const Node order = FirstOrder();
  w->eTree->setExpanded(order, true);
  Select(*w, Child(order, 0)); // customer
  w->actAdd->trigger();
  w->eNodeName->setText("note");
  w->eNodeValueTxt->setPlainText("call first");
  w->Button1Click();
  EXPECT_TRUE(prompts.Errors.empty());
  EXPECT_EQ(ChildCaptions(order), "customer|items (3/3)|note");
  // The new node is current, selected and shown.
  EXPECT_FALSE(w->CurrentItem()->IsNew);
  EXPECT_EQ(w->eTree->currentIndex(), Child(order, 2));
  EXPECT_EQ(CurrentRow(*w), Child(order, 2));
  EXPECT_EQ(w->eNodeName->text().toStdString(), "note");
  EXPECT_FALSE(w->PanelModified());
  EXPECT_EQ(Saved(), Expected("create_new.xml"));
  // A second Apply re-creates the note in its place; Delete then removes it.
  w->Button1Click();
  EXPECT_EQ(ChildCaptions(order), "customer|items (3/3)|note");
  w->actDelete->trigger();
  EXPECT_EQ(ChildCaptions(order), "customer|items (3/3)");
  EXPECT_EQ(Saved(), ReadFile(std::string(XE_TEST_DATA) + "/editor/orders.xml"));
}

TEST_F(Structure, ARefusedApplyOfAPlaceholderLeavesTheFlagAsItWas) {
  Select(*w, FirstOrder());
  w->actAddInto->trigger();
  w->eNodeName->setText("#comment");
  w->eNodeType->setCurrentIndex(8);
  w->eNodeValueTxt->setPlainText("not -- allowed");
  w->Button1Click();
  ASSERT_EQ(prompts.Errors.size(), 1u);
  EXPECT_FALSE(w->Document()->Modified);
  EXPECT_EQ(w->windowTitle().toStdString(), path);
  EXPECT_EQ(Caption(FirstOrder()), "order (2/5)");
  EXPECT_TRUE(w->CurrentItem()->IsNew);
  // Del drops the placeholder; the selected node is current again.
  w->actDelete->trigger();
  EXPECT_EQ(CurrentRow(*w), FirstOrder());
  EXPECT_EQ(w->eNodeName->text().toStdString(), "order");
}

TEST_F(Structure, CreateNewOnTheRootDoesNothing) {
  Select(*w, Root());
  w->actAdd->trigger();
  w->eNodeName->setText("sibling");
  w->Button1Click();
  EXPECT_TRUE(prompts.Errors.empty());
  EXPECT_FALSE(w->Document()->Modified);
  EXPECT_EQ(w->TreeModel()->rowCount(), 1);
  // Moving on abandons the placeholder silently.
  Select(*w, Child(Root(), 0));
  EXPECT_TRUE(prompts.Errors.empty());
  EXPECT_FALSE(w->CurrentItem()->IsNew);
  EXPECT_EQ(ReadFile(path), ReadFile(std::string(XE_TEST_DATA) + "/editor/orders.xml"));
}

TEST_F(Structure, CreateNewIntoAppliedByMovingTheSelection) {
  const Node order = FirstOrder();
  w->eTree->setExpanded(order, true);
  const Node items = Child(order, 1);
  Select(*w, items);
  w->actAddInto->trigger();
  w->eNodeName->setText("item");
  w->eNodeValueTxt->setPlainText("7");
  Select(*w, Child(Root(), 2));
  EXPECT_TRUE(prompts.Errors.empty());
  EXPECT_EQ(w->CurrentItem()->Item->NodeName(), "order");
  EXPECT_EQ(ChildCount(Child(FirstOrder(), 1)), 4);
  EXPECT_EQ(Saved(), Expected("create_into.xml"));
}

TEST_F(Structure, DeleteRemovesTheSubtreeAndCountsFollow) {
  Select(*w, FirstOrder());
  w->actDelete->trigger();
  EXPECT_EQ(ChildCaptions(Root()), "#comment|order (1/1)");
  EXPECT_EQ(Caption(Root()), "orders (2/3)");
  ASSERT_NE(w->CurrentItem(), nullptr);
  EXPECT_EQ(CurrentRow(*w), Root());
  EXPECT_TRUE(w->Document()->Modified); // so closing asks before the deletion is lost
  EXPECT_EQ(Saved(), Expected("delete.xml"));
  // Delete on the root removes nothing.
  Select(*w, Root());
  w->actDelete->trigger();
  EXPECT_EQ(Caption(Root()), "orders (2/3)");
  EXPECT_EQ(w->UndoStack()->count(), 1);
}

TEST_F(Structure, ExpandShowsEachNodeOnceAndCollapseDiscards) {
  w->eTree->setExpanded(FirstOrder(), true);
  w->eTree->setExpanded(Child(FirstOrder(), 1), true);
  Select(*w, Root());
  w->actExpand->trigger();
  EXPECT_EQ(CountNodes(), 10); // the root and its nine descendants, none twice
  // Every node with children is open in the view.
  std::vector<QModelIndex> nodes{Root()};
  for (size_t i = 0; i < nodes.size(); ++i) {
    EXPECT_EQ(IsExpanded(*w, nodes[i]), ChildCount(nodes[i]) > 0) << Caption(nodes[i]);
    for (int row = 0; row < ChildCount(nodes[i]); ++row)
      nodes.push_back(Child(nodes[i], row));
  }
  EXPECT_EQ(ChildCaptions(Child(FirstOrder(), 1)), "item|item|item");
  w->actExpand->trigger();
  EXPECT_EQ(CountNodes(), 10);
  w->actCollapse->trigger();
  EXPECT_EQ(ChildCount(Root()), 0);
  EXPECT_FALSE(IsExpanded(*w, Root()));
  EXPECT_TRUE(HasExpandButton(Root()));
}

TEST_F(Structure, DragOntoAnExpandedNodeShowsTheMovedNodeAtOnce) {
  const Node first = FirstOrder();
  const Node second = Child(Root(), 2);
  w->eTree->setExpanded(first, true);
  w->eTree->setExpanded(second, true);
  Select(*w, Child(first, 0));
  w->eTreeStartDrag();
  ASSERT_TRUE(w->eTreeEndDrag(second));
  EXPECT_EQ(ChildCaptions(first), "items (3/3)");
  EXPECT_EQ(ChildCaptions(second), "customer|customer");
  EXPECT_EQ(CurrentRow(*w), Child(second, 1));
  EXPECT_EQ(ItemOf(Child(second, 1))->Text(), "ACME");
  EXPECT_EQ(Saved(), Expected("drag.xml"));
}

TEST_F(Structure, DragOntoTheOwnParentMovesToTheEnd) {
  const Node first = FirstOrder();
  w->eTree->setExpanded(first, true);
  Select(*w, Child(first, 0));
  w->eTreeStartDrag();
  ASSERT_TRUE(w->eTreeEndDrag(first));
  EXPECT_EQ(ChildCaptions(first), "items (3/3)|customer");
}

TEST_F(Structure, RefusedDropsChangeNothing) {
  const Node first = FirstOrder();
  w->eTree->setExpanded(first, true);
  const Node items = Child(first, 1);
  auto refused = [&](const QModelIndex &dragged, const QModelIndex &target) {
    Select(*w, dragged);
    w->eTreeStartDrag();
    EXPECT_FALSE(w->eTreeEndDrag(target));
    EXPECT_EQ(w->DragItem(), nullptr);
  };
  refused(first, first);   // onto itself
  refused(first, items);   // into its own subtree
  refused(Root(), first);  // the root is an ancestor of everything
  refused(items, QModelIndex()); // empty space
  auto other = OpenWindow(scratch.Copy("part.xml"));
  refused(items, testing_support::Root(*other)); // a node of another window
  EXPECT_FALSE(w->Document()->Modified);
  EXPECT_FALSE(other->Document()->Modified);
  EXPECT_EQ(ChildCaptions(first), "customer|items (3/3)");
  EXPECT_TRUE(prompts.Errors.empty());
}

TEST_F(Structure, InsertXmlHereAddsOneChildLaidOutWhereItLands) {
  const Node second = Child(Root(), 2);
  w->eTree->setExpanded(second, true);
  Select(*w, second);
  prompts.FileNames = {"", scratch.Copy("broken.xml"), scratch.Copy("part.xml")};
  w->actInsertXML->trigger(); // cancelled
  w->actInsertXML->trigger(); // cannot be read
  ASSERT_EQ(prompts.Errors.size(), 1u);
  EXPECT_FALSE(w->Document()->Modified);
  w->actInsertXML->trigger();
  EXPECT_EQ(prompts.Masks, (std::vector<std::string>{"*.xml", "*.xml", "*.xml"}));
  const Node shown = Child(Root(), 2);
  EXPECT_EQ(Caption(shown), "order (2/4)");
  EXPECT_EQ(ChildCaptions(shown), "customer|extra (2/2)");
  EXPECT_EQ(CurrentRow(*w), shown);
  EXPECT_EQ(Saved(), Expected("insert.xml"));
}

TEST_F(Structure, SaveThisElementWithAndWithoutChildren) {
  const Node first = FirstOrder();
  w->eTree->setExpanded(first, true);
  Select(*w, first);
  prompts.FileNames = {scratch.Path("order_out.xml"), scratch.Path("customer_out.xml"), ""};
  w->actSaveHere->trigger();
  EXPECT_EQ(ReadFile(scratch.Path("order_out.xml")), Expected("save_here_order.xml"));
  Select(*w, Child(first, 0));
  w->actSaveHere->trigger();
  EXPECT_EQ(ReadFile(scratch.Path("customer_out.xml")),
            "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<customer>ACME</customer>\n");
  w->actSaveHere->trigger(); // cancelled
  EXPECT_FALSE(w->Document()->Modified);
  EXPECT_EQ(ReadFile(path), ReadFile(std::string(XE_TEST_DATA) + "/editor/orders.xml"));
}

TEST_F(Structure, SaveAsCancelledAndDone) {
  const std::string before = ReadFile(path);
  Select(*w, Child(Root(), 2));
  w->Button1Click(); // modified
  prompts.FileNames = {""};
  w->actSaveAs->trigger();
  EXPECT_EQ(w->Document()->FileName, path);
  EXPECT_TRUE(w->Document()->Modified);
  EXPECT_EQ(ReadFile(path), before);
  prompts.FileNames = {scratch.Path("copy.xml")};
  w->actSaveAs->trigger();
  EXPECT_EQ(w->Document()->FileName, scratch.Path("copy.xml"));
  EXPECT_FALSE(w->Document()->Modified);
  EXPECT_EQ(w->windowTitle().toStdString(), scratch.Path("copy.xml"));
  EXPECT_EQ(ReadFile(path), before);
}

TEST_F(Structure, SaveOfNewDocumentAsksForAName) {
  auto document = std::make_unique<xmlmodel::TOrbMainXML>();
  document->NewDocument("root");
  auto fresh = std::make_unique<TfrmXMLMain>();
  fresh->SetDocument(std::move(document));
  prompts.FileNames = {"", scratch.Path("new.xml")};
  fresh->actSave->trigger(); // cancelled: nothing written, nothing shown
  EXPECT_TRUE(prompts.Errors.empty());
  EXPECT_EQ(fresh->Document()->FileName, "");
  fresh->actSave->trigger();
  EXPECT_EQ(fresh->Document()->FileName, scratch.Path("new.xml"));
  EXPECT_EQ(ReadFile(scratch.Path("new.xml")), "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<root/>\n");
}

TEST_F(Structure, TreeShortcutsActOnlyWithTreeFocus) {
  w->activateWindow();
  ASSERT_TRUE(QTest::qWaitForWindowActive(w.get()));
  Select(*w, FirstOrder());
  w->eNodeName->setFocus();
  QTest::keyClick(w->eNodeName, Qt::Key_Delete);
  EXPECT_EQ(ChildCaptions(Root()), "order (2/5)|#comment|order (1/1)");
  w->eNodeName->setText("order"); // undo whatever Del did to the text
  w->Button1Click();              // gives the tree the focus
  Select(*w, Child(Root(), 1));   // the comment
  w->eTree->setFocus();
  QTest::keyClick(w->eTree, Qt::Key_Delete);
  EXPECT_EQ(ChildCaptions(Root()), "order (2/5)|order (1/1)");
  QTest::keyClick(w->eTree, Qt::Key_F5); // window-wide
  EXPECT_EQ(CountNodes(), 9);
}

} // namespace

static ::testing::Environment *const qtEnvironment = ::testing::AddGlobalTestEnvironment(new QtEnvironment);
