#include "test_util.h"

#include "common/exception.h"
#include "xmlmodel/edits.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <functional>

using namespace xmlmodel;
using xmltest::LoadText;
using xmltest::ReadFile;
using xmltest::TempDir;
namespace fs = std::filesystem;

namespace {

const std::string kRoundTrip = std::string(XE_TEST_DATA) + "/xmlmodel/roundtrip";

// Empty when every built list holds the items of its node's DOM children (text excluded) or
// attributes in order, and every known descendant count equals a fresh count.
std::string Disagreement(TOrbXMLItem *item) {
  xmlNode *node = item->Node();
  TOrbXMLList &children = *item->Children();
  int index = 0;
  if (node->type != XML_COMMENT_NODE)
    for (xmlNode *child = DomFirstChild(node); child; child = child->next) {
      if (child->type == XML_TEXT_NODE)
        continue;
      if (index >= children.Count() || children.Items(index)->Node() != child)
        return "children of " + item->NodeName() + " differ at " + std::to_string(index);
      ++index;
    }
  if (index != children.Count())
    return "extra items under " + item->NodeName();
  TOrbXMLList &attributes = *item->Attributes();
  index = 0;
  for (xmlNode *attribute = DomFirstAttribute(node); attribute; attribute = attribute->next, ++index)
    if (index >= attributes.Count() || attributes.Items(index)->Node() != attribute)
      return "attributes of " + item->NodeName() + " differ";
  int descendants = children.Count();
  for (int i = 0; i < children.Count(); ++i) {
    if (std::string problem = Disagreement(children.Items(i)); !problem.empty())
      return problem;
    descendants += children.Items(i)->Children()->DescendantCount();
  }
  if (children.DescendantCount() != descendants)
    return "stale count under " + item->NodeName();
  return {};
}

// Elements of the document, depth first (building every list).
void Elements(TOrbXMLItem *item, std::vector<TOrbXMLItem *> &out) {
  out.push_back(item);
  TOrbXMLList &children = *item->Children();
  for (int i = 0; i < children.Count(); ++i)
    if (children.Items(i)->NodeType() == ntElement)
      Elements(children.Items(i), out);
}

struct Picks {
  TOrbXMLItem *Leaf = nullptr;       // an element without child items, not the root
  TOrbXMLItem *Branch = nullptr;     // an element with child items, not the root
  TOrbXMLItem *WithAttribute = nullptr;
  TOrbXMLItem *Other = nullptr;      // an element outside Leaf's subtree, Leaf not in its own
};

bool Inside(TOrbXMLItem *item, TOrbXMLItem *ancestor) {
  for (TOrbXMLItem *up = item; up; up = up->OwnerList() ? up->OwnerList()->OwnerItem() : nullptr)
    if (up == ancestor)
      return true;
  return false;
}

Picks Pick(TOrbMainXML &doc) {
  std::vector<TOrbXMLItem *> all;
  Elements(doc.RootItem(), all);
  Picks picks;
  for (TOrbXMLItem *item : all) {
    if (item == doc.RootItem())
      continue;
    if (!picks.Leaf && item->Children()->Count() == 0)
      picks.Leaf = item;
    if (!picks.Branch && item->Children()->Count() > 0)
      picks.Branch = item;
    if (!picks.WithAttribute && item->Attributes()->Count() > 0)
      picks.WithAttribute = item;
  }
  if (picks.Leaf)
    for (auto it = all.rbegin(); it != all.rend() && !picks.Other; ++it)
      if (!Inside(*it, picks.Leaf) && *it != picks.Leaf->OwnerList()->OwnerItem())
        picks.Other = *it;
  return picks;
}

using Step = std::function<void(TEdit &, TOrbMainXML &, const Picks &, TOrbMainXML &source)>;

struct Kind {
  const char *Name;
  Step Run;
};

const std::vector<Kind> &Kinds() {
  static const std::vector<Kind> kinds = {
      {"rename in place",
       [](TEdit &e, TOrbMainXML &, const Picks &p, TOrbMainXML &) {
         TOrbXMLItem *old = p.Leaf;
         TOrbXMLItem *created = e.Create(*old->OwnerList(), "renamed", ntElement, old, old);
         e.SetText(created, "new text");
         e.Delete(old);
       }},
      {"retype a branch", [](TEdit &e, TOrbMainXML &, const Picks &p, TOrbMainXML &) {
         if (!p.Branch)
           return;
         e.Create(*p.Branch->OwnerList(), "branch2", ntElement, p.Branch, p.Branch);
         e.Delete(p.Branch);
       }},
      {"delete", [](TEdit &e, TOrbMainXML &, const Picks &p, TOrbMainXML &) { e.Delete(p.Leaf); }},
      {"delete a branch",
       [](TEdit &e, TOrbMainXML &, const Picks &p, TOrbMainXML &) {
         if (p.Branch)
           e.Delete(p.Branch);
       }},
      {"move",
       [](TEdit &e, TOrbMainXML &, const Picks &p, TOrbMainXML &) {
         if (!p.Other)
           return;
         e.Create(*p.Other->Children(), p.Leaf->NodeName(), p.Leaf->NodeType(), p.Leaf, nullptr, true);
         e.Delete(p.Leaf);
       }},
      {"copy",
       [](TEdit &e, TOrbMainXML &doc, const Picks &p, TOrbMainXML &) {
         TOrbXMLItem *from = p.Branch ? p.Branch : p.Leaf;
         e.Create(*doc.RootChildren(), from->NodeName(), from->NodeType(), from, nullptr, true);
       }},
      {"attribute value",
       [](TEdit &e, TOrbMainXML &, const Picks &p, TOrbMainXML &) {
         if (p.WithAttribute)
           e.SetText(p.WithAttribute->Attributes()->Items(0), "changed & \"quoted\"");
       }},
      {"attribute add",
       [](TEdit &e, TOrbMainXML &, const Picks &p, TOrbMainXML &) {
         e.SetText(e.Create(*p.Leaf->Attributes(), "added", ntAttribute), "v");
       }},
      {"attribute delete",
       [](TEdit &e, TOrbMainXML &, const Picks &p, TOrbMainXML &) {
         if (p.WithAttribute)
           e.Delete(p.WithAttribute->Attributes()->Items(0));
       }},
      {"insert from another file",
       [](TEdit &e, TOrbMainXML &, const Picks &p, TOrbMainXML &source) {
         TOrbXMLItem *root = source.RootItem();
         e.Create(*p.Leaf->OwnerList()->OwnerItem()->Children(), root->NodeName(), ntElement, root, nullptr, true);
       }},
      {"import group", [](TEdit &e, TOrbMainXML &doc, const Picks &, TOrbMainXML &source) {
         TOrbXMLItem *root = source.RootItem();
         for (int i = 0; i < 3; ++i) {
           TOrbXMLItem *copy = e.Create(*doc.RootChildren(), root->NodeName(), ntElement, root, nullptr, true);
           e.SetText(copy->Children()->Items(0), "row " + std::to_string(i));
         }
       }},
  };
  return kinds;
}

} // namespace

