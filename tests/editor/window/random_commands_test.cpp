// Runs thousands of random editor commands on a real window and checks after every step that
// the tree view, the item tree and the DOM agree, and that the document's bytes are those
// recorded at that point of the undo history. XE_RANDOM_SEED and XE_RANDOM_STEPS override
// the defaults; the seed is printed so a failure can be replayed.

#include <QAbstractItemModelTester>
#include <QApplication>
#include <QClipboard>
#include <QComboBox>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QTableWidget>
#include <QUndoStack>

#include <gtest/gtest.h>

#include <cstdlib>
#include <iostream>
#include <map>
#include <random>
#include <set>

#include "window_support.h"
#include "xmlmodel/dom.h"

using namespace testing_support;
using editor::TfrmXMLMain;
using xmlmodel::TOrbXMLItem;
using xmlmodel::TOrbXMLList;

namespace {

unsigned long EnvNumber(const char *name, unsigned long fallback) {
  const char *value = std::getenv(name);
  return value && *value ? std::strtoul(value, nullptr, 10) : fallback;
}

class Checker {
public:
  explicit Checker(TfrmXMLMain &window) : W(window) {}

  // Returns an empty string when everything agrees, otherwise what does not: every built child
  // list holds the non-text children of its node in DOM order, every attribute list the
  // attributes, and every tree node an item that is in the document under its parent's item.
  std::string Check() {
    Live.clear();
    std::string problem;
    TOrbXMLItem *root = W.Document()->RootItem();
    if (root->HasNode())
      problem = CheckItem(root);
    if (!problem.empty())
      return problem;
    if (root->HasNode())
      problem = CheckRows(Root(W));
    if (!problem.empty())
      return problem;
    const auto &current = W.CurrentItem();
    if (current && !current->IsNew && !Live.count(current->Item))
      return "current tree item points at an item that is gone";
    if (current && !current->IsNew && W.IndexOf(current->Item).isValid() &&
        W.eTree->currentIndex() != W.IndexOf(current->Item))
      return "the tree's current row is not the current item's";
    return {};
  }

private:
  // Every row shows a live item, fetched rows are the item's child list in order, and each
  // caption counts what the lists hold now.
  std::string CheckRows(const QModelIndex &node) {
    TOrbXMLItem *item = ItemOf(node);
    if (!Live.count(item))
      return "a row shows an item that is not in the document";
    if (W.IndexOf(item) != node)
      return "the row of " + item->NodeName() + " is not where the model finds it";
    if (Caption(node) != editor::GetCaption(*item))
      return "stale caption " + Caption(node);
    const int rows = ChildCount(node);
    if (W.TreeModel()->IsFetched(node) ? rows != item->Children()->Count() : rows != 0)
      return "rows below " + item->NodeName() + " differ from its child list";
    for (int i = 0; i < rows; ++i) {
      const QModelIndex child = Child(node, i);
      if (ItemOf(child) != item->Children()->Items(i) || child.parent() != node)
        return "row " + std::to_string(i) + " below " + item->NodeName() + " shows the wrong item";
      if (std::string problem = CheckRows(child); !problem.empty())
        return problem;
    }
    return {};
  }

  std::string CheckItem(TOrbXMLItem *item) {
    Live.insert(item);
    xmlNode *node = item->Node();
    TOrbXMLList &children = *item->Children();
    int index = 0;
    if (item->NodeType() != xmlmodel::ntComment) {
      for (xmlNode *child = xmlmodel::DomFirstChild(node); child; child = child->next) {
        // Text nodes get items only when made as such through the panel (type ntText).
        const bool listed = index < children.Count() && children.Items(index)->Node() == child;
        if (xmlmodel::DomNodeType(child) == xmlmodel::ntText && !listed)
          continue;
        if (index >= children.Count() || children.Items(index)->Node() != child)
          return "child list of " + item->NodeName() + " differs from the DOM at " + std::to_string(index);
        ++index;
      }
    }
    if (index != children.Count())
      return "child list of " + item->NodeName() + " holds extra items";
    TOrbXMLList &attributes = *item->Attributes();
    index = 0;
    for (xmlNode *attr = xmlmodel::DomFirstAttribute(node); attr; attr = attr->next, ++index)
      if (index >= attributes.Count() || attributes.Items(index)->Node() != attr)
        return "attribute list of " + item->NodeName() + " differs from the DOM";
    if (index != attributes.Count())
      return "attribute list of " + item->NodeName() + " holds extra items";
    int descendants = children.Count();
    for (int i = 0; i < children.Count(); ++i) {
      if (children.Items(i)->OwnerList() != &children)
        return "item with a wrong owner list";
      std::string problem = CheckItem(children.Items(i));
      if (!problem.empty())
        return problem;
      descendants += children.Items(i)->Children()->DescendantCount();
    }
    if (children.DescendantCount() != descendants)
      return "stale descendant count under " + item->NodeName();
    return {};
  }

