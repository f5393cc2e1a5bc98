// Validate, find and the current node's path through a real editor window, offscreen.

#include <QAction>
#include <QApplication>
#include <QClipboard>
#include <QLabel>
#include <QCheckBox>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QTest>
#include <QTreeWidget>

#include <gtest/gtest.h>

#include "editor/editor_search.h"
#include "editor/errors_panel.h"
#include "editor/find_bar.h"
#include "fake_prompts.h"
#include "search_support.h"
#include "window_support.h"
#include "xmlmodel/node_path.h"

using namespace testing_support;
using search_support::kDir;

namespace {

// The node the window shows as current.
xmlNode *CurrentNode(editor::TfrmXMLMain &window) {
  return window.CurrentItem() ? window.CurrentItem()->Item->Node() : nullptr;
}

// How many tree rows the tree holds below its root.
int TreeNodesBelowRoot(editor::TfrmXMLMain &window) { return RowsBelow(Root(window)); }

std::unique_ptr<editor::TfrmXMLMain> Open(const std::string &name) {
  auto window = OpenWindow(kDir + name);
  window->activateWindow();
  EXPECT_TRUE(QTest::qWaitForWindowActive(window.get()));
  return window;
}

} // namespace

TEST(SearchWindow, ValidateListsEveryErrorAndGoesToItsNodeInATreeNeverExpanded) {
  FakePrompts prompts;
  auto window = Open("orders_errors.xml");
  editor::TEditorSearch *search = window->findChild<editor::TEditorSearch *>();
  ASSERT_NE(search, nullptr);
  const int before = TreeNodesBelowRoot(*window);
  EXPECT_EQ(before, 4); // the root is expanded one level: four orders

  QTest::keyClick(window.get(), Qt::Key_F7);
  ASSERT_TRUE(search->pErrors->isVisible());
  ASSERT_EQ(search->pErrors->eErrors->topLevelItemCount(), 5);

  // The error of the third order's status: its node is made current, its ancestors expanded.
  QTreeWidgetItem *row = search->pErrors->eErrors->topLevelItem(2);
  search->pErrors->eErrors->setCurrentItem(row);
  emit search->pErrors->eErrors->itemActivated(row, 0);
  ASSERT_NE(CurrentNode(*window), nullptr);
  EXPECT_EQ(xmlmodel::NodePath(CurrentNode(*window)), "/orders/order[3]/status");
  EXPECT_EQ(window->eTree->currentIndex(), CurrentRow(*window));
  EXPECT_EQ(search->lWhere->text().toStdString(), "/orders/order[3]/status   line 16");

  // F8 goes on to the next error, Shift+F8 back.
  QTest::keyClick(window.get(), Qt::Key_F8);
  EXPECT_EQ(xmlmodel::NodePath(CurrentNode(*window)), "/orders/order[4]");
  QTest::keyClick(window.get(), Qt::Key_F8, Qt::ShiftModifier);
  EXPECT_EQ(xmlmodel::NodePath(CurrentNode(*window)), "/orders/order[3]/status");

  // Copy XPath from the tree's menu.
  search->actCopyXPath->trigger();
  EXPECT_EQ(QApplication::clipboard()->text().toStdString(), "/orders/order[3]/status");
}

TEST(SearchWindow, AnUnsavedEditIsValidated) {
  FakePrompts prompts;
  auto window = Open("orders_valid.xml");
  auto *search = window->findChild<editor::TEditorSearch *>();
  search->actValidate->trigger();
  EXPECT_EQ(search->pErrors->lStatus->text().toStdString(), "The document is valid.");

  xmlmodel::TOrbXMLItem *qty = window->Document()->RootItem()->Children()->Items(0)->Children()->Items(1);
  window->ShowNode(qty->Node());
  window->eNodeValueTxt->setPlainText("zero");
  window->Button1Click();
  EXPECT_TRUE(window->Document()->Modified);
  search->actValidate->trigger();
  ASSERT_EQ(search->pErrors->ErrorCount(), 1);
  EXPECT_EQ(search->pErrors->eErrors->topLevelItem(0)->text(2).toStdString(), "/orders/order[1]/qty");
}

TEST(SearchWindow, FindBarFindsNodesNeverExpanded) {
  FakePrompts prompts;
  auto window = Open("catalog.xml");
  auto *search = window->findChild<editor::TEditorSearch *>();
  QTest::keyClick(window.get(), Qt::Key_F, Qt::ControlModifier);
  ASSERT_TRUE(search->pFind->isVisible());
  search->pFind->chkXPath->setChecked(true);
  search->pFind->eFindText->setText("//p:price");
  QTest::keyClick(search->pFind->eFindText, Qt::Key_Return);
  EXPECT_EQ(xmlmodel::NodePath(CurrentNode(*window)), "/c:catalog/c:book[1]/p:price");
  QTest::keyClick(window.get(), Qt::Key_F3);
  EXPECT_EQ(xmlmodel::NodePath(CurrentNode(*window)), "/c:catalog/c:book[2]/p:price");
  QTest::keyClick(window.get(), Qt::Key_F3, Qt::ShiftModifier);
  EXPECT_EQ(xmlmodel::NodePath(CurrentNode(*window)), "/c:catalog/c:book[1]/p:price");
}

TEST(SearchWindow, AFailedValidatingLoadListsEveryError) {
  FakePrompts prompts;
  auto document = std::make_unique<xmlmodel::TOrbMainXSDValidate>();
  document->FileName = kDir + "orders_errors.xml";
  document->Load();
  ASSERT_FALSE(document->ValidationReport.empty());
  auto window = std::make_unique<editor::TfrmXMLMain>();
  window->SetDocument(std::move(document));
  auto *search = window->findChild<editor::TEditorSearch *>();
  EXPECT_EQ(search->pErrors->ErrorCount(), 5);
  EXPECT_EQ(search->pErrors->eErrors->topLevelItem(4)->text(2).toStdString(), "/orders/order[4]/colour");
}

static ::testing::Environment *const qtEnvironment = ::testing::AddGlobalTestEnvironment(new QtEnvironment);