// Every kind of step on every round-trip document: done it saves as B; undone, as the original
// bytes with the item tree matching the DOM; done again, as B.
TEST(Edits, EveryStepUndoesAndRedoesToTheExactBytes) {
  TempDir dir;
  auto source = LoadText(dir, "<line>\n    <sku>K-1</sku>\n    <qty>2</qty>\n  </line>\n", "source.xml");
  int runs = 0;
  for (const auto &entry : fs::directory_iterator(kRoundTrip)) {
    const std::string name = entry.path().filename().string();
    if (name == "README.md")
      continue;
    for (const Kind &kind : Kinds()) {
      SCOPED_TRACE(name + ": " + kind.Name);
      xmltest::WriteFile(dir.File(name), ReadFile(entry.path().string()));
      TOrbMainXML doc;
      doc.FileName = dir.File(name);
      doc.Load();
      ASSERT_TRUE(doc.RootItem()->HasNode());
      const Picks picks = Pick(doc);
      if (!picks.Leaf)
        continue;
      const std::string original = doc.XMLDoc().SaveToString();
      TEdit edit(kind.Name);
      kind.Run(edit, doc, picks, *source);
      if (edit.Empty())
        continue;
      ++runs;
      const std::string after = doc.XMLDoc().SaveToString();
      EXPECT_NE(after, original);
      EXPECT_EQ(Disagreement(doc.RootItem()), "");
      edit.Revert();
      EXPECT_EQ(doc.XMLDoc().SaveToString(), original);
      EXPECT_EQ(Disagreement(doc.RootItem()), "");
      edit.Apply();
      EXPECT_EQ(doc.XMLDoc().SaveToString(), after);
      EXPECT_EQ(Disagreement(doc.RootItem()), "");
      edit.Revert();
      EXPECT_EQ(doc.XMLDoc().SaveToString(), original);
    }
  }
  EXPECT_GT(runs, 100);
}

