// The errors panel and the find bar on their own, offscreen, over real documents.

#include <QApplication>
#include <QCheckBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTest>
#include <QTreeWidget>

#include <gtest/gtest.h>

#include <memory>

#include "editor/errors_panel.h"
#include "editor/find_bar.h"
#include "fake_prompts.h"
#include "search_support.h"
#include "xmlmodel/node_path.h"
#include "xmlmodel/xsd_validate.h"

using search_support::Load;

static ::testing::Environment *const qtEnvironment =
    ::testing::AddGlobalTestEnvironment(new testing_support::QtEnvironment);

TEST(SearchWidgets, ErrorsPanelListsEveryErrorAndGoesToItsNode) {
  auto doc = Load("orders_errors.xml");
  editor::TErrorsPanel panel;
  std::vector<xmlNode *> asked;
  QObject::connect(&panel, &editor::TErrorsPanel::GoToNode, [&](xmlNode *node, int) { asked.push_back(node); });
  const xmlmodel::ValidationErrors result = xmlmodel::ValidateDocument(*doc);
  panel.ShowErrors(result);
  panel.show();
  ASSERT_EQ(panel.eErrors->topLevelItemCount(), 5);
  EXPECT_EQ(panel.eErrors->topLevelItem(2)->text(0).toStdString(), "16");
  EXPECT_EQ(panel.eErrors->topLevelItem(2)->text(2).toStdString(), "/orders/order[3]/status");
  EXPECT_EQ(panel.lStatus->text().toStdString(), "5 errors");

  // Enter on a row, then the next and previous ones, round the ends.
  panel.eErrors->setFocus();
  panel.eErrors->setCurrentItem(panel.eErrors->topLevelItem(4));
  QTest::keyClick(panel.eErrors, Qt::Key_Return);
  panel.StepError(true);
  panel.StepError(false);
  panel.StepError(false);
  ASSERT_EQ(asked.size(), 4u);
  EXPECT_EQ(asked[0], result.Errors[4].Node);
  EXPECT_EQ(asked[1], result.Errors[0].Node);
  EXPECT_EQ(asked[2], result.Errors[4].Node);
  EXPECT_EQ(asked[3], result.Errors[3].Node);

  auto valid = Load("orders_valid.xml");
  panel.ShowErrors(xmlmodel::ValidateDocument(*valid));
  EXPECT_EQ(panel.eErrors->topLevelItemCount(), 0);
  EXPECT_EQ(panel.lStatus->text().toStdString(), "The document is valid.");
  panel.StepError(true);
  EXPECT_EQ(asked.size(), 4u);
}

TEST(SearchWidgets, FindBarGoesFromMatchToMatchAndListsThemAll) {
  auto doc = Load("catalog.xml");
  editor::TFindBar bar;
  std::vector<std::string> shown;
  QObject::connect(&bar, &editor::TFindBar::GoToNode,
                   [&](xmlNode *node) { shown.push_back(xmlmodel::NodePath(node)); });
  bar.SetDocument(&doc->XMLDoc());
  bar.show();
  bar.activateWindow();
  ASSERT_TRUE(QTest::qWaitForWindowActive(&bar));
  bar.Activate();
  bar.chkNames->setChecked(false);
  QTest::keyClicks(bar.eFindText, "pen");
  bar.chkWholeWord->setChecked(true);
  QTest::keyClick(bar.eFindText, Qt::Key_Return); // from the start: the comment before the root
  bar.btnNext->click();
  QTest::keyClick(bar.eFindText, Qt::Key_F3);
  bar.btnPrevious->click();
  EXPECT_EQ(shown, (std::vector<std::string>{"/comment()", "/c:catalog/c:book[1]/c:title", "/c:catalog/comment()",
                                             "/c:catalog/c:book[1]/c:title"}));

  // The window moved elsewhere: the search goes on from there.
  bar.SetCurrentNode(xmlLastElementChild(xmlDocGetRootElement(doc->XMLDoc().Doc())));
  bar.FindNext(true);
  EXPECT_EQ(shown.back(), "/comment()");
  EXPECT_EQ(bar.lStatus->text().toStdString(), "Search went on from the start");

  bar.btnAll->click();
  ASSERT_EQ(bar.eResults->topLevelItemCount(), 4);
  EXPECT_EQ(bar.eResults->topLevelItem(3)->text(0).toStdString(), "/c:catalog/c:book[2]/c:title/text()");
  EXPECT_EQ(bar.lStatus->text().toStdString(), "4 found");
  emit bar.eResults->itemActivated(bar.eResults->topLevelItem(3), 0);
  EXPECT_EQ(shown.back(), "/c:catalog/c:book[2]/c:title");

  // XPath, with the document's prefixes; a bad one says why and goes nowhere.
  bar.chkXPath->setChecked(true);
  EXPECT_FALSE(bar.chkWholeWord->isEnabled());
  bar.eFindText->setText("//p:price[@currency='USD']");
  bar.FindNext(true);
  EXPECT_EQ(shown.back(), "/c:catalog/c:book[2]/p:price");
  const std::size_t count = shown.size();
  bar.eFindText->setText("//p:price[");
  bar.FindNext(true);
  EXPECT_EQ(shown.size(), count);
  EXPECT_NE(bar.lStatus->text().toStdString().find("Invalid expression"), std::string::npos)
      << bar.lStatus->text().toStdString();
  bar.eFindText->setText("//nothing");
  bar.FindNext(true);
  EXPECT_EQ(bar.lStatus->text().toStdString(), "Not found");
}
