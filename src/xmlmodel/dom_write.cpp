// The serialiser: writes the document back with the layout the load recorded.

#include "xmlmodel/dom.h"

#include "common/exception.h"
#include "xmlmodel/dom_internal.h"
#include "xmlmodel/file_write.h"
#include "xmlmodel/libxml_handles.h"

#include <array>
#include <cstring>
#include <vector>

namespace xmlmodel {

using common::Exception;
using namespace dom_detail;

// The serialiser's output: appends without the call and bounds overhead of std::string for every
// small piece. The string is sized to what was written when the writer goes.
class DomWriter {
public:
  explicit DomWriter(std::string &out) : FOut(out), FLength(out.size()) {}
  ~DomWriter() { FOut.resize(FLength); }
  DomWriter(const DomWriter &) = delete;
  DomWriter &operator=(const DomWriter &) = delete;

  void append(const char *text, size_t count) {
    if (count == 0)
      return;
    if (FOut.size() - FLength < count)
      Grow(count);
    std::memcpy(FOut.data() + FLength, text, count);
    FLength += count;
  }
  void append(const std::string &text, size_t pos, size_t count) { append(text.data() + pos, count); }
  DomWriter &operator+=(char c) {
    if (FOut.size() == FLength)
      Grow(1);
    FOut[FLength++] = c;
    return *this;
  }
  DomWriter &operator+=(const char *text) {
    append(text, std::strlen(text));
    return *this;
  }
  DomWriter &operator+=(const std::string &text) {
    append(text.data(), text.size());
    return *this;
  }

private:
  void Grow(size_t count) { FOut.resize(std::max(2 * FOut.size(), FLength + count + 4096)); }