TEST(Edits, ARenamedNodeKeepsItsPlace) {
  TempDir dir;
  auto doc = LoadText(dir, "<r>\n  <a>1</a>\n  <b>2</b>\n  <c>3</c>\n</r>\n");
  TOrbXMLItem *b = doc->RootChildren()->Items(1);
  TEdit edit("Apply bee");
  TOrbXMLItem *bee = edit.Create(*doc->RootChildren(), "bee", ntElement, b, b);
  edit.Delete(b);
  EXPECT_EQ(doc->RootChildren()->IndexOf(bee), 1);
  EXPECT_EQ(doc->XMLDoc().SaveToString(), "<r>\n  <a>1</a>\n  <bee>2</bee>\n  <c>3</c>\n</r>\n");
  // The first and the last child keep their places too.
  for (int index : {0, 2}) {
    TOrbXMLItem *old = doc->RootChildren()->Items(index);
    TEdit again("Apply");
    again.Create(*doc->RootChildren(), "x", ntElement, old, old);
    again.Delete(old);
    EXPECT_EQ(doc->RootChildren()->Items(index)->NodeName(), "x");
  }
  EXPECT_EQ(doc->XMLDoc().SaveToString(), "<r>\n  <x>1</x>\n  <bee>2</bee>\n  <x>3</x>\n</r>\n");
}

TEST(Edits, CellKeystrokesMergeIntoOneStep) {
  TempDir dir;
  auto doc = LoadText(dir, "<r id='7'\n   kind=\"k\"/>");
  const std::string original = doc->XMLDoc().SaveToString();
  TOrbXMLItem *id = doc->RootItem()->Attributes()->Items(0);
  TEdit first("Edit id");
  first.SetText(id, "8");
  for (const char *typed : {"8", "89", "890"}) {
    TEdit next("Edit id");
    next.SetText(id, typed);
    EXPECT_TRUE(first.Merge(next));
  }
  TEdit other("Edit kind");
  other.SetText(doc->RootItem()->Attributes()->Items(1), "z");
  EXPECT_FALSE(first.Merge(other));
  other.Revert();
  EXPECT_EQ(doc->XMLDoc().SaveToString(), "<r id=\"890\" kind=\"k\"/>");
  first.Revert();
  // The start tag as the source wrote it comes back too.
  EXPECT_EQ(doc->XMLDoc().SaveToString(), original);
  first.Apply();
  EXPECT_EQ(id->Text(), "890");
}

namespace {

struct Recorder : TOrbXMLObserver {
  std::string Log;
  void ItemInserting(TOrbXMLList &list, int index) override { Add("+?", list, index); }
  void ItemInserted(TOrbXMLList &list, int index) override { Add("+", list, index); }
  void ItemRemoving(TOrbXMLList &list, int index) override { Add("-?", list, index); }
  void ItemRemoved(TOrbXMLList &list, int index) override { Add("-", list, index); }
  void ItemChanged(TOrbXMLItem &item) override { Log += "~" + item.NodeName() + " "; }
  void Add(const char *what, TOrbXMLList &list, int index) {
    Log += what + list.OwnerItem()->NodeName() + std::to_string(index) + " ";
  }
};

} // namespace

