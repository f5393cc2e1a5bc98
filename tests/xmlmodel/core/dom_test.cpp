#include "test_util.h"

#include "common/exception.h"
#include "xmlmodel/dom.h"

#include <gtest/gtest.h>

#include <chrono>
#include <string>
#include <vector>

using namespace xmlmodel;
using xmltest::TempDir;

namespace {

// Node by path of element children, for compact checks.
xmlNode *FirstElement(xmlNode *node) {
  for (xmlNode *c = node->children; c != nullptr; c = c->next)
    if (c->type == XML_ELEMENT_NODE)
      return c;
  return nullptr;
}

std::string ErrorOf(const std::function<void()> &action) {
  try {
    action();
  } catch (const common::Exception &e) {
    return e.what();
  }
  return "(no error)";
}

} // namespace

TEST(Dom, NamesAndTypesFollowTheW3CNumbering) {
  TempDir dir;
  xmltest::WriteFile(dir.File("n.xml"), "<!DOCTYPE r [<!ENTITY e \"ent\">]>"
                                        "<r xmlns:p=\"urn:p\" p:a=\"1\">t<![CDATA[c]]>&e;<?pi data?><!--k-->"
                                        "<p:q/><text/></r>");
  DomDocument doc;
  ASSERT_TRUE(doc.Load(dir.File("n.xml")));
  xmlNode *root = doc.DocumentElement();
  std::vector<std::pair<std::string, int>> seen;
  for (xmlNode *c = DomFirstChild(root); c != nullptr; c = c->next)
    seen.emplace_back(DomNodeName(c), DomNodeType(c));
  const std::vector<std::pair<std::string, int>> expected = {
      {"#text", 3}, {"#cdata-section", 4}, {"e", 5}, {"pi", 7}, {"#comment", 8}, {"p:q", 1}, {"text", 1}};
  EXPECT_EQ(seen, expected);
  xmlNode *attr = DomFirstAttribute(root);
  EXPECT_EQ(DomNodeName(attr), "p:a");
  EXPECT_EQ(DomNodeType(attr), ntAttribute);
  EXPECT_EQ(DomNodeType(doc.Doc()->children), ntDocType); // libxml2's DTD node
  EXPECT_EQ(DomNodeName(reinterpret_cast<xmlNode *>(doc.Doc())), "#document");
  // An entity reference shows its replacement text but has no children of its own to edit.
  xmlNode *ref = root->children->next->next;
  EXPECT_EQ(DomNodeText(ref), "ent");
  EXPECT_FALSE(DomHasChildNodes(ref));
  EXPECT_EQ(DomNodeText(root), "tcent"); // text and CDATA of all descendants, not comments or PIs
}

TEST(Dom, CreationRefusesInvalidNamesAndTypesItCannotMake) {
  DomDocument doc;
  for (const char *bad : {"New Name...", "", ":x", "x:", "p:q:r", "1abc", "a b"}) {
    EXPECT_NE(ErrorOf([&] { doc.CreateNode(ntElement, bad); }).find("not a valid XML name"),
              std::string::npos)
        << bad;
    EXPECT_THROW(doc.CreateAttribute(bad), common::Exception) << bad;
  }
  for (int type : {0, 6, 9, 10, 12, 13, -1, 99})
    EXPECT_EQ(ErrorOf([&] { doc.CreateNode(type, "x"); }),
              common::Format("Cannot create a node of type %d", type));
  // Kinds without a name ignore it; a processing instruction takes it as its target.
  xmlNode *comment = doc.CreateNode(ntComment, "New Name...");
  EXPECT_EQ(DomNodeName(comment), "#comment");
  xmlNode *text = doc.CreateNode(ntText, "whatever");
  xmlNode *cdata = doc.CreateNode(ntCData, "");
  xmlNode *pi = doc.CreateNode(ntProcessingInstr, "target");
  EXPECT_EQ(DomNodeName(pi), "target");
  EXPECT_THROW(doc.CreateNode(ntProcessingInstr, "xml"), common::Exception);
  xmlNode *root = doc.CreateNode(ntElement, "root");
  doc.AppendToDocument(root);
  EXPECT_EQ(doc.DocumentElement(), root);
  xmlNode *second = doc.CreateNode(ntElement, "second");
  EXPECT_THROW(doc.AppendToDocument(second), common::Exception); // one root element only
  doc.DiscardNode(second);
  for (xmlNode *n : {comment, text, cdata, pi})
    doc.AppendChild(root, n);
  EXPECT_EQ(doc.SaveToString(), "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
                                "<root><!----><![CDATA[]]><?target?></root>\n");
  // Nothing can be appended below a comment or below itself.
  xmlNode *inner = doc.CreateNode(ntElement, "inner");
  EXPECT_THROW(doc.AppendChild(comment, inner), common::Exception);
  doc.DiscardNode(inner);
  EXPECT_THROW(doc.AppendChild(root, root), common::Exception);
}

