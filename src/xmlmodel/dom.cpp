#include "xmlmodel/dom.h"

#include "common/exception.h"

#include <libxml/SAX2.h>
#include <libxml/parser.h>
#include <libxml/parserInternals.h>
#include <libxml/xmlIO.h>
#include <libxml/xmlerror.h>
#include <libxml/xmlsave.h>

#include <algorithm>
#include <array>
#include <cctype>
#include <cerrno>
#include <climits>
#include <cstring>
#include <filesystem>
#include <mutex>
#include <unordered_map>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace xmlmodel {

using common::Exception;
using common::Format;

namespace {

// The address of this byte marks an element that its source wrote as a start and an end tag
// (<a></a>), so that saving does not turn it into <a/>.
const char kStartEndPair = 0;
void *StartEndPairMark() { return const_cast<char *>(&kStartEndPair); }

const xmlChar *X(const std::string &s) { return reinterpret_cast<const xmlChar *>(s.c_str()); }
// Never null, so that empty text stays empty text and does not become no text.
const xmlChar *XV(std::string_view s) {
  return reinterpret_cast<const xmlChar *>(s.data() != nullptr ? s.data() : "");
}
std::string S(const xmlChar *s) { return s ? std::string(reinterpret_cast<const char *>(s)) : std::string(); }

bool IsBlank(char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n'; }

bool IsWhitespaceText(const xmlNode *node) {
  if (node->type != XML_TEXT_NODE || node->content == nullptr || node->content[0] == 0)
    return false;
  for (const xmlChar *p = node->content; *p; ++p)
    if (!IsBlank(static_cast<char>(*p)))
      return false;
  return true;
}

std::string StripLineBreak(const char *message) {
  std::string s = message ? message : "";
  while (!s.empty() && (s.back() == '\n' || s.back() == '\r'))
    s.pop_back();
  return s;
}

// Collects the first error (not warning) libxml2 reports while it is alive.
class ErrorCapture {
public:
  ErrorCapture() : FOldFunc(xmlStructuredError), FOldContext(xmlStructuredErrorContext) {
    xmlSetStructuredErrorFunc(this, &Handler);
  }
  ~ErrorCapture() { xmlSetStructuredErrorFunc(FOldContext, FOldFunc); }
  ErrorCapture(const ErrorCapture &) = delete;
  ErrorCapture &operator=(const ErrorCapture &) = delete;

  bool Have = false;
  DomParseError First;

private:
  static void Handler(void *context, xmlErrorPtr error) {
    auto *self = static_cast<ErrorCapture *>(context);
    if (self->Have || error == nullptr || error->level < XML_ERR_ERROR)
      return;
    self->Have = true;
    self->First.ErrorCode = error->code;
    self->First.Reason = StripLineBreak(error->message);
    self->First.Line = error->line;
  }

  xmlStructuredErrorFunc FOldFunc;
  void *FOldContext;
};

// A start tag written the way the serialiser writes it anyway (single spaces, double quotes, no
// references or line breaks) needs no copy.
bool PlainStartTag(const char *begin, const char *end) {
  const char *close = end - 1; // the final '>'
  if (close > begin && close[-1] == '/')
    --close;
  if (close > begin && close[-1] == ' ')
    return false;
  for (const char *p = begin; p < close; ++p) {
    switch (*p) {
    case '\t':
    case '\r':
    case '\n':
    case '\'':
    case '&':
    case '>': return false;
    case ' ':
      if (p[1] == ' ' || p[1] == '=' || p[-1] == '=')
        return false;
      break;
    default: break;
    }
  }
  return true;
}

void StartElementMarking(void *context, const xmlChar *localname, const xmlChar *prefix, const xmlChar *uri,
                         int nbNamespaces, const xmlChar **namespaces, int nbAttributes, int nbDefaulted,
                         const xmlChar **attributes) {
  xmlSAX2StartElementNs(context, localname, prefix, uri, nbNamespaces, namespaces, nbAttributes, nbDefaulted,
                        attributes);
  // The parser calls this with the input at the end of the start tag: "/>" or ">".
  auto *ctxt = static_cast<xmlParserCtxtPtr>(context);
  if (ctxt == nullptr || ctxt->node == nullptr || ctxt->input == nullptr || ctxt->input->cur == nullptr ||
      ctxt->input->base == nullptr)
    return;
  const char *cur = reinterpret_cast<const char *>(ctxt->input->cur);
  if (*cur == '>')
    ctxt->node->_private = StartEndPairMark();
  auto *rawTags = static_cast<std::unordered_map<const xmlNode *, std::string> *>(ctxt->_private);
  if (rawTags == nullptr || (*cur != '>' && !(cur[0] == '/' && cur[1] == '>')))
    return;
  const char *end = cur + (*cur == '>' ? 1 : 2);
  // '<' cannot occur inside a start tag, so the last one before the input position opens it.
  const char *base = reinterpret_cast<const char *>(ctxt->input->base);
  const char *begin = cur;
  while (begin > base && *begin != '<')
    --begin;
  if (*begin != '<')
    return;
  // Namespace declarations (some perhaps defaulted by a DTD) are kept as written, in their order.
  if (nbDefaulted == 0 && nbNamespaces == 0 && PlainStartTag(begin, end))
    return;
  std::string tag(begin, end);
  tag.erase(std::remove(tag.begin(), tag.end(), '\r'), tag.end());
  (*rawTags)[ctxt->node] = std::move(tag);
}

} // namespace

// A file read in pieces: sequentially by the parser, and at offsets for its first and last
// bytes and for the text of an error line, so a large file is never held twice in memory.
class DomInputFile {
public:
  DomInputFile() = default;
  ~DomInputFile() {
    if (FFd >= 0)
      ::close(FFd);
  }
  DomInputFile(const DomInputFile &) = delete;
  DomInputFile &operator=(const DomInputFile &) = delete;

