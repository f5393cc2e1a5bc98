#pragma once

// The document object and the item tree over it. The editor works only through these: every
// structural edit is CreateNode or DeleteItem on a list, which keeps the DOM and the items in
// step. Lists are built the first time they are asked for and never rebuilt.

#include "xmlmodel/dom.h"

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>

namespace xmlmodel {

class TOrbMainXML;
class TOrbXMLItem;
class TOrbXMLList;

// Told of every change of the item tree's lists, so that a view can insert, remove or redraw
// just the rows concerned. Changes inside a copy under construction are reported as the one
// insertion of the copy.
class TOrbXMLObserver {
public:
  virtual ~TOrbXMLObserver() = default;
  virtual void ItemInserting(TOrbXMLList & /*list*/, int /*index*/) {}
  virtual void ItemInserted(TOrbXMLList & /*list*/, int /*index*/) {}
  virtual void ItemRemoving(TOrbXMLList & /*list*/, int /*index*/) {}
  virtual void ItemRemoved(TOrbXMLList & /*list*/, int /*index*/) {}
  // The item's name, text or attributes changed.
  virtual void ItemChanged(TOrbXMLItem & /*item*/) {}
};

// Wraps one DOM node. Kept small: a large document may get millions of items. Name, type and
// text are read from the DOM at each request.
class TOrbXMLItem {
public:
  // Stores the owner list only (and takes the list's document, when there is a list); the
  // creator sets Node. An item may be made with a list without being added to it.
  explicit TOrbXMLItem(TOrbXMLList *AOwnerList);
  ~TOrbXMLItem();
  TOrbXMLItem(const TOrbXMLItem &) = delete;
  TOrbXMLItem &operator=(const TOrbXMLItem &) = delete;

  xmlNode *Node() const { return FNode; }
  void SetNode(xmlNode *node) {
    FNode = node;
    FChildState = kChildrenUnknown;
  }
  bool HasNode() const { return FNode != nullptr; }
  TOrbXMLList *OwnerList() const { return FOwnerList; }
  TOrbMainXML *Document() const { return FDocument; }
  void SetDocument(TOrbMainXML *document) { FDocument = document; }

  // Built on first call, then the same list every time. Errors when the item has no node.
  TOrbXMLList *Children();
  // The child list when it has been built, else nullptr.
  TOrbXMLList *BuiltChildren() const { return FChildren.get(); }
  TOrbXMLList *Attributes();
  // Whether Children() holds or would hold any item, without building the list.
  bool HasChildItems() const;
  // How many items Children() holds or would hold, and how many lie below this item at any
  // depth; neither builds a list (an unbuilt one is counted from the DOM).
  int ChildItemCount() const;
  int DescendantItemCount() const;

  std::string NodeName() const;
  // NodeName written into Name, whose capacity is kept: for loops over many items.
  void GetNodeName(std::string &Name) const;
  int NodeType() const; // W3C numbering
  // At least limit bytes of the text when it is longer (see DomNodeText).
  std::string Text(std::size_t limit = std::string::npos) const;
  // Replaces the node's content with the text as given; does not change Modified.
  void SetText(std::string_view text);
  // The same, keeping what it replaced so that RestoreText puts it back exactly.
  DomTextChange ChangeText(std::string_view text);
  void RestoreText(const DomTextChange &change);

private:
  friend class TOrbXMLList;
  friend class TOrbMainXML;
  xmlNode *CheckedNode() const;
  void DropLists();
  // Items the DOM gives below the node while no list is built here (0 once one is), and the
  // bookkeeping after a text change.
  int UnlistedItems() const;
  void ContentChanged(int unlistedBefore);

  xmlNode *FNode = nullptr;
  TOrbXMLList *FOwnerList = nullptr;
  // Where the owner list last had this item: edits move items a place or two at a time, so a
  // search from here ends at once even in a list of 400,000.
  mutable std::uint32_t FIndexHint = 0;
  // Whether the DOM gives child items while no list is built, once asked: a view asks it of
  // every row it lays out. Forgotten when a text replaces the node's content.
  enum : std::uint8_t { kChildrenUnknown, kNoChildren, kSomeChildren };
  mutable std::uint8_t FChildState = kChildrenUnknown;
  TOrbMainXML *FDocument = nullptr;
  std::unique_ptr<TOrbXMLList> FChildren;
  std::unique_ptr<TOrbXMLList> FAttributes;
};

// The items for the children (text nodes excluded) or for the attributes of one item. Owns its
// items.
class TOrbXMLList {
public:
  TOrbXMLList(TOrbXMLItem *AOwnerItem, bool attributes);
  ~TOrbXMLList(); // destroys the items from the last to the first
  TOrbXMLList(const TOrbXMLList &) = delete;
  TOrbXMLList &operator=(const TOrbXMLList &) = delete;

  int Count() const { return static_cast<int>(FCount); }
  // "List index out of bounds (%d)" outside 0..Count()-1.
  TOrbXMLItem *Items(int index) const;
  int IndexOf(const TOrbXMLItem *item) const; // -1 when absent; fast for an item found before
  TOrbXMLItem *OwnerItem() const { return FOwnerItem; }
  TOrbMainXML *Document() const;
  bool IsAttributeList() const { return FAttributeList; }
  // One mark for the view over the item tree (the tree's model: this list's items have rows);
  // the item tree itself never reads it. Kept here because a view asks it of every row.
  bool ViewMark() const { return FViewMark; }
  void SetViewMark(bool on) { FViewMark = on ? 1 : 0; }