  TfrmXMLMain &W;
  std::set<const TOrbXMLItem *> Live;
};

TEST(RandomCommands, TreeItemsAndDomStayInStep) {
  const unsigned long seed = EnvNumber("XE_RANDOM_SEED", 20261208);
  const unsigned long steps = EnvNumber("XE_RANDOM_STEPS", 2000);
  std::cout << "random command test: seed " << seed << ", " << steps << " steps" << std::endl;
  const bool trace = EnvNumber("XE_RANDOM_TRACE", 0) != 0;
  std::mt19937 random(static_cast<std::mt19937::result_type>(seed));
  auto pick = [&](int n) { return static_cast<int>(std::uniform_int_distribution<int>(0, n - 1)(random)); };

  FakePrompts prompts;
  Scratch scratch;
  const std::string path = scratch.Copy("orders.xml");
  const std::string part = scratch.Copy("part.xml");
  const std::string broken = scratch.Copy("broken.xml");
  auto w = OpenWindow(path);
  Checker checker(*w);
  // Checks every signal of the tree's model as the commands change it.
  QAbstractItemModelTester tester(w->eTree->model(), QAbstractItemModelTester::FailureReportingMode::Fatal);
  QUndoStack &stack = *w->UndoStack();
  // The document's bytes at each index of the undo stack.
  std::vector<std::string> history = {w->Document()->XMLDoc().SaveToString()};
  // A new step records its bytes; undo and redo must give those recorded for where they land.
  bool undoing = false;
  std::string historyProblem;
  const QMetaObject::Connection recording = QObject::connect(&stack, &QUndoStack::indexChanged, [&](int index) {
    const std::string bytes = w->Document()->XMLDoc().SaveToString();
    if (undoing) {
      if (historyProblem.empty() && bytes != history.at(index))
        historyProblem = "bytes after undo or redo differ from those at index " + std::to_string(index) + "\nGOT\n" + bytes + "\nWANT\n" + history.at(index);
      return;
    }
    history.resize(stack.count() + 1);
    history[index] = bytes;
  });
  const char *const clipboardTexts[] = {"<pasted a=\"1\">\n  <x/>\n</pasted>", "not xml", "<a>", "<!--c--><b/>"};

  const std::vector<std::string> names = {"order",    "item", "note", "p:q", "New Name...", "bad name",
                                          "#comment", "x1",   "",     "ünï", "a-b"};
  const std::vector<std::string> texts = {"", "plain", "a & b < c", "multi\nline", "ümlaut", "]]>"};
  auto anyNode = [&]() -> QModelIndex {
    std::vector<QModelIndex> nodes;
    if (Root(*w).isValid())
      nodes.push_back(Root(*w));
    for (size_t i = 0; i < nodes.size(); ++i)
      for (int row = 0; row < ChildCount(nodes[i]); ++row)
        nodes.push_back(Child(nodes[i], row));
    return nodes.empty() ? QModelIndex() : nodes[pick(static_cast<int>(nodes.size()))];
  };
  auto editPanel = [&] {
    w->eNodeName->setText(QString::fromStdString(names[pick(static_cast<int>(names.size()))]));
    const int types[] = {1, 1, 1, 1, 4, 7, 8, 3, 0, 9, 12};
    w->eNodeType->setCurrentIndex(types[pick(11)]);
    if (!w->eNodeValueTxt->isReadOnly())
      w->eNodeValueTxt->setPlainText(QString::fromStdString(texts[pick(static_cast<int>(texts.size()))]));
  };

  for (unsigned long step = 0; step < steps; ++step) {
    int command = pick(26);
    if (command >= 22)
      command = 0; // selecting often moves off placeholders, on which most commands fail

    if (trace)
      std::cout << "step " << step << " command " << command << " name '"
                << w->eNodeName->text().toStdString() << "' type " << w->eNodeType->currentIndex()
                << " current "
                << (w->CurrentItem() ? (w->CurrentItem()->IsNew ? "new" : w->CurrentItem()->Item->NodeName())
                                     : "-")
                << " errors " << prompts.Errors.size() << " "
                << (prompts.Errors.empty() ? "" : prompts.Errors.back()) << std::endl;
    switch (command) {
    case 0:
    case 1: Select(*w, anyNode()); break;
    case 2:
      if (const QModelIndex node = anyNode(); node.isValid())
        w->eTree->setExpanded(node, !IsExpanded(*w, node));
      break;
    case 3:
    case 4:
      (command == 3 ? w->actAdd : w->actAddInto)->trigger();
      editPanel();
      if (pick(2) == 0) { // mostly a usable node, so the placeholder does not linger
        w->eNodeName->setText(QString::fromStdString(names[pick(4)]));
        w->eNodeType->setCurrentIndex(pick(3) == 0 ? 8 : 1);
        w->Button1Click();
      }
      break;
    case 5:
      editPanel();
      w->Button1Click();
      break;
    case 6: w->actDelete->trigger(); break;
    case 7: {
      Select(*w, anyNode());
      w->eTreeStartDrag();
      w->eTreeEndDrag(pick(8) == 0 ? QModelIndex() : anyNode());
      break;
    }
    case 8: w->actExpand->trigger(); break;
    case 9: w->actCollapse->trigger(); break;
    case 10:
      prompts.Inputs.push_back(names[pick(static_cast<int>(names.size()))]);
      if (w->CurrentItem())
        w->actAttrAdd->trigger();
      else
        prompts.Inputs.clear();
      break;
    case 11:
      if (w->eAttr->rowCount() > 0)
        w->eAttrSetEditText(1, 1 + pick(w->eAttr->rowCount()), texts[pick(static_cast<int>(texts.size()))]);
      break;
    case 12:
      if (w->eAttr->rowCount() > 0)
        w->eAttr->setCurrentCell(pick(w->eAttr->rowCount()), 1);
      w->actAttrDel->trigger();
      break;
    case 13:
      if (w->CurrentItem()) {
        prompts.FileNames.push_back(pick(4) == 0 ? broken : part);
        w->actInsertXML->trigger();
        prompts.FileNames.clear();
      }
      break;
    case 14:
      if (w->CurrentItem()) {
        prompts.FileNames.push_back(scratch.Path("element.xml"));
        w->actSaveHere->trigger();
        prompts.FileNames.clear();
      }
      break;
    case 15: w->actSave->trigger(); break;
    case 16: editPanel(); break;
    case 17:
    case 18:
      undoing = true;
      (command == 17 ? w->actUndo : w->actRedo)->trigger();
      undoing = false;
      break;
    case 19:
      if (pick(2) == 0)
        w->actCopy->trigger();
      else
        QApplication::clipboard()->setText(clipboardTexts[pick(4)]);
      break;
    case 20: w->actPaste->trigger(); break;
    case 21: {
      Select(*w, anyNode());
      w->eTreeStartDrag();
      w->eTreeEndDrag(anyNode(), true);
      break;
    }
    }
    const std::string problem = checker.Check();
    ASSERT_EQ(problem, "") << "seed " << seed << ", step " << step << ", command " << command;
    ASSERT_EQ(historyProblem, "") << "seed " << seed << ", step " << step;
    // What made no step changed nothing; a cell edit merged into the step before changes it.
    const std::string bytes = w->Document()->XMLDoc().SaveToString();
    if (command == 11)
      history[stack.index()] = bytes;
    ASSERT_EQ(bytes, history.at(stack.index())) << "seed " << seed << ", step " << step;
    ASSERT_EQ(w->Document()->Modified, !stack.isClean()) << "seed " << seed << ", step " << step;

    // Whatever was saved must read back.
    if (command == 15 && w->Document()->RootItem()->HasNode()) {
      xmlmodel::TOrbMainXML reread;
      reread.FileName = path;
      reread.Load();
      ASSERT_TRUE(reread.RootItem()->HasNode())
          << "saved file does not parse: " << reread.XMLDoc().LastParseError().Reason << " (seed " << seed
          << ", step " << step << ")";
    }
  }
  QObject::disconnect(recording);
  std::map<std::string, int> kinds;
  for (const std::string &error : prompts.Errors)
    ++kinds[error.substr(0, 40)];
  std::cout << "random command test: " << steps << " steps done, " << prompts.Errors.size() << " errors shown"
            << std::endl;
  for (const auto &[text, count] : kinds)
    std::cout << "  " << count << " x " << text << std::endl;
}

} // namespace

static ::testing::Environment *const qtEnvironment = ::testing::AddGlobalTestEnvironment(new QtEnvironment);