  bool Open(const std::string &fileName, std::string &why) {
    FFd = ::open(fileName.c_str(), O_RDONLY | O_CLOEXEC);
    if (FFd < 0) {
      why = std::strerror(errno);
      return false;
    }
    struct stat st {};
    if (::fstat(FFd, &st) != 0 || !S_ISREG(st.st_mode)) {
      why = S_ISDIR(st.st_mode) ? "it is a folder" : "it is not a regular file";
      return false;
    }
    FSize = st.st_size;
    return true;
  }

  off_t Size() const { return FSize; }

  std::string ReadAt(off_t offset, size_t count) const {
    std::string bytes(count, '\0');
    size_t done = 0;
    while (done < count) {
      ssize_t n = ::pread(FFd, bytes.data() + done, count - done, offset + static_cast<off_t>(done));
      if (n < 0 && errno == EINTR)
        continue;
      if (n <= 0)
        break;
      done += static_cast<size_t>(n);
    }
    bytes.resize(done);
    return bytes;
  }

  // The text of a 1-based line, cut to a readable length at a character boundary.
  std::string Line(int line) const {
    if (line <= 0)
      return {};
    constexpr size_t kChunk = 1 << 16, kLongest = 4096;
    std::string text;
    int current = 1;
    for (off_t offset = 0; offset < FSize; offset += static_cast<off_t>(kChunk)) {
      const std::string chunk = ReadAt(offset, kChunk);
      if (chunk.empty())
        break;
      for (char c : chunk) {
        if (c == '\n') {
          if (current == line)
            return Finish(text, kLongest);
          ++current;
        } else if (current == line && text.size() <= kLongest) {
          text += c;
        }
      }
    }
    return current == line ? Finish(text, kLongest) : std::string();
  }

