// The reversible changes of DomDocument: each leaves behind what it needs to be undone exactly.

#include "xmlmodel/dom.h"

#include "common/exception.h"
#include "xmlmodel/dom_internal.h"

#include <string>

namespace xmlmodel {

using common::Exception;
using namespace dom_detail;

namespace {

bool IsLayoutText(const xmlNode *node) { return node != nullptr && dom_detail::IsWhitespaceText(node); }

void LinkAttributeBefore(xmlNode *element, xmlNode *next, xmlNode *node) {
  auto *attr = reinterpret_cast<xmlAttr *>(node);
  auto *following = reinterpret_cast<xmlAttr *>(next);
  attr->parent = element;
  attr->next = following;
  attr->prev = nullptr;
  if (following != nullptr) {
    attr->prev = following->prev;
    if (following->prev != nullptr)
      following->prev->next = attr;
    else
      element->properties = attr;
    following->prev = attr;
    return;
  }
  if (element->properties == nullptr) {
    element->properties = attr;
    return;
  }
  xmlAttr *last = element->properties;
  while (last->next != nullptr)
    last = last->next;
  last->next = attr;
  attr->prev = last;
}

// The indentation of a line: what follows the last line break of layout whitespace.
std::string IndentAfterBreak(const std::string &whitespace) {
  const size_t lineBreak = whitespace.find_last_of('\n');
  return lineBreak == std::string::npos ? std::string() : whitespace.substr(lineBreak + 1);
}
std::string IndentAfterBreak(const xmlNode *text) {
  return IsLayoutText(text) ? IndentAfterBreak(std::string(reinterpret_cast<const char *>(text->content)))
                            : std::string();
}

bool HasLineBreak(const xmlNode *text) {
  return IsLayoutText(text) && std::string(reinterpret_cast<const char *>(text->content)).find('\n') !=
                                   std::string::npos;
}

} // namespace

DomPlace DomDocument::Detach(xmlNode *node, bool withSpacing) {
  if (node == nullptr || node->parent == nullptr)
    throw Exception("The node is not part of the document");
  DomPlace place;
  place.Node = node;
  place.Parent = node->parent;
  if (node->type == XML_ATTRIBUTE_NODE) {
    place.Next = reinterpret_cast<xmlNode *>(reinterpret_cast<xmlAttr *>(node)->next);
    if (auto raw = FRawTags.find(place.Parent); raw != FRawTags.end()) {
      place.HadRawTag = true;
      place.RawTag = raw->second;
      FRawTags.erase(raw);
    }
  } else {
    ForgetStartTag(place.Parent);
    // A folded parent stays folded: its whitespace goes with the child anyway.
    place.Layout = FoldedLayoutOf(place.Parent);
    xmlNode *indent = node->prev;
    if (withSpacing && IsLayoutText(indent) && (node->next == nullptr || IsLayoutText(node->next))) {
      place.Spacing = indent;
      xmlUnlinkNode(indent);
      KeepAlive(indent);
    }
    place.Next = node->next;
  }
  xmlUnlinkNode(node);
  KeepAlive(node);
  return place;
}

void DomDocument::Restore(const DomPlace &place) {
  xmlNode *node = place.Node;
  if (node == nullptr || node->parent != nullptr)
    throw Exception("The node is already part of a document");
  if (node->type == XML_ATTRIBUTE_NODE) {
    LinkAttributeBefore(place.Parent, place.Next, node);
    if (place.HadRawTag)
      FRawTags[place.Parent] = place.RawTag;
    else
      FRawTags.erase(place.Parent);
    return;
  }
  if (place.Layout != nullptr && FoldedLayoutOf(place.Parent) == nullptr) {
    // Taken from a folded parent that has been unfolded since: the node needs its line back.
    xmlNode *spacing = NewLayoutText(FDoc, place.Layout->Before);
    if (spacing == nullptr)
      throw Exception("Out of memory while adding a node");
    if (place.Next != nullptr) {
      LinkBefore(place.Parent, place.Next, node);
      LinkBefore(place.Parent, place.Next, spacing);
    } else {
      xmlNode *end = IsLayoutText(place.Parent->last) ? place.Parent->last : nullptr;
      LinkBefore(place.Parent, end, spacing);
      LinkBefore(place.Parent, end, node);
    }
    return;
  }
  if (place.Spacing != nullptr)
    LinkBefore(place.Parent, place.Next, place.Spacing);
  LinkBefore(place.Parent, place.Next, node);
}

void DomDocument::InsertChild(xmlNode *parent, xmlNode *node, xmlNode *before, bool reindent) {
  if (before == nullptr) {
    AppendChild(parent, node);
  } else {
    CheckParent(parent, node);
    if (before->parent != parent)
      throw Exception("The node to insert before is not a child of this node");
    if (!StaysFolded(parent, node->type, before))
      DomUnfoldLayout(parent);
    // The node gets a line of its own before before's: a copy of before's indentation goes in
    // front of it, so that undo, which takes out the whitespace before a node, takes that copy
    // and leaves the nodes that other steps may refer to.
    xmlNode *indent = before->prev;
    if (IsLayoutText(indent) && HasLineBreak(indent)) {
      xmlNode *spacing = NewLayoutText(FDoc, reinterpret_cast<const char *>(indent->content));
      if (spacing == nullptr)
        throw Exception("Out of memory while adding a node");
      LinkBefore(parent, indent, spacing);
      LinkBefore(parent, indent, node);
    } else {
      LinkBefore(parent, before, node);
    }
    ResolveNamespace(node);
  }
  if (reindent)
    Reindent(node);
}

void DomDocument::Reindent(xmlNode *node) {
  if (node == nullptr)
    return;
  // In a folded parent the whitespace before the node is the layout's.
  if (const FoldedLayout *layout = FoldedLayoutOf(node->parent)) {
    if (layout->Before.find('\n') != std::string::npos)
      ReindentTo(node, IndentAfterBreak(layout->Before));
  } else if (HasLineBreak(node->prev)) {
    ReindentTo(node, IndentAfterBreak(node->prev));
  }
}

void DomDocument::ReindentTo(xmlNode *node, const std::string &to) {
  // The copy's own base indentation shows in the whitespace before its end tag.
  if (node == nullptr || node->type != XML_ELEMENT_NODE)
    return;
  DomUnfoldLayoutBelow(node); // the whitespace to move must be there as nodes
  if (!HasLineBreak(node->last))
    return;
  const std::string from = IndentAfterBreak(node->last);
  if (from == to)
    return;
  std::string line;
  for (xmlNode *n = node->children; n != nullptr;) {
    if (HasLineBreak(n)) {
      // Every line of the whitespace starts at the new depth.
      const std::string text(reinterpret_cast<const char *>(n->content));
      std::string moved;
      size_t pos = 0;
      while (pos <= text.size()) {
        const size_t lineBreak = text.find('\n', pos);
        line = text.substr(pos, lineBreak == std::string::npos ? std::string::npos : lineBreak - pos);
        if (pos > 0 && line.compare(0, from.size(), from) == 0)
          line = to + line.substr(from.size());
        moved += line;
        if (lineBreak == std::string::npos)
          break;
        moved += '\n';
        pos = lineBreak + 1;
      }
      xmlNodeSetContentLen(n, reinterpret_cast<const xmlChar *>(moved.data()), static_cast<int>(moved.size()));
    }
    // Depth first through the copy, not past it.
    if (n->type == XML_ELEMENT_NODE && n->children != nullptr) {
      n = n->children;
      continue;
    }
    while (n != nullptr && n->next == nullptr && n != node)
      n = n->parent == node ? nullptr : n->parent;
    n = n != nullptr ? n->next : nullptr;
  }
}

bool DomDocument::RawStartTag(const xmlNode *element, std::string &tag) const {
  const auto raw = FRawTags.find(element);
  if (raw == FRawTags.end())
    return false;
  tag = raw->second;
  return true;
}

void DomDocument::SetRawStartTag(const xmlNode *element, bool kept, const std::string &tag) {
  if (kept)
    FRawTags[element] = tag;
  else
    FRawTags.erase(element);
}

DomTextChange DomDocument::ChangeText(xmlNode *node, std::string_view text) {
  if (node == nullptr)
    throw Exception("No node given");
  DomTextChange change;
  change.Node = node;
  const xmlNode *element = node->type == XML_ATTRIBUTE_NODE ? node->parent : nullptr;
  if (element != nullptr)
    if (auto raw = FRawTags.find(element); raw != FRawTags.end()) {
      change.HadRawTag = true;
      change.RawTag = raw->second;
    }
  const bool holdsChildren = node->type == XML_ELEMENT_NODE || node->type == XML_ATTRIBUTE_NODE ||
                             node->type == XML_DOCUMENT_FRAG_NODE;
  DomUnfoldLayout(node); // what is replaced is kept as it stood, whitespace included
  if (holdsChildren)
    for (xmlNode *child = node->children; child != nullptr; child = child->next)
      change.OldChildren.push_back(child);
  else if (node->content != nullptr)
    change.OldContent = reinterpret_cast<const char *>(node->content);
  SetText(node, text);
  if (holdsChildren)
    change.NewText = node->children;
  return change;
}

void DomDocument::RestoreText(const DomTextChange &change) {
  xmlNode *node = change.Node;
  if (node == nullptr)
    return;
  const bool holdsChildren = node->type == XML_ELEMENT_NODE || node->type == XML_ATTRIBUTE_NODE ||
                             node->type == XML_DOCUMENT_FRAG_NODE;
  if (holdsChildren) {
    while (node->children != nullptr) {
      xmlNode *child = node->children;
      xmlUnlinkNode(child);
      KeepAlive(child);
    }
    for (xmlNode *child : change.OldChildren) {
      child->parent = nullptr;
      child->prev = child->next = nullptr;
      LinkBefore(node, nullptr, child);
    }
  } else {
    xmlNodeSetContentLen(node, reinterpret_cast<const xmlChar *>(change.OldContent.data()),
                         static_cast<int>(change.OldContent.size()));
  }
  if (node->type == XML_ATTRIBUTE_NODE && node->parent != nullptr) {
    if (change.HadRawTag)
      FRawTags[node->parent] = change.RawTag;
    else
      FRawTags.erase(node->parent);
  }
}

} // namespace xmlmodel