TEST(Dom, TextIsWrittenLiterallyAndUnwritableTextIsRefused) {
  DomDocument doc;
  xmlNode *root = doc.CreateNode(ntElement, "r");
  doc.AppendToDocument(root);
  doc.SetText(root, "a & b <c> &amp; \"q\"");
  EXPECT_EQ(DomNodeText(root), "a & b <c> &amp; \"q\"");
  xmlNode *attr = doc.CreateAttribute("v");
  doc.SetAttributeNode(root, attr);
  doc.SetText(attr, "x & <y>\n\"z\"");
  EXPECT_EQ(DomNodeText(attr), "x & <y>\n\"z\"");
  EXPECT_EQ(doc.SaveToString(), "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
                                "<r v=\"x &amp; &lt;y&gt;&#10;&quot;z&quot;\">a &amp; b &lt;c&gt; &amp;amp; "
                                "\"q\"</r>\n");
  // Text that would make the file unreadable is refused and the node keeps its text.
  xmlNode *comment = doc.CreateNode(ntComment, "");
  doc.AppendChild(root, comment);
  doc.SetText(comment, " fine ");
  EXPECT_THROW(doc.SetText(comment, "a -- b"), common::Exception);
  EXPECT_THROW(doc.SetText(comment, "ends-"), common::Exception);
  EXPECT_EQ(DomNodeText(comment), " fine ");
  xmlNode *cdata = doc.CreateNode(ntCData, "");
  doc.AppendChild(root, cdata);
  EXPECT_THROW(doc.SetText(cdata, "x]]>y"), common::Exception);
  EXPECT_THROW(doc.SetText(root, std::string("bell\x07")), common::Exception);
  EXPECT_THROW(doc.SetText(root, std::string("\xFF\xFE")), common::Exception);
}

TEST(Dom, AttributeOfTheSameNameIsRefusedAndNothingChanges) {
  TempDir dir;
  xmltest::WriteFile(dir.File("a.xml"), "<r xmlns:p=\"urn:p\" a=\"1\" p:b=\"2\"/>");
  DomDocument doc;
  ASSERT_TRUE(doc.Load(dir.File("a.xml")));
  xmlNode *root = doc.DocumentElement();
  for (const char *name : {"a", "p:b"}) {
    xmlNode *dup = doc.CreateAttribute(name);
    EXPECT_NE(ErrorOf([&] { doc.SetAttributeNode(root, dup); }).find("already has an attribute"),
              std::string::npos);
    doc.DiscardNode(dup);
  }
  // Same local name in another namespace (or none) is a different attribute.
  xmlNode *b = doc.CreateAttribute("b");
  doc.SetAttributeNode(root, b);
  doc.SetText(b, "3");
  EXPECT_EQ(doc.SaveToString(), "<r xmlns:p=\"urn:p\" a=\"1\" p:b=\"2\" b=\"3\"/>");
}

