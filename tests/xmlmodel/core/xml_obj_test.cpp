#include "test_util.h"

#include "common/exception.h"

#include <gtest/gtest.h>

using namespace xmlmodel;
using xmltest::Child;
using xmltest::LoadText;
using xmltest::TempDir;
using xmltest::Xml;

TEST(ItemTree, ListsSkipTextNodesAndAreBuiltOnce) {
  TempDir dir;
  auto doc = LoadText(dir, "<a>x<b/><!--c--><![CDATA[d]]></a>");
  TOrbXMLItem *root = doc->RootItem();
  EXPECT_EQ(root->OwnerList(), nullptr);
  EXPECT_EQ(root->Document(), doc.get());
  TOrbXMLList *children = root->Children();
  EXPECT_EQ(children, doc->RootChildren());
  EXPECT_EQ(children, root->Children());
  ASSERT_EQ(children->Count(), 3);
  EXPECT_EQ(children->Items(0)->NodeName(), "b");
  EXPECT_EQ(children->Items(0)->NodeType(), ntElement);
  EXPECT_EQ(children->Items(1)->NodeName(), "#comment");
  EXPECT_EQ(children->Items(1)->NodeType(), ntComment);
  EXPECT_EQ(children->Items(2)->NodeType(), ntCData);
  EXPECT_EQ(children->Items(1)->OwnerList(), children);
  EXPECT_EQ(children->OwnerItem(), root);
  EXPECT_EQ(children->IndexOf(children->Items(2)), 2);
  // A comment has neither children nor attributes.
  EXPECT_EQ(children->Items(1)->Children()->Count(), 0);
  EXPECT_EQ(children->Items(1)->Attributes()->Count(), 0);
  for (int bad : {3, -1}) {
    try {
      children->Items(bad);
      ADD_FAILURE() << "no error for " << bad;
    } catch (const common::Exception &e) {
      EXPECT_EQ(std::string(e.what()), common::Format("List index out of bounds (%d)", bad));
    }
  }
}

TEST(ItemTree, CreateNodeAppendsLastAndSetsModified) {
  TempDir dir;
  auto doc = LoadText(dir, "<a><b/>tail text</a>");
  TOrbXMLList *children = doc->RootChildren();
  EXPECT_FALSE(doc->Modified);

  TOrbXMLItem *comment = children->CreateNode("#comment", ntComment, nullptr);
  EXPECT_EQ(comment->NodeType(), ntComment);
  comment->SetText(" note ");
  TOrbXMLItem *element = children->CreateNode("c", ntElement, nullptr);
  EXPECT_TRUE(doc->Modified);
  EXPECT_EQ(children->Count(), 3);
  EXPECT_EQ(children->Items(2), element);
  EXPECT_EQ(element->Node(), doc->RootItem()->Node()->last); // last child in the DOM too
  EXPECT_EQ(Xml(doc->RootItem()), "<a><b/>tail text<!-- note --><c/></a>");

  // "#" leaves an empty name, which the DOM refuses; invalid names and types change nothing.
  doc->Modified = false;
  EXPECT_THROW(children->CreateNode("#", ntElement, nullptr), common::Exception);
  EXPECT_THROW(children->CreateNode("New Name...", ntElement, nullptr), common::Exception);
  EXPECT_THROW(children->CreateNode("x", ntDocument, nullptr), common::Exception);
  TOrbXMLList *attributes = doc->RootItem()->Attributes();
  EXPECT_THROW(attributes->CreateNode("New Name...", ntAttribute, nullptr), common::Exception);
  EXPECT_EQ(children->Count(), 3);
  EXPECT_EQ(attributes->Count(), 0);
  EXPECT_FALSE(doc->Modified);
  EXPECT_EQ(Xml(doc->RootItem()), "<a><b/>tail text<!-- note --><c/></a>");
  // An attribute on a comment is refused the same way.
  EXPECT_THROW(comment->Attributes()->CreateNode("x", ntAttribute, nullptr), common::Exception);

  // A leading "#" is dropped and the name cut to 255 characters.
  TOrbXMLItem *longName = children->CreateNode("#" + std::string(300, 'n'), ntElement, nullptr);
  EXPECT_EQ(longName->NodeName(), std::string(255, 'n'));

  // A list without an owner item (beside the root element) refuses silently.
  TOrbXMLList nowhere(nullptr, false);
  try {
    nowhere.CreateNode("x", ntElement, nullptr);
    ADD_FAILURE() << "no abort";
  } catch (const common::EAbort &e) {
    EXPECT_STREQ(e.what(), "Cannot make new node here");
  }
}

