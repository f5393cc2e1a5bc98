#include "xmlmodel/find.h"
#include "xmlmodel/node_path.h"
#include "xmlmodel/xml_obj.h"

#include <gtest/gtest.h>
#include <libxml/xpathInternals.h>

#include <memory>
#include <string>
#include <vector>

#include "common/exception.h"
#include "search_support.h"

using xmlmodel::FindField;
using xmlmodel::FindHit;
using xmlmodel::FindOptions;
using xmlmodel::NodePath;
using xmlmodel::TFinder;
using search_support::Load;

namespace {

xmlDocPtr Doc(const xmlmodel::TOrbMainXML &doc) { return doc.XMLDoc().Doc(); }

// "path field" of each hit, to compare whole lists at once.
std::vector<std::string> Describe(const std::vector<FindHit> &hits) {
  std::vector<std::string> out;
  for (const FindHit &hit : hits)
    out.push_back(NodePath(hit.Node) + (hit.Shown != hit.Node ? " in " + NodePath(hit.Shown) : std::string()));
  return out;
}

FindOptions Only(const std::string &text, bool names, bool attrNames, bool attrValues, bool texts, bool comments) {
  FindOptions o;
  o.Text = text;
  o.InNames = names;
  o.InAttributeNames = attrNames;
  o.InAttributeValues = attrValues;
  o.InText = texts;
  o.InComments = comments;
  return o;
}

std::string ErrorOf(const xmlmodel::DomDocument &doc, const FindOptions &options) {
  try {
    TFinder finder(doc, options);
  } catch (const common::Exception &e) {
    return e.what();
  }
  return "no error";
}

} // namespace

TEST(NodePath, EveryNodesPathSelectsExactlyThatNode) {
  auto doc = Load("catalog.xml");
  doc->XMLDoc().UnfoldAllLayout(); // every node, the whitespace between elements too
  xmlXPathContextPtr context = xmlXPathNewContext(Doc(*doc));
  xmlXPathRegisterNs(context, BAD_CAST "c", BAD_CAST "urn:catalog");
  xmlXPathRegisterNs(context, BAD_CAST "p", BAD_CAST "urn:price");
  xmlmodel::NodePathBuilder builder; // fed in document order, as the errors and hits come
  int checked = 0;
  for (xmlNode *node = Doc(*doc)->children; node != nullptr;) {
    std::vector<xmlNode *> nodes{node};
    if (node->type == XML_ELEMENT_NODE)
      for (xmlAttr *a = node->properties; a != nullptr; a = a->next)
        nodes.push_back(reinterpret_cast<xmlNode *>(a));
    for (xmlNode *n : nodes) {
      const std::string path = NodePath(n);
      EXPECT_EQ(builder.Path(n), path);
      xmlXPathObjectPtr result = xmlXPathEvalExpression(BAD_CAST path.c_str(), context);
      ASSERT_NE(result, nullptr) << path;
      ASSERT_NE(result->nodesetval, nullptr) << path;
      EXPECT_EQ(result->nodesetval->nodeNr, 1) << path;
      if (result->nodesetval->nodeNr == 1) {
        EXPECT_EQ(result->nodesetval->nodeTab[0], n) << path;
      }
      xmlXPathFreeObject(result);
      ++checked;
    }
    if (node->type == XML_ELEMENT_NODE && node->children != nullptr) {
      node = node->children;
      continue;
    }
    while (node != nullptr && node->next == nullptr)
      node = node->parent == reinterpret_cast<xmlNode *>(Doc(*doc)) ? nullptr : node->parent;
    if (node != nullptr)
      node = node->next;
  }
  xmlXPathFreeContext(context);
  EXPECT_EQ(checked, 39); // every node and attribute of the file

  xmlNode *root = xmlDocGetRootElement(Doc(*doc));
  EXPECT_EQ(NodePath(root), "/c:catalog");
  EXPECT_EQ(NodePath(Doc(*doc)->children), "/comment()");
  // Out of order the builder still counts right.
  xmlmodel::NodePathBuilder backwards;
  xmlNode *book2 = xmlFirstElementChild(root)->next->next->next->next;
  EXPECT_EQ(backwards.Path(xmlFirstElementChild(book2)->next->next), "/c:catalog/c:book[2]/p:price");
  EXPECT_EQ(backwards.Path(xmlFirstElementChild(root)), "/c:catalog/c:book[1]");
  EXPECT_EQ(backwards.Path(xmlLastElementChild(root)), "/c:catalog/c:magazine");
  // An attribute is on its element's line.
  EXPECT_EQ(xmlmodel::NodeLine(reinterpret_cast<xmlNode *>(book2->properties)), 9);
}

