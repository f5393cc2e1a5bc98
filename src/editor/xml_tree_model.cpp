#include "editor/xml_tree_model.h"

#include <vector>

#include "common/exception.h"

namespace editor {

using xmlmodel::TOrbXMLItem;
using xmlmodel::TOrbXMLList;

// The counts come from the lists where they are built and from the DOM elsewhere: a caption
// builds no items.
std::string GetCaption(const TOrbXMLItem &item) {
  const int count = item.ChildItemCount();
  if (count < 1)
    return common::Format("%s", item.NodeName().c_str());
  return common::Format("%s (%d/%d)", item.NodeName().c_str(), count, item.DescendantItemCount());
}

bool IsInSubtree(const TOrbXMLItem *item, const TOrbXMLItem *root) {
  for (const TOrbXMLItem *up = item; up; up = up->OwnerList() ? up->OwnerList()->OwnerItem() : nullptr)
    if (up == root)
      return true;
  return false;
}

TXmlTreeModel::TXmlTreeModel(QObject *parent) : QAbstractItemModel(parent) {}

TXmlTreeModel::~TXmlTreeModel() {
  if (FDocument)
    FDocument->SetObserver(nullptr);
}

void TXmlTreeModel::SetDocument(xmlmodel::TOrbMainXML *document) {
  beginResetModel();
  if (FDocument) {
    FDocument->SetObserver(nullptr);
    if (FDocument->RootItem()->HasNode())
      Forget(FDocument->RootItem());
  }
  FDocument = document;
  FCollapsed.clear();
  if (FDocument) {
    FDocument->SetObserver(this);
    // The root offers to expand until its first expansion, even when it has no child items.
    FCollapsed.insert(FDocument->RootItem());
  }
  endResetModel();
}

TOrbXMLItem *TXmlTreeModel::ItemAt(const QModelIndex &index) const {
  return index.isValid() ? static_cast<TOrbXMLItem *>(index.internalPointer()) : nullptr;
}

QModelIndex TXmlTreeModel::IndexOf(const TOrbXMLItem *item) const {
  if (!item || !FDocument)
    return {};
  const TOrbXMLList *list = item->OwnerList();
  if (!list)
    return item == FDocument->RootItem() && item->HasNode() ? createIndex(0, 0, item) : QModelIndex();
  if (list->IsAttributeList() || !Fetched(list->OwnerItem()))
    return {};
  const int row = list->IndexOf(item);
  return row < 0 ? QModelIndex() : createIndex(row, 0, item);
}

bool TXmlTreeModel::Fetched(const TOrbXMLItem *item) {
  const TOrbXMLList *children = item ? item->BuiltChildren() : nullptr;
  return children && children->ViewMark();
}

bool TXmlTreeModel::IsFetched(const QModelIndex &index) const { return Fetched(ItemAt(index)); }

QModelIndex TXmlTreeModel::index(int row, int column, const QModelIndex &parent) const {
  if (!FDocument || column != 0 || row < 0)
    return {};
  if (!parent.isValid())
    return row == 0 ? IndexOf(FDocument->RootItem()) : QModelIndex();
  TOrbXMLItem *owner = ItemAt(parent);
  if (!Fetched(owner))
    return {};
  const TOrbXMLList &children = *owner->Children();
  return row < children.Count() ? createIndex(row, 0, children.Items(row)) : QModelIndex();
}

QModelIndex TXmlTreeModel::parent(const QModelIndex &child) const {
  const TOrbXMLItem *item = ItemAt(child);
  if (!item || !item->OwnerList())
    return {};
  return IndexOf(item->OwnerList()->OwnerItem());
}

int TXmlTreeModel::rowCount(const QModelIndex &parent) const {
  if (!FDocument || parent.column() > 0)
    return 0;
  if (!parent.isValid())
    return FDocument->RootItem()->HasNode() ? 1 : 0;
  TOrbXMLItem *item = ItemAt(parent);
  return Fetched(item) ? item->Children()->Count() : 0;
}

int TXmlTreeModel::columnCount(const QModelIndex &) const { return 1; }

bool TXmlTreeModel::hasChildren(const QModelIndex &parent) const {
  if (!parent.isValid())
    return rowCount(parent) > 0;
  TOrbXMLItem *item = ItemAt(parent);
  if (Fetched(item))
    return item->Children()->Count() > 0;
  return (!FCollapsed.empty() && FCollapsed.contains(item)) || item->HasChildItems();
}

QVariant TXmlTreeModel::data(const QModelIndex &index, int role) const {
  if (role != Qt::DisplayRole || !index.isValid())
    return {};
  return QString::fromStdString(GetCaption(*ItemAt(index)));
}

Qt::ItemFlags TXmlTreeModel::flags(const QModelIndex &index) const {
  if (!index.isValid())
    return Qt::NoItemFlags;
  return Qt::ItemIsEnabled | Qt::ItemIsSelectable | Qt::ItemIsDragEnabled | Qt::ItemIsDropEnabled;
}

Qt::DropActions TXmlTreeModel::supportedDropActions() const { return Qt::CopyAction; }

// Sets a flag for a scope.
class TXmlTreeModel::TReport {
public:
  explicit TReport(bool &flag) : FFlag(flag) { flag = true; }
  ~TReport() { FFlag = false; }
  TReport(const TReport &) = delete;
  TReport &operator=(const TReport &) = delete;

private:
  bool &FFlag;
};

bool TXmlTreeModel::canFetchMore(const QModelIndex &parent) const {
  return parent.isValid() && !Fetched(ItemAt(parent));
}

void TXmlTreeModel::fetchMore(const QModelIndex &parent) {
  // Asked for by a view or a tester reacting to a change still being reported: rows made now
  // would be a change inside that change. The next ask fetches.
  if (FReporting || !canFetchMore(parent))
    return;
  const TReport report(FReporting);
  TOrbXMLItem *item = ItemAt(parent);
  const int count = item->Children()->Count();
  FCollapsed.erase(item);
  if (count > 0)
    beginInsertRows(parent, 0, count - 1);
  item->Children()->SetViewMark(true);
  if (count > 0)
    endInsertRows();
  else
    emit dataChanged(parent, parent); // found empty: no longer offers to expand
}

void TXmlTreeModel::Unfetch(const QModelIndex &index) {
  TOrbXMLItem *item = ItemAt(index);
  if (!item || FReporting)
    return;
  const TReport report(FReporting);
  if (Fetched(item)) {
    const int count = item->Children()->Count();
    if (count > 0)
      beginRemoveRows(index, 0, count - 1);
    Forget(item);
    if (count > 0)
      endRemoveRows();
  }
  FCollapsed.insert(item);
  emit dataChanged(index, index);
}

void TXmlTreeModel::Forget(const TOrbXMLItem *item) {
  FCollapsed.erase(item);
  std::vector<const TOrbXMLItem *> pending;
  if (Fetched(item))
    pending.push_back(item);
  while (!pending.empty()) {
    TOrbXMLList &children = *pending.back()->BuiltChildren();
    pending.pop_back();
    children.SetViewMark(false);
    for (int i = 0; i < children.Count(); ++i) {
      const TOrbXMLItem *child = children.Items(i);
      if (!FCollapsed.empty())
        FCollapsed.erase(child);
      if (Fetched(child))
        pending.push_back(child);
    }
  }
}

void TXmlTreeModel::ItemInserting(TOrbXMLList &list, int index) {
  FChangeShown = false;
  if (list.IsAttributeList())
    return;
  const QModelIndex parent = IndexOf(list.OwnerItem());
  if (!parent.isValid())
    return;
  if (!Fetched(list.OwnerItem())) {
    // A row without child items gets its first: its row is made now, which is how a view
    // learns that a collapsed row can expand.
    if (list.Count() != 0)
      return;
    list.SetViewMark(true);
    FCollapsed.erase(list.OwnerItem());
  }
  FReporting = true;
  beginInsertRows(parent, index, index);
  FChangeShown = true;
}

void TXmlTreeModel::ItemInserted(TOrbXMLList &list, int) {
  if (FChangeShown)
    endInsertRows();
  FChangeShown = false;
  FReporting = false;
  if (!list.IsAttributeList())
    CountsChanged(list.OwnerItem());
}

void TXmlTreeModel::ItemRemoving(TOrbXMLList &list, int index) {
  FChangeShown = false;
  FRemoving = nullptr;
  if (list.IsAttributeList())
    return;
  FRemoving = list.Items(index);
  if (!Fetched(list.OwnerItem()))
    return;
  const QModelIndex parent = IndexOf(list.OwnerItem());
  if (!parent.isValid())
    return;
  FReporting = true;
  beginRemoveRows(parent, index, index);
  FChangeShown = true;
}

void TXmlTreeModel::ItemRemoved(TOrbXMLList &list, int) {
  if (FChangeShown)
    endRemoveRows();
  FChangeShown = false;
  FReporting = false;
  if (list.IsAttributeList())
    return;
  // The item may come back (undo), then collapsed, as a fresh row.
  Forget(FRemoving);
  FRemoving = nullptr;
  CountsChanged(list.OwnerItem());
}

void TXmlTreeModel::ItemChanged(TOrbXMLItem &item) {
  if (item.OwnerList() && item.OwnerList()->IsAttributeList())
    return;
  CountsChanged(&item);
}

void TXmlTreeModel::CountsChanged(const TOrbXMLItem *item) {
  for (const TOrbXMLItem *up = item; up; up = up->OwnerList() ? up->OwnerList()->OwnerItem() : nullptr)
    if (const QModelIndex index = IndexOf(up); index.isValid())
      emit dataChanged(index, index, {Qt::DisplayRole});
}

} // namespace editor