TEST(ItemTree, AttributesAreAddedRefusedWhenDuplicateAndDeleted) {
  TempDir dir;
  auto doc = LoadText(dir, "<r id=\"1\" kind=\"x\"/>");
  TOrbXMLList *attributes = doc->RootItem()->Attributes();
  ASSERT_EQ(attributes->Count(), 2);
  EXPECT_EQ(attributes->Items(1)->NodeName(), "kind");
  EXPECT_EQ(attributes->Items(1)->Text(), "x");
  EXPECT_THROW(attributes->CreateNode("id", ntAttribute, nullptr), common::Exception);
  EXPECT_EQ(attributes->Count(), 2);
  TOrbXMLItem *added = attributes->CreateNode("note", ntAttribute, nullptr);
  added->SetText("a \"b\" & c");
  attributes->DeleteItem(attributes->Items(0));
  EXPECT_EQ(attributes->Count(), 2);
  // Deleting an item of another list does nothing.
  auto other = LoadText(dir, "<o k=\"v\"/>", "other.xml");
  attributes->DeleteItem(other->RootItem()->Attributes()->Items(0));
  EXPECT_EQ(attributes->Count(), 2);
  doc->Save();
  EXPECT_EQ(xmltest::ReadFile(doc->FileName), "<r kind=\"x\" note=\"a &quot;b&quot; &amp; c\"/>");
}

TEST(ItemTree, CopyKeepsNamesTypesAttributesAndTextOnce) {
  TempDir dir;
  auto doc = LoadText(dir, "<root>\n"
                           "  <src a=\"1\">\n"
                           "    <x k=\"v\" m=\"w\">leaf</x>\n"
                           "    <!--note-->\n"
                           "    <y><z>deep</z></y>\n"
                           "  </src>\n"
                           "  <other/>\n"
                           "</root>");
  TOrbXMLList *children = doc->RootChildren();
  TOrbXMLItem *src = children->Items(0);
  const std::string before = src->Text();

  // Rename by copy + delete, as the editor does.
  TOrbXMLItem *renamed = children->CreateNode("dst", ntElement, src);
  children->DeleteItem(src);
  EXPECT_EQ(renamed->Text(), before);           // nothing lost, nothing doubled
  ASSERT_EQ(renamed->Attributes()->Count(), 1); // the renamed element keeps its attributes
  EXPECT_EQ(renamed->Attributes()->Items(0)->Text(), "1");
  TOrbXMLList *copied = renamed->Children();
  ASSERT_EQ(copied->Count(), 3);
  EXPECT_EQ(copied->Items(0)->NodeName(), "x");
  EXPECT_EQ(copied->Items(0)->Text(), "leaf");
  ASSERT_EQ(copied->Items(0)->Attributes()->Count(), 2);
  EXPECT_EQ(copied->Items(0)->Attributes()->Items(1)->NodeName(), "m");
  EXPECT_EQ(copied->Items(0)->Attributes()->Items(1)->Text(), "w");
  EXPECT_EQ(copied->Items(1)->NodeType(), ntComment);
  EXPECT_EQ(copied->Items(2)->Children()->Items(0)->Text(), "deep");
  doc->Save();
  EXPECT_EQ(xmltest::ReadFile(doc->FileName), "<root>\n"
                                              "  <other/>\n"
                                              "  <dst a=\"1\">\n"
                                              "    <x k=\"v\" m=\"w\">leaf</x>\n"
                                              "    <!--note-->\n"
                                              "    <y><z>deep</z></y>\n"
                                              "  </dst>\n"
                                              "</root>");
}