  std::string &FOut;
  size_t FLength;
};


namespace {

// Bytes written as they are: in text everything but markup, CR and the end; in attribute values
// also no quote, line break or tab.
constexpr auto PlainBytes(bool attribute) {
  std::array<bool, 256> plain{};
  for (int c = 1; c < 256; ++c)
    plain[c] =
        c != '&' && c != '<' && c != '>' && c != '\r' && !(attribute && (c == '"' || c == '\n' || c == '\t'));
  return plain;
}
constexpr auto kPlainInText = PlainBytes(false);
constexpr auto kPlainInAttribute = PlainBytes(true);

void AppendEscaped(DomWriter &out, const xmlChar *text, bool attribute) {
  if (text == nullptr)
    return;
  bool seenLess = false;
  const std::array<bool, 256> &plain = attribute ? kPlainInAttribute : kPlainInText;
  for (const xmlChar *p = text; *p; ++p) {
    // Characters written as they are go out in one piece.
    const xmlChar *run = p;
    while (plain[*p])
      ++p;
    if (p != run)
      out.append(reinterpret_cast<const char *>(run), static_cast<size_t>(p - run));
    if (*p == 0)
      return;
    switch (*p) {
    case '&': out += "&amp;"; break;
    case '<':
      out += "&lt;";
      seenLess = true;
      break;
    case '>':
      // A '>' closing an escaped "<...>" is written "&gt;", a lone one as itself, which is how
      // files usually have them; "]]>" must never appear in text.
      if (attribute || seenLess || (p - text >= 2 && p[-1] == ']' && p[-2] == ']'))
        out += "&gt;";
      else
        out += '>';
      break;
    case '\r': out += "&#13;"; break;
    case '"':
      if (attribute)
        out += "&quot;";
      else
        out += '"';
      break;
    case '\n':
      if (attribute)
        out += "&#10;";
      else
        out += '\n';
      break;
    case '\t':
      if (attribute)
        out += "&#9;";
      else
        out += '\t';
      break;
    default: out += static_cast<char>(*p);
    }
  }
}

} // namespace

void DomDocument::WriteNode(DomWriter &out, const xmlNode *node) const {
  switch (node->type) {
  case XML_ELEMENT_NODE: {
    auto raw = FRawTags.empty() ? FRawTags.end() : FRawTags.find(node);
    if (raw != FRawTags.end()) {
      const std::string &tag = raw->second;
      const bool selfClosed = tag.size() >= 2 && tag.compare(tag.size() - 2, 2, "/>") == 0;
      if (!selfClosed || node->children == nullptr) {
        out += tag;
        if (selfClosed)
          return;
      } else {
        size_t end = tag.size() - 2; // "<a />" that has since got children becomes "<a>"
        while (end > 0 && IsBlank(tag[end - 1]))
          --end;
        out.append(tag, 0, end);
        out += '>';
      }
    } else {
      out += '<';
      AppendNodeName(out, node);
      for (const xmlNs *ns = node->nsDef; ns != nullptr; ns = ns->next) {
        out += " xmlns";
        if (ns->prefix != nullptr) {
          out += ':';
          out += S(ns->prefix);
        }
        out += "=\"";
        AppendEscaped(out, ns->href, true);
        out += '"';
      }
      for (const xmlAttr *attr = node->properties; attr != nullptr; attr = attr->next) {
        out += ' ';
        AppendNodeName(out, reinterpret_cast<const xmlNode *>(attr));
        out += "=\"";
        for (const xmlNode *part = attr->children; part != nullptr; part = part->next) {
          if (part->type == XML_ENTITY_REF_NODE) {
            out += '&';
            out += S(part->name);
            out += ';';
          } else {
            AppendEscaped(out, part->content, true);
          }
        }
        out += '"';
      }
      if (node->children == nullptr && node->_private == nullptr) { // not written <a></a>, nor folded
        out += "/>";
        return;
      }
      out += '>';
    }
    const FoldedLayout *layout = FoldedLayoutOf(node);
    for (const xmlNode *child = node->children; child != nullptr; child = child->next) {
      if (layout != nullptr)
        AppendEscaped(out, X(layout->Before), false); // as its text node would be written
      WriteNode(out, child);
    }
    if (layout != nullptr)
      AppendEscaped(out, X(layout->End), false);
    out += "</";
    AppendNodeName(out, node);
    out += '>';
    return;
  }
  case XML_TEXT_NODE: AppendEscaped(out, node->content, false); return;
  case XML_CDATA_SECTION_NODE:
    out += "<![CDATA[";
    out += S(node->content);
    out += "]]>";
    return;
  case XML_COMMENT_NODE:
    out += "<!--";
    out += S(node->content);
    out += "-->";
    return;
  case XML_PI_NODE:
    out += "<?";
    out += S(node->name);
    if (node->content != nullptr && node->content[0] != 0) {
      out += ' ';
      out += S(node->content);
    }
    out += "?>";
    return;
  case XML_ENTITY_REF_NODE:
    out += '&';
    out += S(node->name);
    out += ';';
    return;
  case XML_DOCUMENT_FRAG_NODE:
    for (const xmlNode *child = node->children; child != nullptr; child = child->next)
      WriteNode(out, child);
    return;
  case XML_DTD_NODE: {
    if (!FRawDoctype.empty()) {
      out += FRawDoctype;
      return;
    }
    XmlBufferHandle buffer(xmlBufferCreate());
    if (!buffer)
      throw Exception("Out of memory while writing the document");
    xmlNodeDump(buffer.get(), FDoc, const_cast<xmlNode *>(node), 0, 0);
    out.append(reinterpret_cast<const char *>(xmlBufferContent(buffer.get())), xmlBufferLength(buffer.get()));
    return;
  }
  default: return;
  }
}

std::string DomDocument::Serialise() const {
  std::string out;
  std::vector<const xmlNode *> top;
  for (const xmlNode *node = FDoc->children; node != nullptr; node = node->next)
    top.push_back(node);
  const bool gapsKnown = FTopLevelGaps.size() == top.size() + 1;
  if (FBom)
    out += "\xEF\xBB\xBF";
  if (FHasDeclaration)
    out += FDeclaration.empty() ? std::string("<?xml version=\"1.0\" encoding=\"UTF-8\"?>") : FDeclaration;
  for (size_t i = 0; i < top.size(); ++i) {
    if (gapsKnown)
      out += FTopLevelGaps[i];
    else if (i > 0 || FHasDeclaration)
      out += "\n";
    DomWriter writer(out);
    WriteNode(writer, top[i]);
  }
  out += gapsKnown ? FTopLevelGaps.back() : std::string("\n");
  if (FCrLf) {
    std::string crlf;
    crlf.reserve(out.size() + out.size() / 16);
    for (char c : out) {
      if (c == '\n')
        crlf += '\r';
      crlf += c;
    }
    out.swap(crlf);
  }
  return out;
}

std::string DomDocument::SaveToString() const {
  if (xmlDocGetRootElement(FDoc) == nullptr)
    throw Exception("The document has no root element");
  return Serialise();
}

void DomDocument::Save(const std::string &fileName) const {
  if (fileName.empty())
    throw Exception("Cannot save the document: it has no file name");
  const std::string data = SaveToString();
  WriteFileAtomically(fileName, data);
}

} // namespace xmlmodel
