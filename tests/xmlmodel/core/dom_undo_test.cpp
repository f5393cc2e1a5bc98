#include "test_util.h"

#include "xmlmodel/dom.h"
#include "xmlmodel/xml_obj.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <functional>
#include <string>
#include <vector>

using namespace xmlmodel;
namespace fs = std::filesystem;

namespace {

// A handful of picks spread over the list, first and last included.
template <class T> std::vector<T> Spread(const std::vector<T> &all, size_t count) {
  std::vector<T> picks;
  for (size_t i = 0; i < count && !all.empty(); ++i)
    picks.push_back(all[i * (all.size() - 1) / (count - 1)]);
  picks.erase(std::unique(picks.begin(), picks.end()), picks.end());
  return picks;
}

// Do, undo, redo, undo: the saved bytes change, come back exactly, change to the same again.
void CheckExactUndo(DomDocument &dom, const std::string &what, const std::function<void()> &change,
                    const std::function<void()> &undo) {
  SCOPED_TRACE(what);
  const std::string before = dom.SaveToString();
  change();
  const std::string after = dom.SaveToString();
  EXPECT_NE(after, before);
  undo();
  ASSERT_EQ(dom.SaveToString(), before);
  change();
  ASSERT_EQ(dom.SaveToString(), after);
  undo();
  ASSERT_EQ(dom.SaveToString(), before);
}

} // namespace

TEST(DomUndo, DetachAndRestoreGiveTheBytesBackOnEveryFixture) {
  for (const std::string &file : xmltest::RoundTripFixtures()) {
    DomDocument dom;
    ASSERT_TRUE(dom.Load(file)) << file;
    for (xmlNode *element : Spread(xmltest::Elements(dom.DocumentElement()), 8)) {
      DomPlace place;
      CheckExactUndo(dom, file + " element " + DomNodeName(element), [&] { place = dom.Detach(element); },
                     [&] { dom.Restore(place); });
      if (element->properties != nullptr) {
        xmlNode *attribute = reinterpret_cast<xmlNode *>(element->properties);
        CheckExactUndo(dom, file + " attribute of " + DomNodeName(element), [&] { place = dom.Detach(attribute); },
                       [&] { dom.Restore(place); });
      }
    }
  }
}

TEST(DomUndo, InsertAndMoveAreUndoneExactlyOnEveryFixture) {
  for (const std::string &file : xmltest::RoundTripFixtures()) {
    DomDocument dom;
    ASSERT_TRUE(dom.Load(file)) << file;
    const std::vector<xmlNode *> elements = xmltest::Elements(dom.DocumentElement());
    std::vector<xmlNode *> parents = Spread(elements, 5);
    parents.push_back(dom.DocumentElement());
    for (xmlNode *parent : parents) {
      const std::string where = file + " under " + DomNodeName(parent);
      xmlNode *fresh = dom.CreateNode(ntElement, "fresh");
      CheckExactUndo(dom, where + " at the end", [&] { dom.InsertChild(parent, fresh, nullptr, true); },
                     [&] { dom.Detach(fresh); });
      if (xmlNode *first = parent->children)
        CheckExactUndo(dom, where + " first", [&] { dom.InsertChild(parent, fresh, first, true); },
                       [&] { dom.Detach(fresh); });
    }
    // A move: out of its place, first under the root, its subtree re-indented.
    if (elements.size() >= 2) {
      xmlNode *moved = elements.back();
      xmlNode *root = dom.DocumentElement();
      DomPlace from;
      CheckExactUndo(
          dom, file + " move",
          [&] {
            from = dom.Detach(moved);
            dom.InsertChild(root, moved, root->children, true);
          },
          [&] {
            dom.Detach(moved);
            dom.Restore(from);
          });
    }
  }
}

TEST(DomUndo, TextAndAttributeValueChangesAreUndoneExactlyOnEveryFixture) {
  for (const std::string &file : xmltest::RoundTripFixtures()) {
    DomDocument dom;
    ASSERT_TRUE(dom.Load(file)) << file;
    std::vector<xmlNode *> leaves; // comments, text, CDATA, processing instructions
    std::function<void(xmlNode *)> walk = [&](xmlNode *node) {
      for (xmlNode *c = node->children; c != nullptr; c = c->next) {
        if (c->type == XML_COMMENT_NODE || c->type == XML_PI_NODE || c->type == XML_CDATA_SECTION_NODE ||
            (c->type == XML_TEXT_NODE && c->content != nullptr && c->content[0] != 0))
          leaves.push_back(c);
        if (c->type == XML_ELEMENT_NODE)
          walk(c);
      }
    };
    walk(dom.DocumentElement());
    DomTextChange change;
    for (xmlNode *leaf : Spread(leaves, 8))
      CheckExactUndo(dom, file + " " + DomNodeName(leaf), [&] { change = dom.ChangeText(leaf, "changed"); },
                     [&] { dom.RestoreText(change); });
    for (xmlNode *element : Spread(xmltest::Elements(dom.DocumentElement()), 8)) {
      // Of an element with children (its subtree goes), and of one without.
      CheckExactUndo(dom, file + " text of " + DomNodeName(element),
                     [&] { change = dom.ChangeText(element, "a & <b>"); }, [&] { dom.RestoreText(change); });
      if (element->properties != nullptr) {
        xmlNode *attribute = reinterpret_cast<xmlNode *>(element->properties);
        CheckExactUndo(dom, file + " value of " + DomNodeName(attribute),
                       [&] { change = dom.ChangeText(attribute, "new \"value\""); }, [&] { dom.RestoreText(change); });
      }
    }
  }
}

