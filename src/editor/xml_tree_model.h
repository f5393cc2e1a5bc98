#pragma once

#include <QAbstractItemModel>

#include <string>
#include <unordered_set>

#include "xmlmodel/xml_obj.h"

namespace editor {

// Caption of a tree row: the name, with "(children/descendants)" when it has child items.
std::string GetCaption(const xmlmodel::TOrbXMLItem &item);
// Whether item is root or lies below it.
bool IsInSubtree(const xmlmodel::TOrbXMLItem *item, const xmlmodel::TOrbXMLItem *root);

// The node tree as Qt's item views see it: one row per item, the document's root item the only
// top-level row. Rows below an item exist only once it has been fetched (expanded), so a large
// document costs rows for what the user opened; dropping them again (collapse) keeps the item
// lists. Every change of the item tree reaches the views as the rows it inserts, removes or
// changes, so what the user has expanded, selected and scrolled to elsewhere stays.
//
// Each index carries its item. The model observes its document from SetDocument on.
class TXmlTreeModel : public QAbstractItemModel, private xmlmodel::TOrbXMLObserver {
  Q_OBJECT
public:
  explicit TXmlTreeModel(QObject *parent = nullptr);
  ~TXmlTreeModel() override;

  // Shows the document's item tree (nullptr: nothing), with no rows fetched.
  void SetDocument(xmlmodel::TOrbMainXML *document);

  xmlmodel::TOrbXMLItem *ItemAt(const QModelIndex &index) const;
  // The row showing the item; invalid when no row does (a parent not fetched, an item out of
  // the tree, an attribute).
  QModelIndex IndexOf(const xmlmodel::TOrbXMLItem *item) const;
  bool IsFetched(const QModelIndex &index) const;
  // Drops the rows below the index and below every row under it; the next fetch makes them
  // again. The row then offers to expand until that fetch, whatever it holds.
  void Unfetch(const QModelIndex &index);

  QModelIndex index(int row, int column, const QModelIndex &parent = QModelIndex()) const override;
  QModelIndex parent(const QModelIndex &child) const override;
  int rowCount(const QModelIndex &parent = QModelIndex()) const override;
  int columnCount(const QModelIndex &parent = QModelIndex()) const override;
  bool hasChildren(const QModelIndex &parent = QModelIndex()) const override;
  QVariant data(const QModelIndex &index, int role = Qt::DisplayRole) const override;
  Qt::ItemFlags flags(const QModelIndex &index) const override;
  bool canFetchMore(const QModelIndex &parent) const override;
  void fetchMore(const QModelIndex &parent) override;
  Qt::DropActions supportedDropActions() const override;

private:
  void ItemInserting(xmlmodel::TOrbXMLList &list, int index) override;
  void ItemInserted(xmlmodel::TOrbXMLList &list, int index) override;
  void ItemRemoving(xmlmodel::TOrbXMLList &list, int index) override;
  void ItemRemoved(xmlmodel::TOrbXMLList &list, int index) override;
  void ItemChanged(xmlmodel::TOrbXMLItem &item) override;
  // The rows of the item and of its ancestors redraw: their counts changed.
  void CountsChanged(const xmlmodel::TOrbXMLItem *item);
  // Forgets the rows below the item at every depth, and that it was collapsed.
  void Forget(const xmlmodel::TOrbXMLItem *item);
  // Rows below the item are made: its child list carries the mark.
  static bool Fetched(const xmlmodel::TOrbXMLItem *item);

  xmlmodel::TOrbMainXML *FDocument = nullptr;
  // Items collapsed since their last fetch: they offer to expand even without child items.
  std::unordered_set<const xmlmodel::TOrbXMLItem *> FCollapsed;
  // The change between an ItemInserting or ItemRemoving and its end reaches the views.
  bool FChangeShown = false;
  // Rows are being inserted or removed: the views hear of it now.
  bool FReporting = false;
  class TReport;
  xmlmodel::TOrbXMLItem *FRemoving = nullptr;
};

} // namespace editor
