#pragma once

#include <memory>

#include "xmlmodel/xml_obj.h"

namespace editor {

// What the node panel shows: an item of the item tree, or a placeholder for one still to be made.
class TOrbXMLTreeItem {
public:
  explicit TOrbXMLTreeItem(xmlmodel::TOrbXMLItem *item) : Item(item) {}

  xmlmodel::TOrbXMLItem *Item = nullptr;
  // A placeholder for a node that Apply has still to create; it has no tree row.
  bool IsNew = false;
  // A placeholder owns its item: the item was made for its target list but never added to it.
  std::unique_ptr<xmlmodel::TOrbXMLItem> OwnedItem;
};

} // namespace editor