TEST(Find, TextInEachKindOfPlaceInDocumentOrder) {
  auto doc = Load("catalog.xml");
  // Case ignored by default: comments, text, in order; names and attributes do not hold "pen".
  TFinder pen(doc->XMLDoc(), Only("pen", true, true, true, true, true));
  EXPECT_EQ(Describe(pen.All()),
            (std::vector<std::string>{"/comment()", "/c:catalog/c:book[1]/c:title/text() in /c:catalog/c:book[1]/c:title",
                                      "/c:catalog/comment()", "/c:catalog/c:book[2]/c:title/text() in /c:catalog/c:book[2]/c:title",
                                      "/c:catalog/c:book[2]/c:note/text() in /c:catalog/c:book[2]/c:note",
                                      "/c:catalog/c:magazine/c:title/text() in /c:catalog/c:magazine/c:title"}));

  FindOptions word = Only("Pen", false, false, false, true, false);
  word.MatchCase = true;
  word.WholeWord = true; // not "penny", not "Pens"
  EXPECT_EQ(TFinder(doc->XMLDoc(), word).All().size(), 2u);

  // Names are matched with their prefix, as written.
  std::vector<FindHit> titles = TFinder(doc->XMLDoc(), Only("c:title", true, false, false, false, false)).All();
  EXPECT_EQ(Describe(titles), (std::vector<std::string>{"/c:catalog/c:book[1]/c:title", "/c:catalog/c:book[2]/c:title",
                                                        "/c:catalog/c:magazine/c:title"}));
  EXPECT_EQ(titles[0].Field, FindField::Name);

  // An attribute's value shows its element.
  FindOptions de = Only("de", false, false, true, false, false);
  de.WholeWord = true;
  std::vector<FindHit> lang = TFinder(doc->XMLDoc(), de).All();
  ASSERT_EQ(lang.size(), 1u);
  EXPECT_EQ(NodePath(lang[0].Node), "/c:catalog/c:book[2]/@lang");
  EXPECT_EQ(lang[0].Field, FindField::AttributeValue);
  EXPECT_EQ(NodePath(lang[0].Shown), "/c:catalog/c:book[2]");
  // Attribute names alone.
  EXPECT_EQ(TFinder(doc->XMLDoc(), Only("currency", false, true, false, false, false)).All().size(), 2u);
  EXPECT_EQ(TFinder(doc->XMLDoc(), Only("currency", true, false, true, true, true)).All().size(), 0u);
}

TEST(Find, RegularExpressions) {
  auto doc = Load("catalog.xml");
  FindOptions money = Only("^[0-9]+\\.[0-9]{2}$", false, false, false, true, false);
  money.Regex = true;
  EXPECT_EQ(Describe(TFinder(doc->XMLDoc(), money).All()),
            (std::vector<std::string>{"/c:catalog/c:book[1]/p:price/text() in /c:catalog/c:book[1]/p:price",
                                      "/c:catalog/c:book[2]/p:price/text() in /c:catalog/c:book[2]/p:price"}));
  FindOptions ids = Only("^[bm][0-9]$", false, false, true, false, false);
  ids.Regex = true;
  EXPECT_EQ(TFinder(doc->XMLDoc(), ids).All().size(), 3u);
  FindOptions word = Only("pens?", false, false, false, true, false);
  word.Regex = true;
  word.WholeWord = true; // "penny" is no word match
  EXPECT_EQ(TFinder(doc->XMLDoc(), word).All().size(), 3u);

  FindOptions bad = Only("a(b", true, true, true, true, true);
  bad.Regex = true;
  EXPECT_NE(ErrorOf(doc->XMLDoc(), bad).find("\"a(b\" is not valid: Unmatched ( or \\("), std::string::npos)
      << ErrorOf(doc->XMLDoc(), bad);
  EXPECT_NE(ErrorOf(doc->XMLDoc(), Only("", true, true, true, true, true)), "no error");
}