TEST(ItemTree, MixedContentAndMovesCopyEveryCharacterOnceInPlace) {
  TempDir dir;
  auto doc =
      LoadText(dir, "<doc><p>Hello <b>world</b>!</p><box/><other><p>x<![CDATA[<y>]]>z</p></other></doc>");
  TOrbXMLList *children = doc->RootChildren();
  TOrbXMLItem *p = children->Items(0);
  TOrbXMLItem *box = children->Items(1);
  // Move the paragraph into the box: copy under the new parent, delete the original.
  TOrbXMLItem *moved = box->Children()->CreateNode(p->NodeName(), p->NodeType(), p);
  children->DeleteItem(p);
  EXPECT_EQ(Xml(box), "<box><p>Hello <b>world</b>!</p></box>");
  EXPECT_EQ(moved->Text(), "Hello world!");
  EXPECT_EQ(moved->Children()->Count(), 1);
  // CDATA sections are items of their own and keep their kind.
  TOrbXMLItem *p2 = Child(children->Items(1), "p");
  box->Children()->CreateNode("q", ntElement, p2);
  EXPECT_EQ(Xml(box), "<box><p>Hello <b>world</b>!</p><q>x<![CDATA[<y>]]>z</q></box>");
  // Copying a node into its own subtree copies what was there before, once.
  TOrbXMLItem *inner = moved->Children()->CreateNode("again", ntElement, moved);
  EXPECT_EQ(Xml(inner), "<again>Hello <b>world</b>!</again>");
}

TEST(ItemTree, FailedCopyLeavesNothingBehind) {
  TempDir dir;
  auto doc = LoadText(dir, "<r><e a=\"1\"><c/>text</e></r>");
  TOrbXMLList *children = doc->RootChildren();
  TOrbXMLItem *e = children->Items(0);
  // Retyping an element with children into a comment cannot hold the children.
  EXPECT_THROW(children->CreateNode("#comment", ntComment, e), common::Exception);
  EXPECT_EQ(children->Count(), 1);
  EXPECT_FALSE(doc->Modified);
  EXPECT_EQ(Xml(doc->RootItem()), "<r><e a=\"1\"><c/>text</e></r>");
  // A text-only element retypes fine; its text comes along.
  TOrbXMLItem *leaf = Child(e, "c");
  leaf->SetText("plain");
  TOrbXMLItem *comment = e->Children()->CreateNode("#comment", ntComment, leaf);
  EXPECT_EQ(comment->Text(), "plain");
  // A comment made from an element with attributes simply has none.
  TOrbXMLItem *fromElement = e->Children()->CreateNode("#comment", ntComment, Child(e, "c"));
  EXPECT_EQ(fromElement->Attributes()->Count(), 0);
}

TEST(ItemTree, ItemsNeverPointAtFreedNodes) {
  TempDir dir;
  auto doc = LoadText(dir, "<r><a k=\"v\"><b>old</b><c/></a><d/></r>");
  TOrbXMLList *children = doc->RootChildren();
  TOrbXMLItem *a = children->Items(0);
  TOrbXMLList *aChildren = a->Children();
  TOrbXMLItem *b = aChildren->Items(0);
  TOrbXMLItem *attr = a->Attributes()->Items(0);
  // Replacing an element's text takes its children out, but the built list keeps their items.
  a->SetText("new");
  ASSERT_EQ(aChildren->Count(), 2);
  EXPECT_EQ(b->NodeName(), "b");
  EXPECT_EQ(b->Text(), "old");
  EXPECT_EQ(Xml(a), "<a k=\"v\">new</a>");
  // Editing and deleting the orphaned items is harmless.
  b->SetText("changed");
  aChildren->DeleteItem(b);
  EXPECT_EQ(aChildren->Count(), 1);
  // An attribute's text replaced, then the attribute deleted.
  attr->SetText("w");
  EXPECT_EQ(attr->Text(), "w");
  a->Attributes()->DeleteItem(attr);
  EXPECT_EQ(Xml(a), "<a>new</a>");
  // Deleting a whole subtree, then reading a sibling.
  children->DeleteItem(a);
  EXPECT_EQ(children->Count(), 1);
  EXPECT_EQ(children->Items(0)->NodeName(), "d");
  EXPECT_FALSE(doc->Modified);
  doc->Save();
  EXPECT_EQ(xmltest::ReadFile(doc->FileName), "<r><d/></r>");
}