  static int Read(void *context, char *buffer, int length) {
    auto *self = static_cast<DomInputFile *>(context);
    for (;;) {
      ssize_t n = ::read(self->FFd, buffer, static_cast<size_t>(length));
      if (n < 0 && errno == EINTR)
        continue;
      return n < 0 ? -1 : static_cast<int>(n);
    }
  }

private:
  static std::string Finish(std::string text, size_t longest) {
    if (text.size() > longest) {
      size_t cut = longest;
      while (cut > 0 && (static_cast<unsigned char>(text[cut]) & 0xC0) == 0x80)
        --cut;
      text.resize(cut);
    }
    if (!text.empty() && text.back() == '\r')
      text.pop_back();
    return text;
  }

  int FFd = -1;
  off_t FSize = 0;
};

namespace {

// How much of each end of a file is examined for its layout around the root element.
constexpr size_t kSniffBytes = 1 << 20;

bool StartsWith(const std::string &s, size_t pos, const char *prefix) {
  return s.compare(pos, std::strlen(prefix), prefix) == 0;
}

// Finds the end of a DOCTYPE declaration starting at pos (just past "<!DOCTYPE"), skipping
// quoted literals, comments and the internal subset.
size_t DoctypeEnd(const std::string &s, size_t pos) {
  char quote = 0;
  bool subset = false;
  for (size_t i = pos; i < s.size(); ++i) {
    char c = s[i];
    if (quote) {
      if (c == quote)
        quote = 0;
    } else if (c == '"' || c == '\'') {
      quote = c;
    } else if (subset && StartsWith(s, i, "<!--")) {
      size_t e = s.find("-->", i + 4);
      if (e == std::string::npos)
        return std::string::npos;
      i = e + 2;
    } else if (subset && StartsWith(s, i, "<?")) {
      size_t e = s.find("?>", i + 2);
      if (e == std::string::npos)
        return std::string::npos;
      i = e + 1;
    } else if (c == '[') {
      subset = true;
    } else if (c == ']') {
      subset = false;
    } else if (c == '>' && !subset) {
      return i + 1;
    }
  }
  return std::string::npos;
}

bool EqualsNoCase(std::string a, std::string b) {
  if (a.size() != b.size())
    return false;
  for (size_t i = 0; i < a.size(); ++i)
    if (std::tolower(static_cast<unsigned char>(a[i])) != std::tolower(static_cast<unsigned char>(b[i])))
      return false;
  return true;
}

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

void LinkAtEnd(xmlNode *parent, xmlNode *node) {
  node->parent = parent;
  node->prev = parent->last;
  node->next = nullptr;
  if (parent->last)
    parent->last->next = node;
  else
    parent->children = node;
  parent->last = node;
}

// Links without libxml2's merging of adjacent text nodes, which would free the node linked.
void LinkAfter(xmlNode *prev, xmlNode *node) {
  node->parent = prev->parent;
  node->prev = prev;
  node->next = prev->next;
  if (prev->next)
    prev->next->prev = node;
  else if (prev->parent)
    prev->parent->last = node;
  prev->next = node;
}

// An empty document whose names are interned, as a parsed document's are: a copy of a large
// subtree then shares one string per distinct name instead of allocating one per node.
xmlDocPtr NewEmptyDoc() {
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

} // namespace

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

// entityDepth counts the entities being expanded, against reference loops.
void GatherText(const xmlNode *node, std::string &out, int entityDepth) {
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
      for (const xmlNode *c = entity->children; c != nullptr; c = c->next)
        GatherText(c, out, entityDepth + 1);
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
  case XML_ENTITY_DECL:
    for (const xmlNode *c = node->children; c != nullptr; c = c->next)
      GatherText(c, out, entityDepth);
    return;
  default: return; // comments and processing instructions inside an element are not text
  }
}

} // namespace

std::string DomNodeText(const xmlNode *node) {
  switch (node->type) {
  case XML_COMMENT_NODE:
  case XML_PI_NODE: return S(node->content);
  default: {
    std::string text;
    GatherText(node, text, 0);
    return text;
  }
  }
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
}

