#include "test_util.h"

#include "common/exception.h"
#include "xmlmodel/dom.h"
#include "xmlmodel/fragment.h"

#include <gtest/gtest.h>
#include <libxml/parser.h>

#include <algorithm>
#include <filesystem>
#include <functional>
#include <string>
#include <vector>

using namespace xmlmodel;
using xmltest::TempDir;
namespace fs = std::filesystem;

namespace {

// The whitespace that starts the node's line, or "(inline)" when it does not start one.
std::string LineStart(const xmlNode *node) {
  const xmlNode *prev = node->prev;
  if (prev == nullptr || prev->type != XML_TEXT_NODE || prev->content == nullptr)
    return "(inline)";
  const std::string text = reinterpret_cast<const char *>(prev->content);
  const size_t lastBreak = text.rfind('\n');
  if (lastBreak == std::string::npos || text.find_first_not_of(" \t\r\n") != std::string::npos)
    return "(inline)";
  return text.substr(lastBreak + 1);
}

// Each element of the saved file on a line of its own is indented like the element before it
// on its own line; an end tag on its own line lines up with its start tag.
void CheckLaidOutLikeSiblings(xmlNode *top) {
  std::vector<xmlNode *> subtree = xmltest::Elements(top);
  for (xmlNode *e : subtree) {
    const std::string own = LineStart(e);
    if (own == "(inline)")
      continue;
    const xmlNode *sibling = e->prev;
    while (sibling != nullptr && (sibling->type != XML_ELEMENT_NODE || LineStart(sibling) == "(inline)"))
      sibling = sibling->prev;
    if (sibling != nullptr) {
      EXPECT_EQ(own, LineStart(sibling)) << "element " << e->name << " at line " << xmlGetLineNo(e);
    }
    if (e->last != nullptr && e->last->type == XML_TEXT_NODE) {
      const std::string closing = reinterpret_cast<const char *>(e->last->content);
      if (closing.find_first_not_of(" \t\r\n") == std::string::npos && closing.find('\n') != std::string::npos) {
        EXPECT_EQ(closing.substr(closing.rfind('\n') + 1), own) << "end tag of " << e->name;
      }
    }
  }
}

} // namespace

TEST(SaveElement, KeepsAttributesNamespacesInScopeAndLayoutFromColumnZero) {
  TempDir dir;
  xmltest::WriteFile(dir.File("n.xml"), "<r xmlns=\"urn:d\" xmlns:p=\"urn:p\" xmlns:u=\"urn:unused\">\n"
                                        "  <p:a x='1' xmlns:q=\"urn:q\">\n"
                                        "    <q:b>&amp;</q:b>\n"
                                        "    <c/>\n"
                                        "  </p:a>\n"
                                        "</r>\n");
  DomDocument dom;
  ASSERT_TRUE(dom.Load(dir.File("n.xml")));
  const std::string before = dom.SaveToString();
  xmlNode *a = xmltest::Elements(dom.DocumentElement())[0];
  SaveElementToFile(a, dir.File("a.xml"));
  const std::string saved = xmltest::ReadFile(dir.File("a.xml"));
  EXPECT_EQ(saved.rfind("<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<p:a ", 0), 0u) << saved;
  EXPECT_EQ(saved.substr(saved.find('>', saved.find("<p:a")) + 1),
            "\n  <q:b>&amp;</q:b>\n  <c/>\n</p:a>\n");
  for (const char *declaration : {"xmlns=\"urn:d\"", "xmlns:p=\"urn:p\"", "xmlns:q=\"urn:q\"", "xmlns:u=\"urn:unused\""})
    EXPECT_NE(saved.find(declaration), std::string::npos) << declaration << " in " << saved;
  EXPECT_NE(saved.find("x=\"1\""), std::string::npos) << saved;
  // Copy gives the same element without the declaration and the last line break.
  EXPECT_EQ(NodeToXml(a) + "\n", saved.substr(saved.find('\n') + 1));
  EXPECT_EQ(dom.SaveToString(), before);

  EXPECT_THROW(SaveElementToFile(nullptr, dir.File("x.xml")), common::Exception);
  EXPECT_THROW(SaveElementToFile(a->children, dir.File("x.xml")), common::Exception); // text
  EXPECT_FALSE(fs::exists(dir.File("x.xml")));
}