  // Fills an empty list from the owner's DOM children or attributes; a comment's list stays
  // empty, text nodes get no item, and an error ends the filling silently.
  void Populate();
  // Creates a DOM node and its item at the end of this list, optionally copying Source's
  // content: its text and children, and the attributes of every copied element (the new node's
  // own too when it and Source are elements).
  // A leading "#" of Name is dropped and at most 255 characters after it kept. Throws
  // common::EAbort "Cannot make new node here" when the list has no owner item; DOM errors
  // propagate and then neither an item nor a DOM node is left behind.
  TOrbXMLItem *CreateNode(const std::string &Name, int NodeType, TOrbXMLItem *Source = nullptr);
  // CreateNode placing the new node just before the item Before of this list (its node takes
  // Before's place among the DOM siblings), or at the end when Before is nullptr. With Reindent,
  // a copy is laid out at the depth where it lands.
  TOrbXMLItem *CreateNodeBefore(const std::string &Name, int NodeType, TOrbXMLItem *Source,
                                TOrbXMLItem *Before, bool Reindent = false);
  // Removes the item (when it is in this list), its subtree and its DOM node. Modified is kept.
  void DeleteItem(TOrbXMLItem *item);

  // Takes the item (which must be in this list) and its DOM node out, keeping both whole and
  // alive; Restore puts them back exactly where they were. Made for undo: between the two, the
  // document must be as it was right after the Take.
  struct TPlace {
    TOrbXMLList *List = nullptr;
    int Index = -1;
    DomPlace Dom;
  };
  std::unique_ptr<TOrbXMLItem> Take(TOrbXMLItem *item, TPlace &place, bool withSpacing = true);
  static TOrbXMLItem *Restore(std::unique_ptr<TOrbXMLItem> item, const TPlace &place);

  // Items in this list and every list below it, kept up to date on every change.
  int DescendantCount();

private:
  friend class TOrbXMLItem;
  void Append(std::unique_ptr<TOrbXMLItem> item);
  void Reserve(std::uint32_t capacity);
  // The changes that views are told of; they keep the descendant counts along the ancestors.
  void InsertAt(std::uint32_t index, std::unique_ptr<TOrbXMLItem> item);
  std::unique_ptr<TOrbXMLItem> TakeAt(std::uint32_t index);
  void AddDescendants(int delta);
  TOrbXMLItem *CreateNodeImpl(std::string Name, int NodeType, TOrbXMLItem *Source, TOrbXMLItem *Before,
                              bool indent, bool reindent);
  void CopyContent(TOrbXMLItem *target, TOrbXMLItem *source);

  TOrbXMLItem *FOwnerItem = nullptr;
  std::unique_ptr<std::unique_ptr<TOrbXMLItem>[]> FItems;
  std::uint32_t FCount = 0;
  std::uint32_t FCapacity : 30 = 0;
  std::uint32_t FAttributeList : 1 = 0;
  std::uint32_t FViewMark : 1 = 0;
  int FDescendants = -1; // unknown until first asked
};

// One XML document as the rest of the system sees it: the DOM document, the file it was read
// from and is written to, the item tree and the unsaved-changes flag.
class TOrbMainXML {
public:
  TOrbMainXML();
  virtual ~TOrbMainXML();
  TOrbMainXML(const TOrbMainXML &) = delete;
  TOrbMainXML &operator=(const TOrbMainXML &) = delete;

  std::string FileName;         // empty for a new document
  std::string ValidationReport; // empty, or the report of a failed validating load
  bool Modified = false;        // a node was created since the last Load, NewDocument or Save

  DomDocument &XMLDoc() { return *FXMLDoc; }
  const DomDocument &XMLDoc() const { return *FXMLDoc; }
  // The item of the document element; has no owner list and, until a successful load, no node.
  TOrbXMLItem *RootItem() const { return FRootItem.get(); }

  // Reads FileName. A missing or malformed file raises nothing: the root item then has no node
  // and XMLDoc().LastParseError() tells why.
  virtual void Load();
  // Starts a document whose only node is an element named RootName; an invalid XML name raises
  // the DOM's error. Clears FileName.
  virtual void NewDocument(const std::string &RootName);
  // Writes FileName and clears Modified; on failure raises and Modified keeps its value.
  virtual void Save();
  TOrbXMLList *RootChildren();

  // The one observer of the item tree (a window), or nullptr.
  void SetObserver(TOrbXMLObserver *observer) { FObserver = observer; }
  // nullptr while a copy is being built: its inner lists are reported as one insertion.
  TOrbXMLObserver *Observer() const { return FQuiet == 0 ? FObserver : nullptr; }

protected:
  // Takes ownership of a document parsed elsewhere (e.g. by a validating load), makes its
  // document element the root item's node and clears Modified. nullptr leaves no root node.
  void InstallDocument(xmlDocPtr doc, const std::string &sourceFileName);
  // Points the root item at the current document element and clears Modified.
  void AttachRoot();

private:
  friend class TOrbXMLList;
  std::unique_ptr<DomDocument> FXMLDoc;
  std::unique_ptr<TOrbXMLItem> FRootItem;
  TOrbXMLObserver *FObserver = nullptr;
  int FQuiet = 0;
};

} // namespace xmlmodel