bool DomDocument::Load(const std::string &fileName, int extraOptions) {
  Release();
  FParseError = {};
  FDoc = NewEmptyDoc();
  if (FDoc == nullptr)
    throw Exception("Cannot create an XML document");

  DomInputFile file;
  std::string why;
  if (!file.Open(fileName, why)) {
    FParseError = {XML_IO_LOAD_ERROR,
                   Format("The file \"%s\" cannot be read: %s", fileName.c_str(), why.c_str()), "", 0};
    return false;
  }
  // No network, no entity substitution, no huge-input mode, no recovery from malformed input,
  // whatever a caller asks for; whitespace is kept so that a save keeps the layout.
  const int options = (XML_PARSE_NONET | XML_PARSE_BIG_LINES | extraOptions) &
                      ~(XML_PARSE_NOENT | XML_PARSE_HUGE | XML_PARSE_RECOVER | XML_PARSE_NOBLANKS);
  xmlDocPtr doc = nullptr;
  bool wellFormed = false;
  ErrorCapture capture;
  {
    xmlParserCtxtPtr ctxt = xmlNewParserCtxt();
    if (ctxt == nullptr)
      throw Exception("Cannot create an XML parser");
    ctxt->sax->startElementNs = &StartElementMarking;
    ctxt->_private = &FRawTags;
    doc = xmlCtxtReadIO(ctxt, &DomInputFile::Read, nullptr, &file, fileName.c_str(), nullptr, options);
    wellFormed = ctxt->wellFormed != 0;
    xmlFreeParserCtxt(ctxt);
  }
  if (capture.Have) {
    FParseError = capture.First;
    FParseError.SrcText = file.Line(FParseError.Line);
  }
  if (doc != nullptr && (!wellFormed || xmlDocGetRootElement(doc) == nullptr)) {
    xmlFreeDoc(doc);
    doc = nullptr;
  }
  if (doc == nullptr) {
    FRawTags.clear(); // they name nodes of the tree just freed
    if (FParseError.ErrorCode == 0)
      FParseError = {XML_ERR_DOCUMENT_EMPTY, "Document is empty", "", 1};
    return false;
  }
  xmlFreeDoc(FDoc);
  FDoc = doc;
  SniffSource(file);
  return true;
}

void DomDocument::Install(xmlDocPtr doc, const std::string &sourceFileName) {
  InitXmlLibrary();
  Release();
  FDoc = doc ? doc : NewEmptyDoc();
  if (FDoc == nullptr)
    throw Exception("Cannot create an XML document");
  DomInputFile file;
  std::string why;
  if (doc != nullptr && !sourceFileName.empty() && file.Open(sourceFileName, why))
    SniffSource(file);
}