TEST(Edits, ObserversHearEachRowAndCountsFollowTheAncestors) {
  TempDir dir;
  auto doc = LoadText(dir, "<r><a><b><c/><c/></b></a><d/></r>");
  TOrbXMLList *top = doc->RootChildren();
  TOrbXMLItem *a = top->Items(0);
  // Counted from the DOM before any list below the root is built.
  EXPECT_EQ(top->DescendantCount(), 5);
  EXPECT_EQ(a->DescendantItemCount(), 3);
  EXPECT_EQ(a->ChildItemCount(), 1);
  Recorder recorder;
  doc->SetObserver(&recorder);
  TOrbXMLItem *b = a->Children()->Items(0);
  TEdit edit("Copy b");
  // A copy with children is one insertion, not one per copied node.
  edit.Create(*doc->RootChildren(), "b", ntElement, b);
  EXPECT_EQ(recorder.Log, "+?r2 +r2 ");
  EXPECT_EQ(top->DescendantCount(), 8);
  recorder.Log.clear();
  edit.Delete(b->Children()->Items(0));
  EXPECT_EQ(recorder.Log, "-?b0 -b0 ");
  EXPECT_EQ(top->DescendantCount(), 7);
  EXPECT_EQ(a->Children()->DescendantCount(), 2);
  recorder.Log.clear();
  edit.Revert();
  EXPECT_EQ(recorder.Log, "+?b0 +b0 -?r2 -r2 ");
  EXPECT_EQ(top->DescendantCount(), 5);
  EXPECT_EQ(Disagreement(doc->RootItem()), "");
  recorder.Log.clear();
  TEdit text("Set d");
  text.SetText(top->Items(1), "x");
  EXPECT_EQ(recorder.Log, "~d ");
  doc->SetObserver(nullptr);
}

TEST(Edits, AFailedStepRecordsNothingAndRevertTakesBackTheRest) {
  TempDir dir;
  auto doc = LoadText(dir, "<r>\n  <a/>\n</r>\n");
  const std::string original = doc->XMLDoc().SaveToString();
  TEdit edit("Apply");
  TOrbXMLItem *a = doc->RootChildren()->Items(0);
  TOrbXMLItem *created = edit.Create(*doc->RootChildren(), "b", ntComment, a, a);
  EXPECT_THROW(edit.SetText(created, "a -- b"), common::Exception);
  EXPECT_THROW(edit.Create(*doc->RootChildren(), "New Name...", ntElement), common::Exception);
  edit.Revert();
  EXPECT_EQ(doc->XMLDoc().SaveToString(), original);
  EXPECT_EQ(Disagreement(doc->RootItem()), "");
}

TEST(Edits, UndoingAnAppendTakesOutOnlyTheLayoutItAdded) {
  TempDir dir;
  // The last child is text, so an appended node gets no indentation of its own.
  auto doc = LoadText(dir, "<r>\n  <a/>\n  text\n</r>\n");
  const std::string original = doc->XMLDoc().SaveToString();
  TEdit edit("Paste");
  edit.Create(*doc->RootChildren(), "#comment", ntComment);
  edit.Create(*doc->RootChildren(), "b", ntElement);
  edit.Revert();
  EXPECT_EQ(doc->XMLDoc().SaveToString(), original);
}

// A text written over an element whose child list was never built takes its items out of every
// count above, and undo brings them back, without recounting the document.
TEST(Edits, TextOverUnlistedChildrenMovesTheCountsAbove) {
  TempDir dir;
  auto doc = LoadText(dir, "<r><a><b><c/><c/></b><d/></a><e/></r>");
  TOrbXMLList *top = doc->RootChildren();
  TOrbXMLItem *a = top->Items(0);
  TOrbXMLItem *b = a->Children()->Items(0); // a's list is built, b's is not
  EXPECT_EQ(top->DescendantCount(), 6);
  TEdit edit("Set b");
  edit.SetText(b, "flat");
  EXPECT_EQ(b->ChildItemCount(), 0);
  EXPECT_EQ(a->DescendantItemCount(), 2);
  EXPECT_EQ(top->DescendantCount(), 4);
  edit.Revert();
  EXPECT_EQ(a->DescendantItemCount(), 4);
  EXPECT_EQ(top->DescendantCount(), 6);
  edit.Apply();
  EXPECT_EQ(top->DescendantCount(), 4);
  EXPECT_EQ(Disagreement(doc->RootItem()), "");
}
