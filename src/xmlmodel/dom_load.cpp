// The layout-keeping load: parses a file and records what a save needs to give its layout back
// (raw start tags, <a></a> pairs, the declaration, line ends, top-level whitespace).

#include "xmlmodel/dom.h"

#include "common/exception.h"
#include "xmlmodel/dom_internal.h"

#include <libxml/SAX2.h>
#include <libxml/parser.h>
#include <libxml/parserInternals.h>
#include <libxml/xmlIO.h>
#include <libxml/xmlerror.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <set>
#include <unordered_map>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace xmlmodel {

using common::Exception;
using common::Format;
using namespace dom_detail;

namespace {

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

// What the load's own SAX handlers record, reached through the parser's _private.
struct LoadState {
  std::unordered_map<const xmlNode *, std::string> *RawTags;
  std::set<FoldedLayout> *Layouts;
  const FoldedLayout *Last = nullptr; // most elements share their neighbour's layout
};

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
  auto *state = static_cast<LoadState *>(ctxt->_private);
  if (state == nullptr || (*cur != '>' && !(cur[0] == '/' && cur[1] == '>')))
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
  (*state->RawTags)[ctxt->node] = std::move(tag);
}

// Folds the element when its children are each preceded by the same whitespace and the last is
// followed by whitespace: the text nodes go, and the element points at their layout.
void Fold(xmlNode *element, LoadState &state) {
  const xmlNode *text = element->children;
  if (text == nullptr || text == element->last || !IsWhitespaceText(text))
    return;
  const xmlChar *before = text->content;
  for (const xmlNode *child = text->next; child != nullptr; child = text->next) {
    if (text->content != before && !xmlStrEqual(text->content, before))
      return;
    if (child->type == XML_TEXT_NODE || child->type == XML_CDATA_SECTION_NODE)
      return;
    text = child->next;
    if (text == nullptr || !IsWhitespaceText(text))
      return;
  }
  FoldedLayout layout{S(before), S(text->content)};
  if (state.Last == nullptr || *state.Last != layout)
    state.Last = &*state.Layouts->insert(std::move(layout)).first;
  for (xmlNode *child = element->children; child != nullptr;) {
    xmlNode *next = child->next;
    if (child->type == XML_TEXT_NODE) {
      xmlUnlinkNode(child);
      xmlFreeNode(child);
    }
    child = next;
  }
  element->_private = const_cast<FoldedLayout *>(state.Last);
}

void EndElementFolding(void *context, const xmlChar *localname, const xmlChar *prefix, const xmlChar *uri) {
  auto *ctxt = static_cast<xmlParserCtxtPtr>(context);
  xmlNode *element = ctxt != nullptr ? ctxt->node : nullptr;
  xmlSAX2EndElementNs(context, localname, prefix, uri);
  // Not inside an entity's replacement text (depth > 0), whose nodes libxml2 itself reads.
  auto *state = ctxt != nullptr ? static_cast<LoadState *>(ctxt->_private) : nullptr;
  if (element != nullptr && element->type == XML_ELEMENT_NODE && ctxt->depth == 0 && state != nullptr &&
      ctxt->wellFormed)
    Fold(element, *state);
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


} // namespace

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
  // whatever a caller asks for; whitespace is kept so that a save keeps the layout. Short texts
  // are stored inside their node rather than in a block of their own: a large document has
  // millions of them.
  const int options = (XML_PARSE_NONET | XML_PARSE_BIG_LINES | XML_PARSE_COMPACT | extraOptions) &
                      ~(XML_PARSE_NOENT | XML_PARSE_HUGE | XML_PARSE_RECOVER | XML_PARSE_NOBLANKS);
  xmlDocPtr doc = nullptr;
  bool wellFormed = false;
  ErrorCapture capture;
  {
    xmlParserCtxtPtr ctxt = xmlNewParserCtxt();
    if (ctxt == nullptr)
      throw Exception("Cannot create an XML parser");
    LoadState state{&FRawTags, &FFoldedLayouts};
    ctxt->sax->startElementNs = &StartElementMarking;
    ctxt->sax->endElementNs = &EndElementFolding;
    ctxt->_private = &state;
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
    FFoldedLayouts.clear();
    if (FParseError.ErrorCode == 0)
      FParseError = {XML_ERR_DOCUMENT_EMPTY, "Document is empty", "", 1};
    return false;
  }
  xmlFreeDoc(FDoc);
  FDoc = doc;
  FFolded = !FFoldedLayouts.empty();
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

} // namespace xmlmodel