// Records what the parser drops but a save should give back: a byte-order mark, the XML
// declaration as written, CR LF line ends and the whitespace between top-level nodes.
void DomDocument::SniffSource(const DomInputFile &file) {
  const bool whole = file.Size() <= static_cast<off_t>(2 * kSniffBytes);
  const std::string bytes = file.ReadAt(0, whole ? static_cast<size_t>(file.Size()) : kSniffBytes);
  const std::string tailBytes = whole ? std::string() : file.ReadAt(file.Size() - kSniffBytes, kSniffBytes);
  size_t pos = 0;
  FBom = StartsWith(bytes, 0, "\xEF\xBB\xBF");
  if (FBom)
    pos = 3;
  if (bytes.size() >= 2 &&
      ((bytes[0] == '\xFF' && bytes[1] == '\xFE') || (bytes[0] == '\xFE' && bytes[1] == '\xFF')))
    return; // UTF-16 source: it is written back as UTF-8 with a fresh declaration
  size_t lf = bytes.find('\n');
  FCrLf = lf != std::string::npos && lf > 0 && bytes[lf - 1] == '\r';

  FHasDeclaration = StartsWith(bytes, pos, "<?xml") && pos + 5 < bytes.size() && IsBlank(bytes[pos + 5]);
  if (FHasDeclaration) {
    size_t end = bytes.find("?>", pos);
    if (end == std::string::npos)
      return;
    std::string decl = bytes.substr(pos, end + 2 - pos);
    pos = end + 2;
    // The file is written as UTF-8: another declared encoding is replaced by UTF-8.
    size_t e = decl.find("encoding");
    if (e != std::string::npos) {
      size_t q = decl.find_first_of("\"'", e);
      size_t q2 = q == std::string::npos ? q : decl.find(decl[q], q + 1);
      if (q2 != std::string::npos && !EqualsNoCase(decl.substr(q + 1, q2 - q - 1), "UTF-8"))
        decl.replace(q + 1, q2 - q - 1, "UTF-8");
    }
    FDeclaration = decl;
  }

  auto whitespaceFrom = [&](size_t p) {
    size_t q = p;
    while (q < bytes.size() && IsBlank(bytes[q]))
      ++q;
    return q;
  };
  std::vector<std::string> gaps;
  for (;;) {
    size_t q = whitespaceFrom(pos);
    gaps.push_back(bytes.substr(pos, q - pos));
    pos = q;
    size_t end;
    if (StartsWith(bytes, pos, "<!--"))
      end = bytes.find("-->", pos + 4) + 3;
    else if (StartsWith(bytes, pos, "<?"))
      end = bytes.find("?>", pos + 2) + 2;
    else if (StartsWith(bytes, pos, "<!DOCTYPE")) {
      end = DoctypeEnd(bytes, pos + 9);
      if (end != std::string::npos) {
        FRawDoctype = bytes.substr(pos, end - pos);
        if (FCrLf)
          FRawDoctype.erase(std::remove(FRawDoctype.begin(), FRawDoctype.end(), '\r'), FRawDoctype.end());
      }
    } else if (StartsWith(bytes, pos, "<"))
      break;
    else
      return;
    if (end == std::string::npos || end < pos)
      return;
    pos = end;
  }
  // The end of the file, after the root element, read backwards.
  const std::string &last = whole ? bytes : tailBytes;
  const size_t lowest = whole ? pos : 0;
  std::vector<std::string> tail;
  size_t end = last.size();
  for (;;) {
    size_t q = end;
    while (q > lowest && IsBlank(last[q - 1]))
      --q;
    tail.push_back(last.substr(q, end - q));
    end = q;
    size_t start;
    if (end >= 3 && last.compare(end - 3, 3, "-->") == 0)
      start = last.rfind("<!--", end - 3);
    else if (end >= 2 && last.compare(end - 2, 2, "?>") == 0)
      start = last.rfind("<?", end - 2);
    else
      break;
    if (start == std::string::npos || start <= lowest)
      return;
    end = start;
  }
  gaps.insert(gaps.end(), tail.rbegin(), tail.rend());
  if (FCrLf)
    for (std::string &gap : gaps)
      gap.erase(std::remove(gap.begin(), gap.end(), '\r'), gap.end());
  FTopLevelGaps = std::move(gaps);
}

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
      if (node->children == nullptr && node->_private != StartEndPairMark()) {
        out += "/>";
        return;
      }
      out += '>';
    }
    for (const xmlNode *child = node->children; child != nullptr; child = child->next)
      WriteNode(out, child);
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
    xmlBufferPtr buffer = xmlBufferCreate();
    if (buffer == nullptr)
      throw Exception("Out of memory while writing the document");
    xmlNodeDump(buffer, FDoc, const_cast<xmlNode *>(node), 0, 0);
    out.append(reinterpret_cast<const char *>(xmlBufferContent(buffer)), xmlBufferLength(buffer));
    xmlBufferFree(buffer);
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

  namespace fs = std::filesystem;
  fs::path target(fileName);
  std::error_code ec;
  if (fs::is_symlink(target, ec)) {
    fs::path resolved = fs::canonical(target, ec);
    if (!ec)
      target = resolved;
  }
  fs::path folder = target.parent_path();
  if (folder.empty())
    folder = ".";
  std::string tempName = target.filename().string();
  tempName.insert(0, 1, '.');
  tempName.append(".XXXXXX");
  std::string pattern = (folder / tempName).string();
  auto fail = [&](const std::string &why) {
    return Exception(Format("Cannot save \"%s\": %s", fileName.c_str(), why.c_str()));
  };
  int fd = ::mkstemp(pattern.data());
  if (fd < 0)
    throw fail(std::strerror(errno));
  const std::string temp = pattern;
  auto abandon = [&](int error) {
    ::close(fd);
    ::unlink(temp.c_str());
    return fail(std::strerror(error));
  };
  size_t done = 0;
  while (done < data.size()) {
    ssize_t n = ::write(fd, data.data() + done, data.size() - done);
    if (n < 0 && errno == EINTR)
      continue;
    if (n <= 0)
      throw abandon(n < 0 ? errno : EIO);
    done += static_cast<size_t>(n);
  }
  // Keep the old file's permissions; a new file gets the usual ones.
  struct stat st {};
  mode_t mode;
  if (::stat(target.c_str(), &st) == 0) {
    mode = st.st_mode & 07777;
  } else {
    mode_t mask = ::umask(0);
    ::umask(mask);
    mode = 0666 & ~mask;
  }
  if (::fchmod(fd, mode) != 0 || ::fsync(fd) != 0)
    throw abandon(errno);
  if (::close(fd) != 0) {
    int error = errno;
    ::unlink(temp.c_str());
    throw fail(std::strerror(error));
  }
  if (::rename(temp.c_str(), target.c_str()) != 0) {
    int error = errno;
    ::unlink(temp.c_str());
    throw fail(std::strerror(error));
  }
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
    xmlNode *after = last;
    if (last->prev != nullptr && IsWhitespaceText(last->prev)) {
      xmlNode *spacing = xmlNewDocText(FDoc, last->prev->content);
      if (spacing == nullptr)
        throw Exception("Out of memory while adding a node");
      LinkAfter(after, spacing);
      after = spacing;
    }
    LinkAfter(after, node);
  } else {
    LinkAtEnd(parent, node);
  }
  ResolveNamespace(node);
}

