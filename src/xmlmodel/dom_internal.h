#pragma once

// Helpers shared by the parts of the DOM layer (wrapper, load, serialiser); not for other code.

#include "xmlmodel/dom.h"

#include <libxml/tree.h>

#include <cctype>
#include <string>
#include <string_view>

namespace xmlmodel::dom_detail {

// The address of this byte marks an element that its source wrote as a start and an end tag
// (<a></a>), so that saving does not turn it into <a/>.
inline const char kStartEndPair = 0;
inline void *StartEndPairMark() { return const_cast<char *>(&kStartEndPair); }

// An element written <a>...</a> points _private at the mark above or, when folded, at its layout.
inline const FoldedLayout *FoldedLayoutOf(const xmlNode *node) {
  if (node == nullptr || node->type != XML_ELEMENT_NODE || node->_private == nullptr ||
      node->_private == StartEndPairMark())
    return nullptr;
  return static_cast<const FoldedLayout *>(node->_private);
}

// Whether a node of the given type linked into parent (before `before`, or at the end after the
// last child's whitespace) leaves parent folded: it then lands on a line of its own just by being
// linked. Otherwise the insertion unfolds parent first.
inline bool StaysFolded(const xmlNode *parent, int type, const xmlNode *before) {
  const FoldedLayout *layout = FoldedLayoutOf(parent);
  if (layout == nullptr || parent->children == nullptr || type == XML_TEXT_NODE || type == XML_CDATA_SECTION_NODE ||
      type == XML_DOCUMENT_FRAG_NODE)
    return false;
  return before == nullptr || layout->Before.find('\n') != std::string::npos;
}

// A text node of layout whitespace; nullptr when out of memory.
xmlNode *NewLayoutText(xmlDoc *doc, const std::string &text);

// Links node before next (under parent), or at the end of parent's children when next is
// nullptr, without libxml2's merging of adjacent text nodes.
void LinkBefore(xmlNode *parent, xmlNode *next, xmlNode *node);

inline const xmlChar *X(const std::string &s) { return reinterpret_cast<const xmlChar *>(s.c_str()); }
// Never null, so that empty text stays empty text and does not become no text.
inline const xmlChar *XV(std::string_view s) {
  return reinterpret_cast<const xmlChar *>(s.data() != nullptr ? s.data() : "");
}
inline std::string S(const xmlChar *s) {
  return s ? std::string(reinterpret_cast<const char *>(s)) : std::string();
}

inline bool IsBlank(char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n'; }

inline bool IsWhitespaceText(const xmlNode *node) {
  if (node->type != XML_TEXT_NODE || node->content == nullptr || node->content[0] == 0)
    return false;
  for (const xmlChar *p = node->content; *p; ++p)
    if (!IsBlank(static_cast<char>(*p)))
      return false;
  return true;
}

inline bool EqualsNoCase(std::string_view a, std::string_view b) {
  if (a.size() != b.size())
    return false;
  for (size_t i = 0; i < a.size(); ++i)
    if (std::tolower(static_cast<unsigned char>(a[i])) != std::tolower(static_cast<unsigned char>(b[i])))
      return false;
  return true;
}

// An empty document whose names are interned, as a parsed document's are: a copy of a large
// subtree then shares one string per distinct name instead of allocating one per node.
xmlDocPtr NewEmptyDoc();

template <class Out> void AppendRaw(Out &out, const xmlChar *s) {
  if (s != nullptr)
    out += reinterpret_cast<const char *>(s);
}

template <class Out> void AppendNodeName(Out &out, const xmlNode *node) {
  switch (node->type) {
  case XML_ELEMENT_NODE:
  case XML_ATTRIBUTE_NODE:
    if (node->ns != nullptr && node->ns->prefix != nullptr) {
      AppendRaw(out, node->ns->prefix);
      out += ':';
    }
    AppendRaw(out, node->name);
    return;
  case XML_TEXT_NODE: out += "#text"; return;
  case XML_CDATA_SECTION_NODE: out += "#cdata-section"; return;
  case XML_COMMENT_NODE: out += "#comment"; return;
  case XML_DOCUMENT_NODE:
  case XML_HTML_DOCUMENT_NODE: out += "#document"; return;
  case XML_DOCUMENT_FRAG_NODE: out += "#document-fragment"; return;
  default: AppendRaw(out, node->name); return; // PI target, entity reference, doctype, entity, notation
  }
}


} // namespace xmlmodel::dom_detail