TEST(Find, XPathWithTheDocumentsPrefixes) {
  auto doc = Load("catalog.xml");
  FindOptions x;
  x.XPath = true;
  x.Text = "//p:price[@currency='USD'] | //c:book/@id";
  std::vector<FindHit> hits = TFinder(doc->XMLDoc(), x).All();
  EXPECT_EQ(Describe(hits), (std::vector<std::string>{"/c:catalog/c:book[1]/@id in /c:catalog/c:book[1]",
                                                      "/c:catalog/c:book[2]/@id in /c:catalog/c:book[2]",
                                                      "/c:catalog/c:book[2]/p:price"}));

  x.Text = "//c:book[";
  EXPECT_NE(ErrorOf(doc->XMLDoc(), x).find("\"//c:book[\" is not valid: Invalid expression"), std::string::npos)
      << ErrorOf(doc->XMLDoc(), x);
  x.Text = "//q:book";
  EXPECT_NE(ErrorOf(doc->XMLDoc(), x).find("Undefined namespace prefix"), std::string::npos) << ErrorOf(doc->XMLDoc(), x);
  x.Text = "count(//c:book)";
  EXPECT_NE(ErrorOf(doc->XMLDoc(), x).find("gives the value \"2\", not nodes"), std::string::npos) << ErrorOf(doc->XMLDoc(), x);
}

TEST(Find, NextAndPreviousGoRoundTheDocument) {
  auto doc = Load("catalog.xml");
  for (bool xpath : {false, true}) {
    SCOPED_TRACE(xpath ? "xpath" : "text");
    FindOptions o = Only("c:title", true, false, false, false, false);
    if (xpath) {
      o.XPath = true;
      o.Text = "//c:title";
    }
    TFinder finder(doc->XMLDoc(), o);
    const std::vector<FindHit> all = finder.All();
    ASSERT_EQ(all.size(), 3u);

    EXPECT_EQ(finder.Next({}), all[0]);
    EXPECT_EQ(finder.Next(all[0]), all[1]);
    EXPECT_EQ(finder.Next(all[1]), all[2]);
    FindHit wrapped = finder.Next(all[2]);
    EXPECT_EQ(wrapped, all[0]);
    EXPECT_TRUE(wrapped.Wrapped);
    EXPECT_FALSE(finder.Next(all[2], true, false));

    EXPECT_EQ(finder.Next({}, false), all[2]);
    EXPECT_EQ(finder.Next(all[2], false), all[1]);
    EXPECT_EQ(finder.Next(all[0], false), all[2]);
    EXPECT_TRUE(finder.Next(all[0], false).Wrapped);
    EXPECT_FALSE(finder.Next(all[0], false, false));

    // From a node: its own match comes first going forward, none of it going back.
    EXPECT_EQ(finder.Next(FindHit::At(all[1].Node)), all[1]);
    EXPECT_EQ(finder.Next(FindHit::At(all[1].Node), false), all[0]);
    xmlNode *book2 = all[1].Node->parent;
    EXPECT_EQ(finder.Next(FindHit::At(book2)), all[1]);
    EXPECT_EQ(finder.Next(FindHit::At(book2), false), all[0]);
  }

  // Within one element: name, then each attribute's name and value, then the content.
  FindOptions b = Only("b", true, true, true, true, true);
  TFinder finder(doc->XMLDoc(), b);
  xmlNode *book1 = xmlFirstElementChild(xmlDocGetRootElement(Doc(*doc)));
  FindHit name = finder.Next(FindHit::At(book1));
  EXPECT_EQ(name.Node, book1);
  EXPECT_EQ(name.Field, FindField::Name);
  FindHit value = finder.Next(name);
  EXPECT_EQ(NodePath(value.Node), "/c:catalog/c:book[1]/@id");
  EXPECT_EQ(value.Field, FindField::AttributeValue);
  EXPECT_EQ(finder.Next(value, false), name);
}

TEST(Find, SeesNodesAddedInMemory) {
  auto doc = Load("catalog.xml");
  xmlmodel::TOrbXMLItem *magazine = doc->RootItem()->Children()->Items(3);
  ASSERT_EQ(magazine->NodeName(), "c:magazine");
  xmlmodel::TOrbXMLItem *added = magazine->Children()->CreateNode("c:issue", xmlmodel::ntElement);
  added->SetText("March");
  std::vector<FindHit> hits = TFinder(doc->XMLDoc(), Only("march", false, false, false, true, false)).All();
  ASSERT_EQ(hits.size(), 1u);
  EXPECT_EQ(hits[0].Shown, added->Node());
  EXPECT_EQ(NodePath(hits[0].Shown), "/c:catalog/c:magazine/c:issue");
}
