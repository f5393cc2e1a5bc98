#include "xmlmodel/xml_obj.h"

#include "common/exception.h"

#include <algorithm>

namespace xmlmodel {

using common::Exception;

// ---------------------------------------------------------------------------------------------
// TOrbXMLItem

TOrbXMLItem::TOrbXMLItem(TOrbXMLList *AOwnerList)
    : FOwnerList(AOwnerList), FDocument(AOwnerList ? AOwnerList->Document() : nullptr) {}

TOrbXMLItem::~TOrbXMLItem() = default;

xmlNode *TOrbXMLItem::CheckedNode() const {
  if (FNode == nullptr)
    throw Exception("The document has no root element");
  return FNode;
}

void TOrbXMLItem::DropLists() {
  FChildren.reset();
  FAttributes.reset();
}

TOrbXMLList *TOrbXMLItem::Children() {
  if (!FChildren) {
    xmlNode *node = CheckedNode();
    FChildren = std::make_unique<TOrbXMLList>(this, false);
    if (DomHasChildNodes(node))
      FChildren->Populate();
  }
  return FChildren.get();
}

TOrbXMLList *TOrbXMLItem::Attributes() {
  if (!FAttributes) {
    CheckedNode();
    FAttributes = std::make_unique<TOrbXMLList>(this, true);
    FAttributes->Populate();
  }
  return FAttributes.get();
}

bool TOrbXMLItem::HasChildItems() const {
  if (FChildren)
    return FChildren->Count() > 0;
  if (FChildState != kChildrenUnknown)
    return FChildState == kSomeChildren;
  // What Children() and Populate would find.
  const xmlNode *node = CheckedNode();
  bool some = false;
  if (node->type != XML_COMMENT_NODE)
    for (const xmlNode *child = DomFirstChild(node); child != nullptr && !some; child = child->next)
      some = child->type != XML_TEXT_NODE;
  FChildState = some ? kSomeChildren : kNoChildren;
  return some;
}

namespace {

// Items below a node that has no list built yet: what Populate would make, at every depth.
int CountDomItems(const xmlNode *node) {
  if (node->type == XML_COMMENT_NODE)
    return 0;
  int count = 0;
  for (const xmlNode *child = DomFirstChild(node); child != nullptr; child = child->next)
    if (child->type != XML_TEXT_NODE)
      count += 1 + CountDomItems(child);
  return count;
}

} // namespace

int TOrbXMLItem::ChildItemCount() const {
  if (FChildren)
    return FChildren->Count();
  const xmlNode *node = CheckedNode();
  if (node->type == XML_COMMENT_NODE)
    return 0;
  int count = 0;
  for (const xmlNode *child = DomFirstChild(node); child != nullptr; child = child->next)
    count += child->type != XML_TEXT_NODE;
  return count;
}

int TOrbXMLItem::DescendantItemCount() const {
  return FChildren ? FChildren->DescendantCount() : CountDomItems(CheckedNode());
}

std::string TOrbXMLItem::NodeName() const { return DomNodeName(CheckedNode()); }

void TOrbXMLItem::GetNodeName(std::string &Name) const { DomGetNodeName(CheckedNode(), Name); }

int TOrbXMLItem::NodeType() const { return DomNodeType(CheckedNode()); }

std::string TOrbXMLItem::Text(std::size_t limit) const { return DomNodeText(CheckedNode(), limit); }

int TOrbXMLItem::UnlistedItems() const {
  return FChildren || !FOwnerList ? 0 : CountDomItems(FNode);
}

// A text written over child nodes takes their items out of the counts above, and a text put back
// brings them in again: the lists above take the difference, so no count is ever recounted.
void TOrbXMLItem::ContentChanged(int unlistedBefore) {
  FChildState = kChildrenUnknown;
  if (!FChildren && FOwnerList)
    FOwnerList->AddDescendants(CountDomItems(FNode) - unlistedBefore);
  if (TOrbXMLObserver *observer = FDocument->Observer())
    observer->ItemChanged(*this);
}

void TOrbXMLItem::SetText(std::string_view text) {
  xmlNode *node = CheckedNode();
  if (FDocument == nullptr)
    throw Exception("The item belongs to no document");
  const int before = UnlistedItems();
  FDocument->XMLDoc().SetText(node, text);
  ContentChanged(before);
}

DomTextChange TOrbXMLItem::ChangeText(std::string_view text) {
  xmlNode *node = CheckedNode();
  if (FDocument == nullptr)
    throw Exception("The item belongs to no document");
  const int before = UnlistedItems();
  DomTextChange change = FDocument->XMLDoc().ChangeText(node, text);
  ContentChanged(before);
  return change;
}

void TOrbXMLItem::RestoreText(const DomTextChange &change) {
  CheckedNode();
  const int before = UnlistedItems();
  FDocument->XMLDoc().RestoreText(change);
  ContentChanged(before);
}

// ---------------------------------------------------------------------------------------------
// TOrbXMLList

TOrbXMLList::TOrbXMLList(TOrbXMLItem *AOwnerItem, bool attributes)
    : FOwnerItem(AOwnerItem), FAttributeList(attributes ? 1 : 0) {}

TOrbXMLList::~TOrbXMLList() {
  while (FCount > 0) {
    FItems[FCount - 1].reset();
    --FCount;
  }
}

TOrbMainXML *TOrbXMLList::Document() const { return FOwnerItem ? FOwnerItem->Document() : nullptr; }

TOrbXMLItem *TOrbXMLList::Items(int index) const {
  if (index < 0 || static_cast<std::uint32_t>(index) >= FCount)
    common::ListIndexError(index);
  return FItems[index].get();
}

int TOrbXMLList::IndexOf(const TOrbXMLItem *item) const {
  if (item == nullptr || item->FOwnerList != this)
    return -1;
  // Outwards from where the item was last seen, both ways at once.
  std::uint32_t up = std::min(item->FIndexHint, FCount);
  std::uint32_t down = up;
  while (down > 0 || up < FCount) {
    if (up < FCount) {
      if (FItems[up].get() == item)
        return static_cast<int>(item->FIndexHint = up);
      ++up;
    }
    if (down > 0 && FItems[--down].get() == item)
      return static_cast<int>(item->FIndexHint = down);
  }
  return -1;
}

void TOrbXMLList::Reserve(std::uint32_t capacity) {
  if (capacity <= FCapacity)
    return;
  if (capacity >= (1u << 30))
    throw Exception("Too many items in one list");
  auto items = std::make_unique<std::unique_ptr<TOrbXMLItem>[]>(capacity);
  for (std::uint32_t i = 0; i < FCount; ++i)
    items[i] = std::move(FItems[i]);
  FItems = std::move(items);
  FCapacity = capacity;
}

void TOrbXMLList::Append(std::unique_ptr<TOrbXMLItem> item) {
  if (FCount == FCapacity)
    Reserve(std::max<std::uint32_t>(4, FCount * 2));
  item->FIndexHint = FCount;
  FItems[FCount++] = std::move(item);
}

void TOrbXMLList::InsertAt(std::uint32_t index, std::unique_ptr<TOrbXMLItem> item) {
  TOrbMainXML *document = Document();
  TOrbXMLObserver *observer = document ? document->Observer() : nullptr;
  if (observer)
    observer->ItemInserting(*this, static_cast<int>(index));
  if (FCount == FCapacity)
    Reserve(std::max<std::uint32_t>(4, FCount * 2));
  for (std::uint32_t i = FCount; i > index; --i)
    FItems[i] = std::move(FItems[i - 1]);
  const int size = FAttributeList ? 0 : 1 + item->DescendantItemCount();
  item->FIndexHint = index;
  FItems[index] = std::move(item);
  ++FCount;
  AddDescendants(size);
  if (observer)
    observer->ItemInserted(*this, static_cast<int>(index));
}

std::unique_ptr<TOrbXMLItem> TOrbXMLList::TakeAt(std::uint32_t index) {
  TOrbMainXML *document = Document();
  TOrbXMLObserver *observer = document ? document->Observer() : nullptr;
  if (observer)
    observer->ItemRemoving(*this, static_cast<int>(index));
  std::unique_ptr<TOrbXMLItem> removed = std::move(FItems[index]);
  for (std::uint32_t i = index + 1; i < FCount; ++i)
    FItems[i - 1] = std::move(FItems[i]);
  --FCount;
  AddDescendants(FAttributeList ? 0 : -1 - removed->DescendantItemCount());
  if (observer)
    observer->ItemRemoved(*this, static_cast<int>(index));
  return removed;
}

// Every list from this one up to the root's holds the change in its count, where it is known.
void TOrbXMLList::AddDescendants(int delta) {
  if (delta == 0 || FAttributeList)
    return;
  for (TOrbXMLList *list = this; list != nullptr;
       list = list->FOwnerItem ? list->FOwnerItem->OwnerList() : nullptr)
    if (list->FDescendants >= 0)
      list->FDescendants += delta;
}

int TOrbXMLList::DescendantCount() {
  if (FAttributeList)
    return Count();
  if (FDescendants < 0) {
    int count = 0;
    for (std::uint32_t i = 0; i < FCount; ++i)
      count += 1 + FItems[i]->DescendantItemCount();
    FDescendants = count;
  }
  return FDescendants;
}

std::unique_ptr<TOrbXMLItem> TOrbXMLList::Take(TOrbXMLItem *item, TPlace &place, bool withSpacing) {
  const int index = IndexOf(item);
  if (index < 0)
    throw Exception("The item is not in this list");
  place.List = this;
  place.Index = index;
  place.Dom = Document()->XMLDoc().Detach(item->CheckedNode(), withSpacing);
  return TakeAt(static_cast<std::uint32_t>(index));
}

TOrbXMLItem *TOrbXMLList::Restore(std::unique_ptr<TOrbXMLItem> item, const TPlace &place) {
  TOrbXMLList *list = place.List;
  list->Document()->XMLDoc().Restore(place.Dom);
  TOrbXMLItem *restored = item.get();
  list->InsertAt(static_cast<std::uint32_t>(place.Index), std::move(item));
  return restored;
}

void TOrbXMLList::Populate() {
  try {
    if (FOwnerItem == nullptr || FOwnerItem->Node() == nullptr)
      return;
    xmlNode *owner = FOwnerItem->Node();
    if (owner->type == XML_COMMENT_NODE)
      return;
    xmlNode *first = FAttributeList ? DomFirstAttribute(owner) : DomFirstChild(owner);
    std::uint32_t wanted = 0;
    for (xmlNode *node = first; node != nullptr; node = node->next)
      if (node->type != XML_TEXT_NODE)
        ++wanted;
    // Exactly the room needed: most lists are never added to.
    Reserve(FCount + wanted);
    for (xmlNode *node = first; node != nullptr; node = node->next) {
      if (node->type == XML_TEXT_NODE)
        continue;
      auto item = std::make_unique<TOrbXMLItem>(this);
      item->FNode = node;
      Append(std::move(item));
    }
  } catch (...) {
    // A list that cannot be filled stays as far as it got.
  }
}

TOrbXMLItem *TOrbXMLList::CreateNode(const std::string &Name, int NodeType, TOrbXMLItem *Source) {
  return CreateNodeImpl(Name, NodeType, Source, nullptr, true, false);
}

TOrbXMLItem *TOrbXMLList::CreateNodeBefore(const std::string &Name, int NodeType, TOrbXMLItem *Source,
                                           TOrbXMLItem *Before, bool Reindent) {
  return CreateNodeImpl(Name, NodeType, Source, Before, true, Reindent);
}

TOrbXMLItem *TOrbXMLList::CreateNodeImpl(std::string name, int NodeType, TOrbXMLItem *Source,
                                         TOrbXMLItem *Before, bool indent, bool reindent) {
  if (!name.empty() && name[0] == '#') {
    name.erase(0, 1);
    if (name.size() > 255)
      name.resize(255);
  }
  auto item = std::make_unique<TOrbXMLItem>(this);
  if (FOwnerItem == nullptr)
    throw common::EAbort("Cannot make new node here");
  TOrbMainXML *document = Document();
  if (document == nullptr)
    throw Exception("The list belongs to no document");
  xmlNode *owner = FOwnerItem->CheckedNode();
  DomDocument &dom = document->XMLDoc();
  std::uint32_t index = FCount;
  if (Before != nullptr) {
    const int at = IndexOf(Before);
    if (at < 0)
      throw Exception("The node to insert before is not in this list");
    index = static_cast<std::uint32_t>(at);
  }

  xmlNode *node = nullptr;
  if (NodeType == ntAttribute) {
    node = dom.CreateAttribute(name);
    try {
      dom.SetAttributeNode(owner, node);
    } catch (...) {
      dom.DiscardNode(node);
      throw;
    }
  } else {
    node = dom.CreateNode(NodeType, name);
    try {
      if (Before != nullptr)
        dom.InsertChild(owner, node, Before->CheckedNode(), false);
      else if (indent)
        dom.AppendChild(owner, node);
      else
        dom.AppendChildAtEnd(owner, node);
    } catch (...) {
      dom.DiscardNode(node);
      throw;
    }
  }
  const bool wasModified = document->Modified;
  document->Modified = true;
  item->FNode = node;
  TOrbXMLItem *result = item.get();
  if (Source == nullptr) {
    InsertAt(index, std::move(item));
    return result;
  }
  // The copy is built before it joins the list, out of sight of the lists above (their counts
  // and observer), and then joins it as one insertion.
  item->FOwnerList = nullptr;
  ++document->FQuiet;
  try {
    CopyContent(result, Source);
    // An element copied from an element keeps its own attributes too, after its subtree:
    // moving or renaming a node must not lose them. Other kinds cannot hold attributes.
    if (node->type == XML_ELEMENT_NODE && Source->NodeType() == ntElement) {
      TOrbXMLList *attributes = Source->Attributes();
      for (int i = 0; i < attributes->Count(); ++i) {
        TOrbXMLItem *attribute = attributes->Items(i);
        result->Attributes()->CreateNodeImpl(attribute->NodeName(), attribute->NodeType(), attribute,
                                             nullptr, false, false);
      }
    }
    if (reindent)
      dom.Reindent(node);
  } catch (...) {
    // No half-made copy stays behind.
    --document->FQuiet;
    try {
      if (node->type == XML_ATTRIBUTE_NODE)
        dom.RemoveAttribute(owner, node);
      else
        dom.RemoveChildAndIndentation(owner, node);
    } catch (const std::exception &) {
    }
    document->Modified = wasModified;
    throw;
  }
  --document->FQuiet;
  item->FOwnerList = this;
  InsertAt(index, std::move(item));
  return result;
}

namespace {

// A few entries on the stack, more on the heap: most copied nodes have a handful of children,
// and a copy of a large subtree visits every node.
template <class T, size_t N> class TScratch {
public:
  explicit TScratch(size_t size) : FData(FInline) {
    if (size > N) {
      FHeap = std::make_unique<T[]>(size);
      FData = FHeap.get();
    }
  }
  T &operator[](size_t i) { return FData[i]; }

private:
  T FInline[N];
  std::unique_ptr<T[]> FHeap;
  T *FData;
};

} // namespace

// Copies Source's content into the new item. A source with child items gives its own text nodes
// at their places among the copied children (so mixed content and layout come through once and
// in order); a source without child items gives its text.
void TOrbXMLList::CopyContent(TOrbXMLItem *target, TOrbXMLItem *source) {
  xmlNode *sourceNode = source->CheckedNode();
  xmlNode *targetNode = target->Node();
  DomDocument &dom = target->Document()->XMLDoc();
  dom.CopyElementForm(targetNode, sourceNode);
  DomUnfoldLayout(sourceNode); // the copy takes the source's whitespace as nodes

  // Taken before copying, so that a copy placed inside its own source is not copied again.
  TOrbXMLList *sourceChildren = source->Children();
  const std::uint32_t available = sourceChildren->FCount;
  TScratch<TOrbXMLItem *, 32> items(available);
  size_t count = 0;
  for (std::uint32_t i = 0; i < available; ++i)
    if (sourceChildren->FItems[i].get() != target)
      items[count++] = sourceChildren->FItems[i].get();

  if (count == 0) {
    // An element without any child nodes has no text, and the new element none to replace.
    const bool nothing = sourceNode->type == XML_ELEMENT_NODE && sourceNode->children == nullptr &&
                         targetNode->type == XML_ELEMENT_NODE && targetNode->children == nullptr;
    if (targetNode->type != XML_ENTITY_REF_NODE && !nothing)
      target->SetText(source->Text());
    return;
  }
  // Nodes are only ever appended during the copy, so the children up to the current last one are
  // the ones the source had when it began.
  xmlNode *firstChild = DomFirstChild(sourceNode);
  const xmlNode *lastChild = firstChild != nullptr ? sourceNode->last : nullptr;

  TOrbXMLList *targetChildren = target->Children();
  targetChildren->Reserve(targetChildren->FCount + static_cast<std::uint32_t>(count));
  TScratch<bool, 32> copied(count);
  for (size_t i = 0; i < count; ++i)
    copied[i] = false;
  std::string name;
  auto copyItem = [&](size_t index) {
    TOrbXMLItem *child = items[index];
    copied[index] = true;
    child->GetNodeName(name);
    // A reference to an entity that the target document does not declare (a copy from another
    // file) comes over as the text it stands for.
    if (child->NodeType() == ntEntityRef && !dom.DeclaresEntity(name))
      dom.AppendText(targetNode, child->Text());
    else
      targetChildren->CreateNodeImpl(name, child->NodeType(), child, nullptr, false, false);
  };
  size_t next = 0;
  for (xmlNode *child = firstChild; child != nullptr; child = child->next) {
    const bool last = child == lastChild;
    if (child == targetNode) {
      if (last)
        break;
      continue;
    }
    if (child->type == XML_TEXT_NODE) {
      dom.AppendText(targetNode,
                     child->content != nullptr ? reinterpret_cast<const char *>(child->content) : "");
    } else {
      // Items follow the DOM order; search only when an edit has changed that.
      size_t index = next;
      if (index >= count || items[index]->Node() != child) {
        index = 0;
        while (index < count && (copied[index] || items[index]->Node() != child))
          ++index;
      }
      if (index < count) {
        copyItem(index);
        next = index + 1;
      }
    }
    if (last)
      break;
  }
  // Items whose nodes were taken out of the source by a text change are still its children.
  for (size_t i = 0; i < count; ++i)
    if (!copied[i])
      copyItem(i);
}

void TOrbXMLList::DeleteItem(TOrbXMLItem *item) {
  const int index = IndexOf(item);
  if (index < 0)
    return;
  // The node goes with its whole subtree; the items below it go with the item. Building the
  // lists below just to empty them one by one would cost as much as the subtree is large.
  xmlNode *node = item->Node();
  xmlNode *owner = FOwnerItem ? FOwnerItem->Node() : nullptr;
  TOrbMainXML *document = Document();
  if (node != nullptr && owner != nullptr && document != nullptr) {
    try {
      if (node->type == XML_ATTRIBUTE_NODE)
        document->XMLDoc().RemoveAttribute(owner, node);
      else
        document->XMLDoc().RemoveChildAndIndentation(owner, node);
    } catch (const std::exception &) {
      // A node that is no longer where the item says is left as it is.
    }
  }
  TakeAt(static_cast<std::uint32_t>(index)).reset(); // after the list is consistent again
}

// ---------------------------------------------------------------------------------------------
// TOrbMainXML

TOrbMainXML::TOrbMainXML()
    : FXMLDoc(std::make_unique<DomDocument>()), FRootItem(std::make_unique<TOrbXMLItem>(nullptr)) {
  FRootItem->SetDocument(this);
}

TOrbMainXML::~TOrbMainXML() {
  FRootItem.reset(); // items before the nodes they point at
}

void TOrbMainXML::AttachRoot() {
  FRootItem->SetNode(FXMLDoc->DocumentElement());
  Modified = false;
}

void TOrbMainXML::Load() {
  // Lists built over a previous document would point into it once it is gone.
  FRootItem->DropLists();
  FRootItem->SetNode(nullptr);
  FXMLDoc->Load(FileName);
  AttachRoot();
}

void TOrbMainXML::InstallDocument(xmlDocPtr doc, const std::string &sourceFileName) {
  FRootItem->DropLists();
  FRootItem->SetNode(nullptr);
  FXMLDoc->Install(doc, sourceFileName);
  AttachRoot();
}

void TOrbMainXML::NewDocument(const std::string &RootName) {
  FileName.clear();
  xmlNode *root = FXMLDoc->CreateNode(ntElement, RootName);
  try {
    FXMLDoc->AppendToDocument(root);
  } catch (...) {
    FXMLDoc->DiscardNode(root);
    throw;
  }
  AttachRoot();
}

void TOrbMainXML::Save() {
  FXMLDoc->Save(FileName);
  Modified = false;
}

TOrbXMLList *TOrbMainXML::RootChildren() { return FRootItem->Children(); }

} // namespace xmlmodel