TEST(Dom, RemovedNodesStayAliveUntilTheDocumentGoes) {
  TempDir dir;
  xmltest::WriteFile(dir.File("g.xml"), "<r a=\"1\"><x><y>deep</y></x><z/></r>");
  DomDocument doc;
  ASSERT_TRUE(doc.Load(dir.File("g.xml")));
  xmlNode *root = doc.DocumentElement();
  xmlNode *x = FirstElement(root);
  xmlNode *y = FirstElement(x);
  xmlNode *attr = DomFirstAttribute(root);
  doc.RemoveChild(root, x);
  doc.RemoveAttribute(root, attr);
  doc.SetText(root, "only text"); // takes <z/> out as well
  // All still readable (ASan reports any use of freed memory here).
  EXPECT_EQ(DomNodeName(x), "x");
  EXPECT_EQ(DomNodeText(y), "deep");
  EXPECT_EQ(DomNodeText(attr), "1");
  EXPECT_EQ(doc.SaveToString(), "<r>only text</r>");
  // Detaching what is not a child is an error, not a crash.
  EXPECT_THROW(doc.RemoveChild(root, x), common::Exception);
  EXPECT_THROW(doc.RemoveAttribute(root, attr), common::Exception);
  // A taken-out node put back elsewhere is freed once, with its new parent.
  doc.AppendChild(root, x);
  EXPECT_EQ(doc.SaveToString(), "<r>only text<x><y>deep</y></x></r>");
  // ... and one taken out a second time is still freed once.
  doc.RemoveChild(root, x);
  EXPECT_EQ(doc.SaveToString(), "<r>only text</r>");
}

TEST(Dom, LoadReportsTheFirstErrorWithLineAndSourceText) {
  TempDir dir;
  DomDocument doc;
  xmltest::WriteFile(dir.File("bad.xml"), "<a>\n  <b>\n  </c>\n</a>\n");
  EXPECT_FALSE(doc.Load(dir.File("bad.xml")));
  EXPECT_EQ(doc.DocumentElement(), nullptr);
  EXPECT_NE(doc.LastParseError().ErrorCode, 0);
  EXPECT_EQ(doc.LastParseError().Line, 3);
  EXPECT_EQ(doc.LastParseError().SrcText, "  </c>");
  EXPECT_NE(doc.LastParseError().Reason.find("mismatch"), std::string::npos) << doc.LastParseError().Reason;
  EXPECT_NE(doc.LastParseError().Reason.back(), '\n');

  EXPECT_FALSE(doc.Load(dir.File("missing.xml")));
  EXPECT_NE(doc.LastParseError().ErrorCode, 0);
  EXPECT_EQ(doc.LastParseError().Line, 0);
  EXPECT_NE(doc.LastParseError().Reason.find("missing.xml"), std::string::npos);

  xmltest::WriteFile(dir.File("empty.xml"), "");
  EXPECT_FALSE(doc.Load(dir.File("empty.xml")));
  EXPECT_NE(doc.LastParseError().ErrorCode, 0);

  xmltest::WriteFile(dir.File("good.xml"), "<ok/>");
  EXPECT_TRUE(doc.Load(dir.File("good.xml")));
  EXPECT_EQ(doc.LastParseError().ErrorCode, 0);
}

