// The typed wrapper over libxml2: node queries, node creation, and the changes the item tree
// makes, each with its exact inverse.

#include "xmlmodel/dom.h"

#include "common/exception.h"
#include "xmlmodel/dom_internal.h"

#include <libxml/parser.h>

#include <algorithm>
#include <cstddef>
#include <cstring>
#include <mutex>

namespace xmlmodel {

using common::Exception;
using common::Format;

using namespace dom_detail;

namespace {

// Text that libxml2 would write unchanged but that no parser reads back: bytes that are not
// UTF-8 and control characters XML does not allow.
void CheckCharacters(std::string_view text) {
  // Most text is plain ASCII without control characters, which is valid as it is.
  bool plain = true;
  for (unsigned char c : text) {
    if (c >= 0x80 || (c < 0x20 && c != '\t' && c != '\n' && c != '\r')) {
      plain = false;
      break;
    }
  }
  if (plain)
    return;
  const std::string copy(text); // NUL-terminated for libxml2
  if (!xmlCheckUTF8(X(copy)) || text.find('\0') != std::string_view::npos)
    throw Exception("The text is not valid UTF-8");
  for (unsigned char c : text)
    if (c < 0x20 && c != '\t' && c != '\n' && c != '\r')
      throw Exception(Format("The text contains the control character %d, which XML does not allow", c));
}

void CheckName(const std::string &name) {
  if (name.empty() || xmlValidateQName(X(name), 0) != 0)
    throw Exception(Format("\"%s\" is not a valid XML name", name.c_str()));
}

void LinkAtEnd(xmlNode *parent, xmlNode *node) { LinkBefore(parent, nullptr, node); }

} // namespace

xmlDocPtr dom_detail::NewEmptyDoc() {
  xmlDocPtr doc = xmlNewDoc(X("1.0"));
  if (doc == nullptr)
    return nullptr;
  doc->dict = xmlDictCreate();
  if (doc->dict == nullptr) {
    xmlFreeDoc(doc);
    return nullptr;
  }
  return doc;
}

namespace {

void FreeDetached(xmlNode *node) {
  if (node->type == XML_ATTRIBUTE_NODE)
    xmlFreeProp(reinterpret_cast<xmlAttr *>(node));
  else
    xmlFreeNode(node);
}

} // namespace

void InitXmlLibrary() {
  static std::once_flag once;
  std::call_once(once, [] {
    xmlInitParser();
    xmlSetExternalEntityLoader(xmlNoNetExternalEntityLoader);
  });
}

std::string DomNodeName(const xmlNode *node) {
  std::string name;
  AppendNodeName(name, node);
  return name;
}

void DomGetNodeName(const xmlNode *node, std::string &out) {
  out.clear();
  AppendNodeName(out, node);
}

int DomNodeType(const xmlNode *node) {
  switch (node->type) {
  case XML_ELEMENT_NODE: return ntElement;
  case XML_ATTRIBUTE_NODE: return ntAttribute;
  case XML_TEXT_NODE: return ntText;
  case XML_CDATA_SECTION_NODE: return ntCData;
  case XML_ENTITY_REF_NODE: return ntEntityRef;
  case XML_ENTITY_NODE:
  case XML_ENTITY_DECL: return ntEntity;
  case XML_PI_NODE: return ntProcessingInstr;
  case XML_COMMENT_NODE: return ntComment;
  case XML_DOCUMENT_NODE:
  case XML_HTML_DOCUMENT_NODE: return ntDocument;
  case XML_DOCUMENT_TYPE_NODE:
  case XML_DTD_NODE: return ntDocType;
  case XML_DOCUMENT_FRAG_NODE: return ntDocFragment;
  case XML_NOTATION_NODE: return ntNotation;
  default: return ntReserved;
  }
}

namespace {

// entityDepth counts the entities being expanded, against reference loops. Stops once out holds
// limit bytes or more.
void GatherText(const xmlNode *node, std::string &out, int entityDepth, std::size_t limit) {
  if (out.size() >= limit)
    return;
  switch (node->type) {
  case XML_TEXT_NODE:
  case XML_CDATA_SECTION_NODE:
    if (node->content != nullptr)
      out += reinterpret_cast<const char *>(node->content);
    return;
  case XML_ENTITY_REF_NODE: {
    const xmlEntity *entity = entityDepth < 40 ? xmlGetDocEntity(node->doc, node->name) : nullptr;
    if (entity == nullptr)
      return;
    if (entity->children != nullptr) {
      for (const xmlNode *c = entity->children; c != nullptr && out.size() < limit; c = c->next)
        GatherText(c, out, entityDepth + 1, limit);
    } else if (entity->etype == XML_INTERNAL_GENERAL_ENTITY && entity->content != nullptr) {
      // An entity the parser never had to expand has only its replacement text.
      out += reinterpret_cast<const char *>(entity->content);
    } else if (entity->etype == XML_INTERNAL_PREDEFINED_ENTITY && entity->content != nullptr) {
      out += reinterpret_cast<const char *>(entity->content);
    }
    return;
  }
  case XML_ELEMENT_NODE:
  case XML_ATTRIBUTE_NODE:
  case XML_DOCUMENT_FRAG_NODE:
  case XML_DOCUMENT_NODE:
  case XML_ENTITY_DECL: {
    const FoldedLayout *layout = FoldedLayoutOf(node);
    for (const xmlNode *c = node->children; c != nullptr && out.size() < limit; c = c->next) {
      if (layout != nullptr)
        out += layout->Before;
      GatherText(c, out, entityDepth, limit);
    }
    if (layout != nullptr && out.size() < limit)
      out += layout->End;
    return;
  }
  default: return; // comments and processing instructions inside an element are not text
  }
}

} // namespace

std::string DomNodeText(const xmlNode *node, std::size_t limit) {
  switch (node->type) {
  case XML_COMMENT_NODE:
  case XML_PI_NODE: return S(node->content);
  default: {
    std::string text;
    GatherText(node, text, 0, limit);
    return text;
  }
  }
}

// Its content is shared through the document's dictionary, as the parser shares it.
xmlNode *dom_detail::NewLayoutText(xmlDoc *doc, const std::string &text) {
  xmlNode *node = xmlNewDocText(doc, nullptr);
  if (node == nullptr)
    return nullptr;
  const int length = static_cast<int>(text.size());
  node->content = doc != nullptr && doc->dict != nullptr
                      ? const_cast<xmlChar *>(xmlDictLookup(doc->dict, X(text), length))
                      : xmlStrndup(X(text), length);
  if (node->content == nullptr) {
    xmlFreeNode(node);
    return nullptr;
  }
  return node;
}

void dom_detail::LinkBefore(xmlNode *parent, xmlNode *next, xmlNode *node) {
  node->parent = parent;
  node->next = next;
  node->prev = next != nullptr ? next->prev : parent->last;
  (node->prev != nullptr ? node->prev->next : parent->children) = node;
  (next != nullptr ? next->prev : parent->last) = node;
}

namespace {

long LineBreaks(const std::string &text) {
  return static_cast<long>(std::count(text.begin(), text.end(), '\n'));
}

} // namespace

void DomUnfoldLayout(xmlNode *element) {
  const FoldedLayout *layout = FoldedLayoutOf(element);
  if (layout == nullptr)
    return;
  // Every text node is made before any is linked, so that running out of memory changes nothing.
  size_t children = 0;
  for (const xmlNode *child = element->children; child != nullptr; child = child->next)
    ++children;
  std::vector<xmlNode *> spacing(children + 1);
  for (size_t i = 0; i < spacing.size(); ++i) {
    spacing[i] = NewLayoutText(element->doc, i + 1 < spacing.size() ? layout->Before : layout->End);
    if (spacing[i] == nullptr) {
      for (size_t j = 0; j < i; ++j)
        xmlFreeNode(spacing[j]);
      throw Exception("Out of memory while laying out nodes");
    }
  }
  const auto setLine = [](xmlNode *text, long line) {
    // Where libxml2 keeps a text's line past 65535.
    text->line = static_cast<unsigned short>(std::min(line, 65535L));
    text->psvi = line >= 65535 ? reinterpret_cast<void *>(static_cast<std::ptrdiff_t>(line)) : nullptr;
  };
  size_t i = 0;
  for (xmlNode *child = element->children; child != nullptr; child = child->next) {
    setLine(spacing[i], DomLineNo(child) - LineBreaks(layout->Before));
    LinkBefore(element, child, spacing[i++]);
  }
  setLine(spacing[i], DomLineNo(element->last != nullptr ? element->last : element));
  LinkAtEnd(element, spacing[i]);
  element->_private = StartEndPairMark();
}

long DomLineNo(const xmlNode *node) {
  const FoldedLayout *layout = FoldedLayoutOf(node);
  if (layout == nullptr || node->line != 65535 || node->children == nullptr)
    return xmlGetLineNo(node);
  return DomLineNo(node->children) - LineBreaks(layout->Before);
}

void DomUnfoldLayoutBelow(xmlNode *top) {
  // Depth first through the elements (an entity reference's children belong to its declaration).
  for (xmlNode *node = top; node != nullptr;) {
    if (node->type == XML_ELEMENT_NODE) {
      DomUnfoldLayout(node);
      if (node->children != nullptr) {
        node = node->children;
        continue;
      }
    }
    while (node != top && node->next == nullptr)
      node = node->parent;
    node = node == top ? nullptr : node->next;
  }
}

void DomDocument::UnfoldAllLayout() const {
  if (!FFolded)
    return;
  for (xmlNode *node = FDoc->children; node != nullptr; node = node->next)
    DomUnfoldLayoutBelow(node);
  for (xmlNode *node : FGraveyard)
    if (node->parent == nullptr)
      DomUnfoldLayoutBelow(node);
  FFolded = false;
}

bool DomHasChildNodes(const xmlNode *node) { return DomFirstChild(node) != nullptr; }

xmlNode *DomFirstChild(const xmlNode *node) {
  switch (node->type) {
  case XML_ELEMENT_NODE:
  case XML_ATTRIBUTE_NODE:
  case XML_DOCUMENT_NODE:
  case XML_DOCUMENT_FRAG_NODE: return node->children;
  default: return nullptr; // an entity reference's children belong to its declaration
  }
}

xmlNode *DomFirstAttribute(const xmlNode *node) {
  return node->type == XML_ELEMENT_NODE ? reinterpret_cast<xmlNode *>(node->properties) : nullptr;
}

DomDocument::DomDocument() {
  InitXmlLibrary();
  FDoc = NewEmptyDoc();
  if (FDoc == nullptr)
    throw Exception("Cannot create an XML document");
}

DomDocument::~DomDocument() { Release(); }

void DomDocument::Release() {
  // Nodes taken out and later put back under another node are freed with that node; one taken
  // out twice is listed twice.
  std::sort(FGraveyard.begin(), FGraveyard.end());
  FGraveyard.erase(std::unique(FGraveyard.begin(), FGraveyard.end()), FGraveyard.end());
  std::vector<xmlNode *> loose;
  for (xmlNode *node : FGraveyard)
    if (node->parent == nullptr)
      loose.push_back(node);
  for (xmlNode *node : loose)
    FreeDetached(node);
  FGraveyard.clear();
  if (FDoc)
    xmlFreeDoc(FDoc);
  FDoc = nullptr;
  FHasDeclaration = true;
  FDeclaration.clear();
  FCrLf = false;
  FBom = false;
  FTopLevelGaps.clear();
  FRawTags.clear();
  FRawDoctype.clear();
  FFoldedLayouts.clear();
  FFolded = false;
}

xmlNode *DomDocument::DocumentElement() const { return xmlDocGetRootElement(FDoc); }

xmlNode *DomDocument::CreateNode(int nodeType, const std::string &name) {
  xmlNode *node = nullptr;
  switch (nodeType) {
  case ntElement:
    CheckName(name);
    if (name.rfind("xmlns:", 0) == 0)
      throw Exception(Format("\"%s\" is not a valid element name", name.c_str()));
    node = xmlNewDocNode(FDoc, nullptr, X(name), nullptr);
    break;
  case ntAttribute: return CreateAttribute(name);
  case ntText: node = xmlNewDocText(FDoc, X("")); break;
  case ntCData: node = xmlNewCDataBlock(FDoc, X(""), 0); break;
  case ntEntityRef:
    if (name.empty() || xmlValidateName(X(name), 0) != 0)
      throw Exception(Format("\"%s\" is not a valid entity name", name.c_str()));
    // A reference to an entity the document does not declare would make the file unreadable.
    if (!DeclaresEntity(name))
      throw Exception(Format("The entity \"%s\" is not declared in this document", name.c_str()));
    node = xmlNewReference(FDoc, X(name));
    break;
  case ntProcessingInstr:
    if (name.empty() || xmlValidateName(X(name), 0) != 0 || EqualsNoCase(name, "xml"))
      throw Exception(Format("\"%s\" is not a valid processing instruction target", name.c_str()));
    node = xmlNewDocPI(FDoc, X(name), nullptr);
    break;
  case ntComment: node = xmlNewDocComment(FDoc, X("")); break;
  case ntDocFragment: node = xmlNewDocFragment(FDoc); break;
  default: throw Exception(Format("Cannot create a node of type %d", nodeType));
  }
  if (node == nullptr)
    throw Exception("Out of memory while creating a node");
  return node;
}

bool DomDocument::DeclaresEntity(const std::string &name) const {
  return xmlGetDocEntity(FDoc, X(name)) != nullptr;
}

xmlNode *DomDocument::CreateAttribute(const std::string &name) {
  CheckName(name);
  xmlAttr *attribute = xmlNewDocProp(FDoc, X(name), nullptr);
  if (attribute == nullptr)
    throw Exception("Out of memory while creating an attribute");
  return reinterpret_cast<xmlNode *>(attribute);
}

void DomDocument::DiscardNode(xmlNode *node) {
  if (node != nullptr && node->parent == nullptr)
    FreeDetached(node);
}

void DomDocument::AppendToDocument(xmlNode *node) {
  if (node == nullptr || node->type != XML_ELEMENT_NODE)
    throw Exception("Only an element can be added to the document");
  if (node->parent != nullptr)
    throw Exception("The node is already part of a document");
  if (DocumentElement() != nullptr)
    throw Exception("The document already has a root element");
  LinkAtEnd(reinterpret_cast<xmlNode *>(FDoc), node);
  ResolveNamespace(node);
}

void DomDocument::CheckParent(xmlNode *parent, xmlNode *node) const {
  if (parent == nullptr || node == nullptr)
    throw Exception("No node given");
  const bool textual = node->type == XML_TEXT_NODE || node->type == XML_ENTITY_REF_NODE;
  const bool canHold = parent->type == XML_ELEMENT_NODE || parent->type == XML_DOCUMENT_FRAG_NODE ||
                       (parent->type == XML_ATTRIBUTE_NODE && textual);
  if (!canHold)
    throw Exception(Format("A node of type %d cannot be added to a node of type %d", DomNodeType(node),
                           DomNodeType(parent)));
  if (node->type == XML_ATTRIBUTE_NODE || node->type == XML_DOCUMENT_NODE)
    throw Exception(Format("A node of type %d cannot be added as a child", DomNodeType(node)));
  if (node->parent != nullptr || node->doc != FDoc)
    throw Exception("The node is already part of a document");
  // Only a node with children can have the parent inside its own subtree.
  if (node == parent || node->children != nullptr)
    for (xmlNode *up = parent; up != nullptr; up = up->parent)
      if (up == node)
        throw Exception("A node cannot be added below itself");
}

void DomDocument::ForgetStartTag(const xmlNode *parent) {
  // A change below an attribute changes its element's start tag.
  if (parent != nullptr && parent->type == XML_ATTRIBUTE_NODE && parent->parent != nullptr)
    FRawTags.erase(parent->parent);
}

void DomDocument::AppendChild(xmlNode *parent, xmlNode *node) { Append(parent, node, true); }

void DomDocument::AppendChildAtEnd(xmlNode *parent, xmlNode *node) { Append(parent, node, false); }

void DomDocument::Append(xmlNode *parent, xmlNode *node, bool indent) {
  CheckParent(parent, node);
  ForgetStartTag(parent);
  if (indent && StaysFolded(parent, node->type, nullptr)) {
    // Lands after the last child, preceded by the same whitespace: what folding stands for.
    LinkAtEnd(parent, node);
    ResolveNamespace(node);
    return;
  }
  DomUnfoldLayout(parent);
  if (node->type == XML_DOCUMENT_FRAG_NODE) {
    while (node->children != nullptr) {
      xmlNode *child = node->children;
      xmlUnlinkNode(child);
      Append(parent, child, indent);
    }
    KeepAlive(node);
    return;
  }
  xmlNode *last = nullptr; // the last non-text child
  bool onlyBlankAfter = true;
  for (xmlNode *c = indent ? parent->last : nullptr; c != nullptr; c = c->prev) {
    if (c->type != XML_TEXT_NODE) {
      last = c;
      break;
    }
    if (!IsWhitespaceText(c))
      onlyBlankAfter = false;
  }
  if (parent->type == XML_ELEMENT_NODE && last != nullptr && onlyBlankAfter) {
    xmlNode *next = last->next;
    if (last->prev != nullptr && IsWhitespaceText(last->prev)) {
      xmlNode *spacing = xmlNewDocText(FDoc, last->prev->content);
      if (spacing == nullptr)
        throw Exception("Out of memory while adding a node");
      LinkBefore(parent, next, spacing);
    }
    LinkBefore(parent, next, node);
  } else {
    LinkAtEnd(parent, node);
  }
  ResolveNamespace(node);
}

void DomDocument::CopyElementForm(xmlNode *target, const xmlNode *source) {
  if (target == nullptr || source == nullptr || target->type != XML_ELEMENT_NODE ||
      source->type != XML_ELEMENT_NODE)
    return;
  if (source->_private != nullptr) // written <a>...</a>, folded or not
    target->_private = StartEndPairMark();
  bool added = false;
  for (const xmlNs *ns = source->nsDef; ns != nullptr; ns = ns->next) {
    bool have = false;
    for (const xmlNs *own = target->nsDef; own != nullptr && !have; own = own->next)
      have = xmlStrEqual(own->prefix, ns->prefix);
    if (!have) {
      xmlNewNs(target, ns->href, ns->prefix);
      added = true;
    }
  }
  // The declarations just added may rebind the element's own prefix; without any, it is bound
  // as it was when the element was linked.
  if (!added)
    return;
  if (target->ns == nullptr)
    ResolveNamespace(target);
  else if (xmlNs *own = xmlSearchNs(FDoc, target, target->ns->prefix))
    xmlSetNs(target, own);
}

// A new element named prefix:local is bound to the namespace its prefix has at its place; an
// unprefixed one takes the default namespace in scope, as it would when the file is read back.
void DomDocument::ResolveNamespace(xmlNode *node) {
  if (node->type != XML_ELEMENT_NODE || node->ns != nullptr)
    return;
  const char *name = reinterpret_cast<const char *>(node->name);
  const char *colon = std::strchr(name, ':');
  if (colon != nullptr) {
    const std::string prefix(name, colon);
    const std::string local(colon + 1);
    if (xmlNs *ns = xmlSearchNs(FDoc, node, X(prefix))) {
      xmlNodeSetName(node, X(local));
      xmlSetNs(node, ns);
    }
  } else if (xmlNs *ns = xmlSearchNs(FDoc, node, nullptr)) {
    if (ns->href != nullptr && ns->href[0] != 0)
      xmlSetNs(node, ns);
  }
}

void DomDocument::SetAttributeNode(xmlNode *element, xmlNode *attribute) {
  if (element == nullptr || element->type != XML_ELEMENT_NODE)
    throw Exception("Attributes can only be set on an element");
  if (attribute == nullptr || attribute->type != XML_ATTRIBUTE_NODE)
    throw Exception("The node is not an attribute");
  if (attribute->parent != nullptr || attribute->doc != FDoc)
    throw Exception("The attribute is already part of a document");
  std::string name = S(attribute->name);
  std::string local = name;
  xmlNs *ns = attribute->ns;
  if (ns == nullptr) {
    size_t colon = name.find(':');
    if (colon != std::string::npos) {
      if (xmlNs *found = xmlSearchNs(FDoc, element, X(name.substr(0, colon)))) {
        ns = found;
        local = name.substr(colon + 1);
      }
    }
  }
  for (xmlAttr *p = element->properties; p != nullptr; p = p->next) {
    const bool sameNs = (p->ns == nullptr && ns == nullptr) ||
                        (p->ns != nullptr && ns != nullptr && xmlStrEqual(p->ns->href, ns->href));
    if (sameNs && xmlStrEqual(p->name, X(local)))
      throw Exception(
          Format("The element already has an attribute named \"%s\"", DomNodeName(attribute).c_str()));
  }
  FRawTags.erase(element);
  if (ns != attribute->ns) {
    xmlNodeSetName(attribute, X(local));
    attribute->ns = ns;
  }
  auto *attr = reinterpret_cast<xmlAttr *>(attribute);
  attr->parent = element;
  attr->next = nullptr;
  attr->prev = nullptr;
  if (element->properties == nullptr) {
    element->properties = attr;
  } else {
    xmlAttr *last = element->properties;
    while (last->next != nullptr)
      last = last->next;
    last->next = attr;
    attr->prev = last;
  }
}

void DomDocument::KeepAlive(xmlNode *node) { FGraveyard.push_back(node); }

void DomDocument::RemoveChild(xmlNode *parent, xmlNode *child) {
  if (parent == nullptr || child == nullptr || child->parent != parent || child->type == XML_ATTRIBUTE_NODE)
    throw Exception("The node is not a child of this node");
  ForgetStartTag(parent);
  DomUnfoldLayout(parent);
  xmlUnlinkNode(child);
  KeepAlive(child);
}

void DomDocument::RemoveChildAndIndentation(xmlNode *parent, xmlNode *child) {
  if (child != nullptr && child->parent == parent && child->type != XML_ATTRIBUTE_NODE) {
    if (FoldedLayoutOf(parent) != nullptr) { // the whitespace goes with the child anyway
      Detach(child);
      return;
    }
    xmlNode *indent = child->prev;
    if (indent != nullptr && IsWhitespaceText(indent) &&
        (child->next == nullptr || IsWhitespaceText(child->next))) {
      xmlUnlinkNode(indent);
      KeepAlive(indent);
    }
  }
  RemoveChild(parent, child);
}

void DomDocument::RemoveAttribute(xmlNode *element, xmlNode *attribute) {
  if (element == nullptr || attribute == nullptr || attribute->type != XML_ATTRIBUTE_NODE ||
      attribute->parent != element)
    throw Exception("The attribute does not belong to this element");
  FRawTags.erase(element);
  xmlUnlinkNode(attribute);
  KeepAlive(attribute);
}

void DomDocument::SetText(xmlNode *node, std::string_view text) {
  if (node == nullptr)
    throw Exception("No node given");
  switch (node->type) {
  case XML_ELEMENT_NODE:
  case XML_ATTRIBUTE_NODE:
  case XML_DOCUMENT_FRAG_NODE: {
    CheckCharacters(text);
    if (node->type == XML_ATTRIBUTE_NODE && node->parent != nullptr)
      FRawTags.erase(node->parent);
    DomUnfoldLayout(node); // its children are kept alive as they stood
    xmlNode *textNode = nullptr;
    if (!text.empty()) {
      textNode = xmlNewDocTextLen(FDoc, XV(text), static_cast<int>(text.size()));
      if (textNode == nullptr)
        throw Exception("Out of memory while setting text");
    }
    // Room for the children taken out, so that keeping them alive cannot fail once they are
    // unlinked; grown by doubling, as a fixed step would copy the list at every few writes.
    size_t removed = 0;
    for (const xmlNode *child = node->children; child != nullptr; child = child->next)
      ++removed;
    if (FGraveyard.capacity() - FGraveyard.size() < removed)
      FGraveyard.reserve(std::max(FGraveyard.size() + removed, 2 * FGraveyard.capacity()));
    while (node->children != nullptr) {
      xmlNode *child = node->children;
      xmlUnlinkNode(child);
      KeepAlive(child);
    }
    if (textNode != nullptr)
      LinkAtEnd(node, textNode);
    return;
  }
  case XML_COMMENT_NODE:
    CheckCharacters(text);
    if (text.find("--") != std::string_view::npos || (!text.empty() && text.back() == '-'))
      throw Exception("A comment cannot contain \"--\" or end with \"-\"");
    break;
  case XML_CDATA_SECTION_NODE:
    CheckCharacters(text);
    if (text.find("]]>") != std::string_view::npos)
      throw Exception("A CDATA section cannot contain \"]]>\"");
    break;
  case XML_PI_NODE:
    CheckCharacters(text);
    if (text.find("?>") != std::string_view::npos)
      throw Exception("A processing instruction cannot contain \"?>\"");
    break;
  case XML_TEXT_NODE: CheckCharacters(text); break;
  case XML_ENTITY_REF_NODE: throw Exception("The text of an entity reference cannot be changed");
  default: throw Exception(Format("The text of a node of type %d cannot be changed", DomNodeType(node)));
  }
  // These kinds hold their text directly; libxml2 stores it as given.
  xmlNodeSetContentLen(node, XV(text), static_cast<int>(text.size()));
}

xmlNode *DomDocument::AppendText(xmlNode *parent, std::string_view text) {
  CheckCharacters(text);
  // Layout whitespace is shared through the document's dictionary, as the parser shares it.
  const bool layout = !text.empty() && text.size() < 60 && std::all_of(text.begin(), text.end(), IsBlank);
  xmlNode *node = layout ? NewLayoutText(FDoc, std::string(text))
                         : xmlNewDocTextLen(FDoc, XV(text), static_cast<int>(text.size()));
  if (node == nullptr)
    throw Exception("Out of memory while adding text");
  try {
    AppendChildAtEnd(parent, node);
  } catch (...) {
    xmlFreeNode(node);
    throw;
  }
  return node;
}

} // namespace xmlmodel