TEST(SaveElement, InsertedSubtreesTakeTheIndentationOfWhereTheyLand) {
  // Each fixture's root, copied into the next fixture's first element on a line of its own that
  // holds more than one node; read back from the saved text.
  const std::vector<std::string> files = xmltest::RoundTripFixtures();
  for (size_t i = 0; i < files.size(); ++i) {
    SCOPED_TRACE(files[i]);
    DomDocument target, source;
    ASSERT_TRUE(target.Load(files[i]));
    ASSERT_TRUE(source.Load(files[(i + 1) % files.size()]));
    xmlNode *parent = target.DocumentElement();
    for (xmlNode *e : xmltest::Elements(target.DocumentElement()))
      if (e->children != nullptr && e->children->next != nullptr && LineStart(e) != "(inline)") {
        parent = e;
        break;
      }
    xmlNode *copy = xmlDocCopyNode(source.DocumentElement(), target.Doc(), 1);
    ASSERT_NE(copy, nullptr);
    xmlNodeSetName(copy, BAD_CAST "xe-copy");
    const std::string before = target.SaveToString();
    target.InsertChild(parent, copy, nullptr, true);
    const std::string saved = target.SaveToString();
    xmlDocPtr doc = xmlReadMemory(saved.data(), static_cast<int>(saved.size()), "saved.xml", nullptr,
                                  XML_PARSE_NONET | XML_PARSE_RECOVER | XML_PARSE_NOERROR | XML_PARSE_NOWARNING);
    ASSERT_NE(doc, nullptr);
    xmlNode *landed = nullptr;
    for (xmlNode *e : xmltest::Elements(xmlDocGetRootElement(doc)))
      if (landed == nullptr && xmlStrEqual(e->name, BAD_CAST "xe-copy"))
        landed = e;
    ASSERT_NE(landed, nullptr);
    CheckLaidOutLikeSiblings(landed->parent);
    xmlFreeDoc(doc);
    target.Detach(copy);
    EXPECT_EQ(target.SaveToString(), before);
  }
}

TEST(SaveElement, EveryFixtureGivesAWholeFileLaidOutAsTheElementWas) {
  TempDir dir;
  const std::vector<std::string> files = xmltest::RoundTripFixtures();
  ASSERT_FALSE(files.empty());
  for (const std::string &file : files) {
    SCOPED_TRACE(file);
    DomDocument dom;
    ASSERT_TRUE(dom.Load(file));
    const std::string before = dom.SaveToString();
    // The deepest element on a line of its own that holds elements: its layout moves the most.
    xmlNode *chosen = nullptr;
    size_t depth = 0;
    for (xmlNode *e : xmltest::Elements(dom.DocumentElement())) {
      size_t d = 0;
      for (xmlNode *up = e; up->parent != nullptr; up = up->parent)
        ++d;
      if (LineStart(e) != "(inline)" && !xmltest::Elements(e).empty() && d > depth) {
        chosen = e;
        depth = d;
      }
    }
    if (chosen == nullptr)
      chosen = dom.DocumentElement();
    const std::string out = dir.File("element.xml");
    SaveElementToFile(chosen, out);
    const std::string saved = xmltest::ReadFile(out);
    ASSERT_FALSE(saved.empty());
    EXPECT_EQ(saved.back(), '\n');
    xmlDocPtr doc = xmlReadMemory(saved.data(), static_cast<int>(saved.size()), "element.xml", nullptr,
                                  XML_PARSE_NONET | XML_PARSE_NOERROR | XML_PARSE_NOWARNING);
    // Entity references of the document become their text: the file stands on its own.
    ASSERT_NE(doc, nullptr) << saved;
    xmlNode *root = xmlDocGetRootElement(doc);
    EXPECT_TRUE(xmlStrEqual(root->name, chosen->name));
    for (xmlAttr *a = chosen->properties; a != nullptr; a = a->next) {
      xmlChar *value = xmlNodeGetContent(reinterpret_cast<xmlNode *>(a));
      xmlChar *copy = xmlGetNsProp(root, a->name, a->ns != nullptr ? a->ns->href : nullptr);
      EXPECT_TRUE(copy != nullptr && xmlStrEqual(value, copy)) << a->name;
      xmlFree(value);
      xmlFree(copy);
    }
    EXPECT_TRUE((root->ns == nullptr) == (chosen->ns == nullptr) &&
                (root->ns == nullptr || xmlStrEqual(root->ns->href, chosen->ns->href)));
    EXPECT_EQ(xmltest::Elements(root).size(), xmltest::Elements(chosen).size());
    CheckLaidOutLikeSiblings(root);
    xmlFreeDoc(doc);
    EXPECT_EQ(dom.SaveToString(), before);
  }
}