TEST(Dom, UntrustedInputIsNotExpandedFetchedOrAllowedToHang) {
  TempDir dir;
  xmltest::WriteFile(dir.File("secret.txt"), "TOPSECRET");
  xmltest::WriteFile(dir.File("xxe.xml"),
                     "<!DOCTYPE r [<!ENTITY x SYSTEM \"" + dir.File("secret.txt") + "\">]>\n<r>&x;</r>\n");
  std::string laughs = "<?xml version=\"1.0\"?>\n<!DOCTYPE lolz [\n<!ENTITY lol \"lol\">\n";
  laughs += "<!ENTITY lol1 \"&lol;&lol;&lol;&lol;&lol;&lol;&lol;&lol;&lol;&lol;\">\n";
  for (int i = 2; i <= 9; ++i) {
    laughs += "<!ENTITY lol" + std::to_string(i) + " \"";
    for (int k = 0; k < 10; ++k)
      laughs += "&lol" + std::to_string(i - 1) + ";";
    laughs += "\">\n";
  }
  laughs += "]>\n<lolz>&lol9;</lolz>\n";
  xmltest::WriteFile(dir.File("laughs.xml"), laughs);
  // 192.0.2.0/24 is reserved for documentation: a fetch would hang until a time-out.
  xmltest::WriteFile(dir.File("http.xml"), "<!DOCTYPE r SYSTEM \"http://192.0.2.1/never.dtd\">\n<r>ok</r>\n");

  const auto start = std::chrono::steady_clock::now();
  DomDocument xxe;
  ASSERT_TRUE(xxe.Load(dir.File("xxe.xml")));
  EXPECT_EQ(DomNodeText(xxe.DocumentElement()).find("TOPSECRET"), std::string::npos);
  EXPECT_EQ(xxe.SaveToString().find("TOPSECRET"), std::string::npos);
  EXPECT_NE(xxe.SaveToString().find("&x;"), std::string::npos);

  DomDocument lol;
  if (lol.Load(dir.File("laughs.xml")))
    EXPECT_LT(DomNodeText(lol.DocumentElement()).size(), 1000000u);
  else
    EXPECT_NE(lol.LastParseError().ErrorCode, 0);

  DomDocument http;
  ASSERT_TRUE(http.Load(dir.File("http.xml")));
  EXPECT_EQ(DomNodeText(http.DocumentElement()), "ok");
  // Even a caller asking for the DTD to be loaded gets no network access.
  DomDocument httpDtd;
  httpDtd.Load(dir.File("http.xml"), XML_PARSE_DTDLOAD);
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(5));
}

TEST(Dom, NonAsciiTextIsCheckedAsWholeCharacters) {
  DomDocument doc;
  xmlNode *root = doc.CreateNode(ntElement, "r");
  doc.AppendToDocument(root);
  doc.SetText(root, "caf\xC3\xA9 \xE2\x82\xAC\t1\r\n");
  EXPECT_EQ(DomNodeText(root), "caf\xC3\xA9 \xE2\x82\xAC\t1\r\n");
  // Invalid bytes and NUL are refused as encoding errors, even before or after a control
  // character; a control character in valid text is named.
  for (const std::string &bad : {std::string("ok\0no", 5), std::string("\xC3"), std::string("\x01\xC3(")}) {
    try {
      doc.SetText(root, bad);
      ADD_FAILURE() << "accepted " << bad;
    } catch (const common::Exception &e) {
      EXPECT_STREQ(e.what(), "The text is not valid UTF-8");
    }
  }
  try {
    doc.SetText(root, "\xC3\xA9\x1F");
    ADD_FAILURE() << "accepted a control character";
  } catch (const common::Exception &e) {
    EXPECT_STREQ(e.what(), "The text contains the control character 31, which XML does not allow");
  }
  EXPECT_EQ(DomNodeText(root), "caf\xC3\xA9 \xE2\x82\xAC\t1\r\n");
  EXPECT_THROW(doc.AppendText(root, "\x02"), common::Exception);
  EXPECT_EQ(DomNodeText(root), "caf\xC3\xA9 \xE2\x82\xAC\t1\r\n");
  doc.AppendText(root, "");
  doc.AppendText(root, "]]>&<\"'");
  xmlNode *attr = doc.CreateAttribute("v");
  doc.SetAttributeNode(root, attr);
  doc.SetText(attr, "a\tb\r\nc\xC3\xA9'>");
  EXPECT_EQ(doc.SaveToString(),
            "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
            "<r v=\"a&#9;b&#13;&#10;c\xC3\xA9'&gt;\">caf\xC3\xA9 \xE2\x82\xAC\t1&#13;\n]]&gt;&amp;&lt;"
            "\"'</r>\n");
}

TEST(Dom, ManyTextWritesKeepEveryReplacedNodeAlive) {
  DomDocument doc;
  xmlNode *root = doc.CreateNode(ntElement, "r");
  doc.AppendToDocument(root);
  std::vector<xmlNode *> old;
  for (int i = 0; i < 2000; ++i) {
    doc.SetText(root, std::to_string(i));
    old.push_back(root->children);
  }
  // Each replaced text node is still readable (the sanitizer build checks the memory).
  for (int i = 0; i + 1 < 2000; ++i)
    ASSERT_EQ(DomNodeText(old[i]), std::to_string(i));
  EXPECT_EQ(DomNodeText(root), "1999");
}