TEST(Document, NewLoadSaveAndTheModifiedFlag) {
  TempDir dir;
  TOrbMainXML fresh;
  EXPECT_FALSE(fresh.RootItem()->HasNode());
  fresh.NewDocument("root");
  EXPECT_TRUE(fresh.FileName.empty());
  EXPECT_FALSE(fresh.Modified);
  EXPECT_EQ(fresh.XMLDoc().SaveToString(), "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<root/>\n");
  // No file name yet: the save fails and the flag keeps its value.
  EXPECT_THROW(fresh.Save(), common::Exception);
  EXPECT_FALSE(fresh.Modified);
  fresh.RootChildren()->CreateNode("child", ntElement, nullptr);
  EXPECT_THROW(fresh.Save(), common::Exception);
  EXPECT_TRUE(fresh.Modified);
  fresh.FileName = dir.File("new.xml");
  fresh.Save();
  EXPECT_FALSE(fresh.Modified);
  EXPECT_EQ(xmltest::ReadFile(dir.File("new.xml")),
            "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<root><child/></root>\n");

  TOrbMainXML invalid;
  EXPECT_THROW(invalid.NewDocument("New Name..."), common::Exception);
  EXPECT_FALSE(invalid.RootItem()->HasNode());

  auto loaded = LoadText(dir, "<a><b>t</b><c/></a>");
  TOrbXMLList *children = loaded->RootChildren();
  children->Items(0)->SetText("u");
  children->DeleteItem(children->Items(1));
  EXPECT_FALSE(loaded->Modified);
  children->CreateNode("n", ntElement, nullptr);
  EXPECT_TRUE(loaded->Modified);
  loaded->Save();
  EXPECT_FALSE(loaded->Modified);
}

TEST(Document, AFileThatIsNotXmlLeavesTheRootWithoutANode) {
  TempDir dir;
  auto doc = LoadText(dir, "this is not XML");
  EXPECT_FALSE(doc->RootItem()->HasNode());
  EXPECT_NE(doc->XMLDoc().LastParseError().ErrorCode, 0);
  EXPECT_FALSE(doc->Modified);
  try {
    doc->RootChildren();
    ADD_FAILURE() << "no error";
  } catch (const common::Exception &e) {
    EXPECT_STREQ(e.what(), "The document has no root element");
  }
  EXPECT_THROW(doc->RootItem()->NodeName(), common::Exception);
  EXPECT_THROW(doc->RootItem()->Attributes(), common::Exception);
  EXPECT_THROW(doc->RootItem()->SetText("x"), common::Exception);
  // Nor may it be saved over the file it came from.
  EXPECT_THROW(doc->Save(), common::Exception);
  EXPECT_EQ(xmltest::ReadFile(doc->FileName), "this is not XML");

  TOrbMainXML missing;
  missing.FileName = dir.File("nothing-here.xml");
  missing.Load();
  EXPECT_FALSE(missing.RootItem()->HasNode());
}

TEST(Document, NewNodesTakeTheIndentationOfTheirSiblings) {
  TempDir dir;
  auto doc = LoadText(dir, "<?xml version=\"1.0\"?>\n"
                           "<config>\n"
                           "    <item>1</item>\n"
                           "    <item>2</item>\n"
                           "    <!-- end of items -->\n"
                           "    <group>\n"
                           "\t<leaf/>\n"
                           "    </group>\n"
                           "    <empty/>\n"
                           "</config>\n");
  TOrbXMLList *children = doc->RootChildren();
  children->CreateNode("item", ntElement, nullptr)->SetText("3");
  Child(doc->RootItem(), "group")->Children()->CreateNode("leaf2", ntElement, nullptr);
  Child(doc->RootItem(), "empty")->Children()->CreateNode("inside", ntElement, nullptr);
  doc->RootItem()->Attributes()->CreateNode("version", ntAttribute, nullptr)->SetText("2");
  doc->Save();
  EXPECT_EQ(xmltest::ReadFile(doc->FileName), "<?xml version=\"1.0\"?>\n"
                                              "<config version=\"2\">\n"
                                              "    <item>1</item>\n"
                                              "    <item>2</item>\n"
                                              "    <!-- end of items -->\n"
                                              "    <group>\n"
                                              "\t<leaf/>\n"
                                              "\t<leaf2/>\n"
                                              "    </group>\n"
                                              "    <empty><inside/></empty>\n"
                                              "    <item>3</item>\n"
                                              "</config>\n");
}

