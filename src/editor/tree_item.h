#pragma once

#include <memory>

#include "xmlmodel/xml_obj.h"

class QTreeWidgetItem;

namespace editor {

// What one tree-view node shows: an item of the item tree, and the tree item of its parent.
// Tree nodes are re-created freely; each re-creation makes fresh tree items for the same items.
class TOrbXMLTreeItem {
public:
  TOrbXMLTreeItem(std::shared_ptr<TOrbXMLTreeItem> parentTreeItem, xmlmodel::TOrbXMLItem *item)
      : Item(item), ParentTreeItem(std::move(parentTreeItem)) {}

  xmlmodel::TOrbXMLItem *Item = nullptr;
  std::shared_ptr<TOrbXMLTreeItem> ParentTreeItem;
  // A placeholder for a node that Apply has still to create.
  bool IsNew = false;
  // The tree node showing this tree item; reset when that node goes, never set for a placeholder.
  QTreeWidgetItem *TreeNode = nullptr;
  // A placeholder owns its item: the item was made for its target list but never added to it.
  std::unique_ptr<xmlmodel::TOrbXMLItem> OwnedItem;
};

} // namespace editor