void DomDocument::CopyElementForm(xmlNode *target, const xmlNode *source) {
  if (target == nullptr || source == nullptr || target->type != XML_ELEMENT_NODE ||
      source->type != XML_ELEMENT_NODE)
    return;
  if (source->_private == StartEndPairMark())
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
  xmlUnlinkNode(child);
  KeepAlive(child);
}

void DomDocument::RemoveChildAndIndentation(xmlNode *parent, xmlNode *child) {
  if (child != nullptr && child->parent == parent && child->type != XML_ATTRIBUTE_NODE) {
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
  const bool layout = FDoc->dict != nullptr && !text.empty() && text.size() < 60 &&
                      std::all_of(text.begin(), text.end(), IsBlank);
  xmlNode *node = xmlNewDocTextLen(FDoc, layout ? nullptr : XV(text), static_cast<int>(text.size()));
  if (node == nullptr)
    throw Exception("Out of memory while adding text");
  if (layout) {
    node->content = const_cast<xmlChar *>(xmlDictLookup(FDoc->dict, XV(text), static_cast<int>(text.size())));
    if (node->content == nullptr) {
      xmlFreeNode(node);
      throw Exception("Out of memory while adding text");
    }
  }
  try {
    AppendChildAtEnd(parent, node);
  } catch (...) {
    xmlFreeNode(node);
    throw;
  }
  return node;
}

} // namespace xmlmodel
