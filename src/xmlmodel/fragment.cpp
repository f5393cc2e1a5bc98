#include "xmlmodel/fragment.h"

#include "common/exception.h"
#include "xmlmodel/file_write.h"

#include <libxml/parser.h>

namespace xmlmodel {

using common::Exception;

namespace {

// Where pasted text lies; on the first line, so that line numbers are the text's own.
constexpr std::string_view kHolderStart = "<fragment-holder>";
constexpr std::string_view kHolderEnd = "</fragment-holder>";

std::string WithoutDeclaration(std::string_view text) {
  size_t start = 0;
  if (text.substr(0, 3) == "\xEF\xBB\xBF")
    start = 3;
  if (text.substr(start, 5) == "<?xml") {
    const size_t end = text.find("?>", start);
    // The declaration's line stays, as an empty one, so that line numbers still agree.
    if (end != std::string_view::npos)
      return std::string(text.substr(end + 2));
  }
  return std::string(text.substr(start));
}

// A copy outside its document cannot refer to the document's entities (the file would not be
// well-formed): each reference becomes the text it stands for. copy mirrors original.
void EntityReferencesToText(const xmlNode *original, xmlNode *copy) {
  const xmlNode *from = original->children;
  xmlNode *to = copy->children;
  for (; from != nullptr && to != nullptr; from = from->next) {
    xmlNode *next = to->next;
    if (from->type == XML_ENTITY_REF_NODE) {
      xmlChar *content = xmlNodeGetContent(from);
      xmlNode *text = xmlNewDocText(copy->doc, content != nullptr ? content : BAD_CAST "");
      xmlFree(content);
      if (text == nullptr)
        throw Exception("Out of memory");
      xmlReplaceNode(to, text);
      xmlFreeNode(to);
    } else if (from->type == XML_ELEMENT_NODE) {
      EntityReferencesToText(from, to);
    }
    to = next;
  }
}

} // namespace

std::string NodeToXml(const xmlNode *node) {
  if (node == nullptr)
    throw Exception("No node given");
  if (node->type != XML_ELEMENT_NODE) {
    xmlBufferPtr buffer = xmlBufferCreate();
    if (buffer == nullptr)
      throw Exception("Out of memory");
    xmlNodeDump(buffer, node->doc, const_cast<xmlNode *>(node), 0, 0);
    std::string text(reinterpret_cast<const char *>(xmlBufferContent(buffer)), xmlBufferLength(buffer));
    xmlBufferFree(buffer);
    return text;
  }
  // A copy as the root of a scratch document, written by the document's own serialiser. A copy
  // keeps only the whitespace that is there as nodes.
  DomUnfoldLayoutBelow(const_cast<xmlNode *>(node));
  TOrbMainXML scratch;
  DomDocument &dom = scratch.XMLDoc();
  xmlNode *copy = xmlDocCopyNode(const_cast<xmlNode *>(node), dom.Doc(), 1);
  if (copy == nullptr)
    throw Exception("Out of memory");
  xmlDocSetRootElement(dom.Doc(), copy);
  EntityReferencesToText(node, copy);
  // Prefixes bound above the node are declared on the copy: those it uses, then every other one
  // in scope (attribute values such as xsi:type may name them), nearest declaration first.
  xmlReconciliateNs(dom.Doc(), copy);
  for (const xmlNode *up = node->parent; up != nullptr && up->type == XML_ELEMENT_NODE; up = up->parent)
    for (const xmlNs *ns = up->nsDef; ns != nullptr; ns = ns->next)
      xmlNewNs(copy, ns->href, ns->prefix); // refused (nullptr) when the prefix is bound already
  dom.ReindentTo(copy, "");
  std::string text = dom.SaveToString();
  // Only the node: no declaration, no final line break.
  text = WithoutDeclaration(text);
  while (!text.empty() && (text.front() == '\n' || text.front() == '\r'))
    text.erase(0, 1);
  while (!text.empty() && (text.back() == '\n' || text.back() == '\r'))
    text.pop_back();
  return text;
}

void SaveElementToFile(const xmlNode *element, const std::string &fileName) {
  if (element == nullptr || element->type != XML_ELEMENT_NODE)
    throw Exception("Only an element can be saved as a document of its own");
  if (fileName.empty())
    throw Exception("Cannot save the element: no file name given");
  WriteFileAtomically(fileName, "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n" + NodeToXml(element) + "\n");
}

std::unique_ptr<TOrbXMLFragment> TOrbXMLFragment::Parse(std::string_view text) {
  InitXmlLibrary();
  std::string wrapped(kHolderStart);
  wrapped += WithoutDeclaration(text);
  wrapped += kHolderEnd;
  xmlParserCtxtPtr context = xmlNewParserCtxt();
  if (context == nullptr)
    throw Exception("Out of memory");
  xmlDocPtr doc = xmlCtxtReadMemory(context, wrapped.data(), static_cast<int>(wrapped.size()), nullptr, "UTF-8",
                                    XML_PARSE_NONET | XML_PARSE_NOERROR | XML_PARSE_NOWARNING);
  if (doc == nullptr) {
    const xmlError *error = xmlCtxtGetLastError(context);
    std::string reason = error && error->message ? error->message : "unknown error";
    while (!reason.empty() && (reason.back() == '\n' || reason.back() == ' '))
      reason.pop_back();
    const int line = error ? error->line : 0;
    xmlFreeParserCtxt(context);
    throw Exception(common::Format("The text is not well-formed XML: %s (line %d)", reason.c_str(), line));
  }
  xmlFreeParserCtxt(context);
  auto fragment = std::unique_ptr<TOrbXMLFragment>(new TOrbXMLFragment);
  fragment->InstallDocument(doc, {});
  if (fragment->Nodes()->Count() == 0)
    throw Exception("The text holds no XML node");
  return fragment;
}

} // namespace xmlmodel