TEST(ItemTree, ImportingFromAnotherDocumentKeepsNamespacesAndOutlivesTheSource) {
  TempDir dir;
  auto doc = LoadText(dir, "<a xmlns:p=\"urn:p\"><p:x p:k=\"1\">t</p:x></a>");
  TOrbXMLItem *x = doc->RootChildren()->Items(0);
  {
    auto other = LoadText(dir, "<b xmlns=\"urn:d\"><c/><q:y xmlns:q=\"urn:q\"><q:z/></q:y></b>", "other.xml");
    TOrbXMLItem *root = other->RootItem();
    x->Children()->CreateNode(root->NodeName(), root->NodeType(), root);
  } // the source document is gone before anything below is read
  TOrbXMLItem *b = x->Children()->Items(0);
  EXPECT_EQ(Xml(x), "<p:x p:k=\"1\">t<b xmlns=\"urn:d\"><c/><q:y xmlns:q=\"urn:q\"><q:z/></q:y></b></p:x>");
  ASSERT_NE(b->Node()->ns, nullptr);
  EXPECT_STREQ(reinterpret_cast<const char *>(b->Node()->ns->href), "urn:d");
  TOrbXMLItem *y = b->Children()->Items(1);
  EXPECT_EQ(y->NodeName(), "q:y");
  ASSERT_NE(y->Node()->ns, nullptr);
  EXPECT_STREQ(reinterpret_cast<const char *>(y->Node()->ns->href), "urn:q");
  EXPECT_STREQ(reinterpret_cast<const char *>(y->Children()->Items(0)->Node()->ns->href), "urn:q");
  // A prefixed attribute added later binds to the prefix in scope.
  TOrbXMLItem *attr = y->Attributes()->CreateNode("p:extra", ntAttribute, nullptr);
  ASSERT_NE(attr->Node()->ns, nullptr);
  EXPECT_STREQ(reinterpret_cast<const char *>(attr->Node()->ns->href), "urn:p");
}

TEST(ItemTree, EntityReferencesAreMadeOnlyForDeclaredEntities) {
  TempDir dir;
  auto doc = LoadText(dir, "<!DOCTYPE r [<!ENTITY co \"Example Ltd\">]>\n<r><a>&co;</a><b/></r>");
  TOrbXMLList *children = doc->RootChildren();
  TOrbXMLItem *b = children->Items(1);
  TOrbXMLItem *ref = b->Children()->CreateNode("co", ntEntityRef, nullptr);
  EXPECT_EQ(ref->Text(), "Example Ltd");
  EXPECT_THROW(ref->SetText("x"), common::Exception);
  EXPECT_THROW(b->Children()->CreateNode("undeclared", ntEntityRef, nullptr), common::Exception);
  // A copy within the document keeps the reference; one into a document without the
  // declaration gets the text instead, so the file it writes can be read again.
  children->CreateNode("a2", ntElement, children->Items(0));
  auto other = LoadText(dir, "<o/>", "other.xml");
  other->RootChildren()->CreateNode("a", ntElement, children->Items(0));
  doc->Save();
  other->Save();
  EXPECT_NE(xmltest::ReadFile(doc->FileName).find("<b>&co;</b>"), std::string::npos);
  EXPECT_NE(xmltest::ReadFile(doc->FileName).find("<a2>&co;</a2>"), std::string::npos);
  EXPECT_EQ(xmltest::ReadFile(other->FileName), "<o><a>Example Ltd</a></o>");
  // An entity reference added to an attribute value shows in the written start tag.
  auto quoted = LoadText(dir, "<!DOCTYPE r [<!ENTITY co \"C\">]>\n<r v='x'/>", "quoted.xml");
  TOrbXMLItem *value = quoted->RootItem()->Attributes()->Items(0);
  value->Children()->CreateNode("co", ntEntityRef, nullptr);
  EXPECT_EQ(value->Text(), "xC");
  quoted->Save();
  EXPECT_NE(xmltest::ReadFile(quoted->FileName).find("<r v=\"x&co;\"/>"), std::string::npos);
}