// Short texts and attribute values live inside their node after a load; replacing, merging,
// copying and freeing them must treat that storage as the node's (the sanitiser build sees a
// wrong free), and every change must still be undone exactly. A text that starts short and grows
// around references moves out of its node while it is parsed.
TEST(DomUndo, ShortTextsHeldInTheirNodeAreChangedAndUndoneExactly) {
  xmltest::TempDir dir;
  const std::string file = dir.File("short.xml");
  xmltest::WriteFile(file, "<r a=\"1\" b=\"short\">\n  <x>ab</x>text<y/>tail<z>fifteen chars!!</z>\n"
                           "  <w>a text longer than sixteen bytes</w><v>&amp;</v>\n"
                           "  <u>grown &amp; grown again &lt;<t/>and &gt; &amp; again</u>\n</r>\n");
  DomDocument dom;
  ASSERT_TRUE(dom.Load(file));
  xmlNode *root = dom.DocumentElement();
  const std::vector<xmlNode *> elements = xmltest::Elements(root);
  ASSERT_EQ(elements.size(), 7u);
  xmlNode *x = elements[0], *y = elements[1], *z = elements[2], *w = elements[3], *u = elements[5];
  auto inNode = [](const xmlNode *text) {
    return text->content == reinterpret_cast<const xmlChar *>(&text->properties);
  };
  ASSERT_TRUE(inNode(x->children)); // otherwise this test covers nothing new
  ASSERT_TRUE(inNode(y->prev) && inNode(y->next) && inNode(z->children));
  ASSERT_FALSE(inNode(w->children));

  EXPECT_EQ(DomNodeText(u), "grown & grown again <and > & again");
  DomTextChange change;
  for (xmlNode *text : {x->children, y->prev, z->children, w->children, u->children, u->last})
    for (const char *to : {"", "s", "now a much longer text than before"})
      CheckExactUndo(dom, std::string("text to \"") + to + "\"", [&] { change = dom.ChangeText(text, to); },
                     [&] { dom.RestoreText(change); });
  for (xmlAttr *attr = root->properties; attr != nullptr; attr = attr->next) {
    ASSERT_TRUE(inNode(attr->children));
    CheckExactUndo(dom, "value", [&] { change = dom.ChangeText(reinterpret_cast<xmlNode *>(attr), "v w"); },
                   [&] { dom.RestoreText(change); });
  }
  // The element between two short texts goes and comes back; so does one holding one.
  DomPlace place;
  CheckExactUndo(dom, "between texts", [&] { place = dom.Detach(y); }, [&] { dom.Restore(place); });
  CheckExactUndo(dom, "holding a short text", [&] { place = dom.Detach(x); }, [&] { dom.Restore(place); });
  CheckExactUndo(dom, "element text", [&] { change = dom.ChangeText(z, "other"); },
                 [&] { dom.RestoreText(change); });
  dom.RemoveChild(root, z); // freed with the document
  EXPECT_EQ(dom.SaveToString(), "<r a=\"1\" b=\"short\">\n  <x>ab</x>text<y/>tail\n"
                                "  <w>a text longer than sixteen bytes</w><v>&amp;</v>\n"
                                "  <u>grown &amp; grown again &lt;<t/>and > &amp; again</u>\n</r>\n");
}

TEST(DomUndo, CopiesOfShortTextsOutliveTheirSource) {
  xmltest::TempDir dir;
  auto doc = xmltest::LoadText(dir, "<r>\n  <a k=\"v\"><b>ab</b>cd</a>\n</r>\n");
  TOrbXMLList *children = doc->RootChildren();
  ASSERT_EQ(children->Count(), 1);
  TOrbXMLItem *source = children->Items(0);
  TOrbXMLItem *copy = children->CreateNode("a", ntElement, source);
  children->DeleteItem(source);
  ASSERT_EQ(children->Count(), 1);
  EXPECT_EQ(xmltest::Xml(copy), "<a k=\"v\"><b>ab</b>cd</a>");
}
