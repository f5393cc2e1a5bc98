#include "editor/xml_tree_model.h"
#include "test_util.h"
#include "xmlmodel/edits.h"

#include <QAbstractItemModelTester>
#include <QSignalSpy>

#include <gtest/gtest.h>

using editor::TXmlTreeModel;
using xmlmodel::TEdit;
using xmlmodel::TOrbXMLItem;
using xmltest::LoadText;
using xmltest::TempDir;

namespace {

std::string Caption(const QModelIndex &index) { return index.data().toString().toStdString(); }

std::string Captions(const TXmlTreeModel &model, const QModelIndex &parent) {
  std::string result;
  for (int row = 0; row < model.rowCount(parent); ++row)
    result += (row ? "|" : "") + Caption(model.index(row, 0, parent));
  return result;
}

struct Fixture {
  TempDir dir;
  std::unique_ptr<xmlmodel::TOrbMainXML> doc;
  TXmlTreeModel model;
  explicit Fixture(const std::string &xml) : doc(LoadText(dir, xml)) { model.SetDocument(doc.get()); }
  ~Fixture() { model.SetDocument(nullptr); }
  QModelIndex Root() const { return model.index(0, 0); }
};

TEST(XmlTreeModel, RowsExistOnlyBelowFetchedItemsAndFollowTheExpandRules) {
  // No tester here: it fetches whatever it walks.
  Fixture f("<r><a><b/><b/></a><!--c--><d>text</d></r>");
  TXmlTreeModel &model = f.model;
  const QModelIndex root = model.index(0, 0);
  EXPECT_EQ(model.rowCount(), 1);
  EXPECT_EQ(Caption(root), "r (3/5)");
  EXPECT_EQ(model.rowCount(root), 0);
  EXPECT_TRUE(model.hasChildren(root));
  EXPECT_TRUE(model.canFetchMore(root));
  model.fetchMore(root);
  EXPECT_EQ(Captions(model, root), "a (2/2)|#comment|d");
  const QModelIndex a = model.index(0, 0, root);
  EXPECT_TRUE(model.hasChildren(a));
  EXPECT_FALSE(model.hasChildren(model.index(1, 0, root))); // a comment has no child items
  EXPECT_FALSE(model.hasChildren(model.index(2, 0, root))); // text only
  model.fetchMore(a);
  EXPECT_EQ(model.parent(model.index(1, 0, a)), a);
  // Collapsing drops the rows at every depth; the row then offers to expand until fetched.
  const QModelIndex d = model.index(2, 0, root);
  model.fetchMore(d);
  EXPECT_FALSE(model.hasChildren(d));
  model.Unfetch(d);
  EXPECT_TRUE(model.hasChildren(d));
  model.Unfetch(root);
  EXPECT_EQ(model.rowCount(root), 0);
  EXPECT_FALSE(model.IndexOf(static_cast<TOrbXMLItem *>(a.internalPointer())).isValid());
  model.fetchMore(root);
  EXPECT_FALSE(model.IsFetched(model.index(0, 0, root))); // its children were dropped with it

  // A root without child items offers to expand until its first fetch.
  Fixture empty("<only/>");
  EXPECT_TRUE(empty.model.hasChildren(empty.Root()));
  empty.model.fetchMore(empty.Root());
  EXPECT_FALSE(empty.model.hasChildren(empty.Root()));
  EXPECT_EQ(Caption(empty.Root()), "only");
}

TEST(XmlTreeModel, EditsArriveAsTheirRowsWithFreshCountsAndOthersKeepTheirPlace) {
  Fixture f("<r><a><b/><b/></a><c/><d><e/></d></r>");
  QAbstractItemModelTester tester(&f.model, QAbstractItemModelTester::FailureReportingMode::Fatal);
  const QModelIndex root = f.Root();
  f.model.fetchMore(root);
  const QPersistentModelIndex a = f.model.index(0, 0, root);
  const QPersistentModelIndex d = f.model.index(2, 0, root);
  f.model.fetchMore(d);
  QSignalSpy inserted(&f.model, &QAbstractItemModel::rowsInserted);
  QSignalSpy removed(&f.model, &QAbstractItemModel::rowsRemoved);
  QSignalSpy changed(&f.model, &QAbstractItemModel::dataChanged);

  TOrbXMLItem *c = f.doc->RootChildren()->Items(1);
  TEdit remove("Delete c");
  remove.Delete(c);
  ASSERT_EQ(removed.count(), 1);
  EXPECT_EQ(removed[0][0].value<QModelIndex>(), root);
  EXPECT_EQ(removed[0][1].toInt(), 1);
  EXPECT_EQ(Caption(root), "r (2/5)");
  EXPECT_GE(changed.count(), 1); // the root's caption
  EXPECT_EQ(d.row(), 1);
  EXPECT_EQ(f.model.IndexOf(static_cast<TOrbXMLItem *>(d.internalPointer())), d);
  EXPECT_TRUE(f.model.IsFetched(d)); // an edit elsewhere leaves d's rows alone

  TEdit copy("Copy a into d");
  copy.Create(*static_cast<TOrbXMLItem *>(d.internalPointer())->Children(), "a", xmlmodel::ntElement,
              static_cast<TOrbXMLItem *>(a.internalPointer()));
  // The copy and its subtree are one row under d (the tester may fetch the copy's rows after).
  int underD = 0;
  for (const QList<QVariant> &signal : inserted)
    underD += signal[0].value<QModelIndex>() == QModelIndex(d) && signal[1].toInt() == 1 && signal[2].toInt() == 1;
  EXPECT_EQ(underD, 1);
  EXPECT_EQ(Captions(f.model, d), "e|a (2/2)");
  EXPECT_EQ(Caption(d), "d (2/4)");
  EXPECT_EQ(Caption(root), "r (2/8)");

  // Undo puts c back at its row; a row taken out and back comes back collapsed.
  copy.Revert();
  remove.Revert();
  EXPECT_EQ(Captions(f.model, root), "a (2/2)|c|d (1/1)");
  EXPECT_EQ(d.row(), 2);
  remove.Apply();
  remove.Revert();
  EXPECT_EQ(f.model.IndexOf(c).row(), 1);
  EXPECT_FALSE(f.model.IsFetched(f.model.IndexOf(c)));
  // Attributes are not rows.
  inserted.clear();
  TEdit attribute("Add attribute");
  attribute.Create(*c->Attributes(), "id", xmlmodel::ntAttribute);
  EXPECT_EQ(inserted.count(), 0);
  EXPECT_EQ(Caption(f.model.IndexOf(c)), "c");
  // A collapsed row without child items that gets one learns it can expand.
  TEdit into("Create x in c");
  into.Create(*c->Children(), "x", xmlmodel::ntElement);
  ASSERT_EQ(inserted.count(), 1);
  EXPECT_EQ(inserted[0][0].value<QModelIndex>(), f.model.IndexOf(c));
  EXPECT_TRUE(f.model.hasChildren(f.model.IndexOf(c)));
  EXPECT_EQ(Caption(f.model.IndexOf(c)), "c (1/1)");
  EXPECT_FALSE(f.model.IndexOf(c->Attributes()->Items(0)).isValid());
}

} // namespace