TEST(ItemTree, WideCopiesKeepEveryChildAndTextInOrder) {
  TempDir dir;
  std::string wide = "<w>";
  for (int i = 0; i < 40; ++i)
    wide += " t" + std::to_string(i) + " <c" + std::to_string(i) + "/><!--" + std::to_string(i) + "-->";
  wide += "end</w>";
  auto doc = LoadText(dir, "<doc>" + wide + "<box/></doc>");
  TOrbXMLList *children = doc->RootChildren();
  TOrbXMLItem *box = children->Items(1);
  TOrbXMLItem *copy = box->Children()->CreateNode("w", ntElement, children->Items(0));
  EXPECT_EQ(Xml(copy), wide);
  ASSERT_EQ(copy->Children()->Count(), 80);
  EXPECT_EQ(copy->Children()->Items(78)->NodeName(), "c39");

  // A child taken out of the source by a text write is still copied, after the others.
  TOrbXMLItem *source = children->Items(0);
  source->SetText("gone");
  TOrbXMLItem *again = box->Children()->CreateNode("v", ntElement, source);
  EXPECT_EQ(again->Children()->Count(), 80);
  EXPECT_EQ(again->Text(), "gone");
}

TEST(ItemTree, HasChildItemsAnswersAsTheChildListWould) {
  TempDir dir;
  auto doc = LoadText(dir, "<a><t>only text</t><e/><!--c--><p>x<q/></p></a>");
  TOrbXMLList *children = doc->RootChildren();
  ASSERT_EQ(children->Count(), 4);
  EXPECT_FALSE(children->Items(0)->HasChildItems());
  EXPECT_FALSE(children->Items(1)->HasChildItems());
  EXPECT_FALSE(children->Items(2)->HasChildItems());
  EXPECT_TRUE(children->Items(3)->HasChildItems());
  for (int i = 0; i < 4; ++i)
    EXPECT_EQ(children->Items(i)->HasChildItems(), children->Items(i)->Children()->Count() > 0) << i;
  // Once built, the list answers, even when a text write has since emptied the node.
  children->Items(3)->SetText("flat");
  EXPECT_TRUE(children->Items(3)->HasChildItems());
  // And a list built empty answers for a node that later got children only through it.
  TOrbXMLItem *e = children->Items(1);
  e->Children()->CreateNode("n", ntElement, nullptr);
  EXPECT_TRUE(e->HasChildItems());
}

TEST(ItemTree, CopiedLayoutCanBeReplacedRemovedAndSaved) {
  TempDir dir;
  auto doc = LoadText(dir, "<r>\n  <t>\n    <a/>\n    <b>x</b>\n  </t>\n</r>");
  TOrbXMLList *children = doc->RootChildren();
  TOrbXMLItem *first = children->CreateNode("t", ntElement, children->Items(0));
  TOrbXMLItem *second = children->CreateNode("t", ntElement, children->Items(0));
  EXPECT_EQ(Xml(first), "<t>\n    <a/>\n    <b>x</b>\n  </t>");
  // Replacing the copied layout, or removing the copy with it, leaves the other copy intact.
  first->SetText("flat");
  children->DeleteItem(second);
  TOrbXMLItem *third = children->CreateNode("t", ntElement, children->Items(0));
  third->Children()->Items(0)->SetText(" \n ");
  doc->Save();
  EXPECT_EQ(xmltest::ReadFile(doc->FileName), "<r>\n  <t>\n    <a/>\n    <b>x</b>\n  </t>\n  <t>flat</t>\n"
                                              "  <t>\n    <a> \n </a>\n    <b>x</b>\n  </t>\n</r>");
}
