#include "xmlmodel/xsd_validate.h"

#include <algorithm>
#include <cstring>
#include <filesystem>
#include <cstdio>
#include <memory>
#include <sstream>
#include <string>
#include <string_view>
#include <vector>

#include <libxml/SAX2.h>
#include <libxml/globals.h>
#include <libxml/parser.h>
#include <libxml/parserInternals.h>
#include <libxml/uri.h>
#include <libxml/valid.h>
#include <libxml/xmlIO.h>
#include <libxml/xmlerror.h>
#include <libxml/xmlschemas.h>

#include "common/exception.h"
#include "common/text.h"
#include "xmlmodel/libxml_handles.h"
#include "xmlmodel/node_path.h"

namespace xmlmodel {

namespace fs = std::filesystem;

namespace {

constexpr const char *kXsiNamespace = "http://www.w3.org/2001/XMLSchema-instance";
// A report line in a message box; a whole minified file on one line would not fit.
constexpr std::size_t kMaxSourceText = 1024;
// A list of every error stops here: a document broken throughout would fill the memory with them.
constexpr std::size_t kMaxErrors = 100000;

const xmlChar *X(const char *s) { return reinterpret_cast<const xmlChar *>(s); }
std::string S(const xmlChar *s) { return s == nullptr ? std::string() : reinterpret_cast<const char *>(s); }

std::string StripLineEnd(std::string s) {
  while (!s.empty() && (s.back() == '\n' || s.back() == '\r'))
    s.pop_back();
  return s;
}

// One error as libxml2 gave it: what it says, the file and line it lies on, the node it concerns.
struct RawError {
  std::string Message;
  std::string File; // empty or the file the error lies in
  int Line = 0;
  const xmlNode *Node = nullptr;
};

// The first error met while loading and validating, and, when asked for, every error.
struct FirstError {
  bool Set = false;
  int Code = 0;
  std::string Message;
  std::string File; // empty or the file the error lies in
  int Line = 0;
  bool KeepAll = false;
  std::vector<RawError> All; // every error when KeepAll, at most kMaxErrors of them
  std::size_t Dropped = 0;

  void Add(int code, std::string message, std::string file, int line, const xmlNode *node = nullptr) {
    message = StripLineEnd(std::move(message));
    if (KeepAll) {
      if (All.size() < kMaxErrors)
        All.push_back({message, file, line, node});
      else
        ++Dropped;
    }
    if (Set)
      return;
    Set = true;
    Code = code == 0 ? 1 : code;
    Message = std::move(message);
    File = std::move(file);
    Line = line;
  }
};

// What the entity loader lets through. While the document itself is parsed, external entities
// are refused (their text would land in the document); the DTD its DOCTYPE names and the
// schemas are read, from local files only.
enum class LoadMode { Local, DocumentBody, Dtd };
thread_local LoadMode tlMode = LoadMode::Local;

void CollectError(void *self, xmlErrorPtr error) {
  if (error == nullptr || error->level < XML_ERR_ERROR)
    return;
  // A DTD that cannot be read gets a clearer message once its load has failed.
  if (tlMode == LoadMode::Dtd && error->domain == XML_FROM_IO)
    return;
  // Validating a file without a DOCTYPE is not a failure: it may name schemas instead.
  if (error->code == XML_DTD_NO_DTD)
    return;
  // Lines above 65535 are kept apart from the node's own field.
  const auto *node = static_cast<const xmlNode *>(error->node);
  int line = error->line;
  if (node != nullptr && (node->type == XML_ELEMENT_NODE || node->type == XML_ATTRIBUTE_NODE) && line >= 65535)
    line = static_cast<int>(xmlGetLineNo(node->type == XML_ATTRIBUTE_NODE ? node->parent : node));
  static_cast<FirstError *>(self)->Add(error->code, error->message ? error->message : "Unknown error",
                                       S(reinterpret_cast<const xmlChar *>(error->file)), line, node);
}

// Sends every libxml2 error to a FirstError while alive; the previous handler comes back after.
class ErrorScope {
public:
  explicit ErrorScope(FirstError &first)
      : prev_(xmlStructuredError), prevCtx_(xmlStructuredErrorContext), prevGeneric_(xmlGenericError),
        prevGenericCtx_(xmlGenericErrorContext) {
    xmlSetStructuredErrorFunc(&first, &CollectError);
    // Everything reports through the structured handler; nothing is left for stderr.
    xmlSetGenericErrorFunc(nullptr, &IgnoreGeneric);
  }
  ~ErrorScope() {
    xmlSetStructuredErrorFunc(prevCtx_, prev_);
    xmlSetGenericErrorFunc(prevGenericCtx_, prevGeneric_);
  }
  ErrorScope(const ErrorScope &) = delete;
  ErrorScope &operator=(const ErrorScope &) = delete;

private:
  static void IgnoreGeneric(void *, const char *, ...) {}
  xmlStructuredErrorFunc prev_;
  void *prevCtx_;
  xmlGenericErrorFunc prevGeneric_;
  void *prevGenericCtx_;
};

thread_local std::string tlDocumentFolder; // relative references start here

// libxml2 names files by URI, with %-escapes (a space is %20).
std::string Unescaped(const std::string &uri) {
  if (uri.find('%') == std::string::npos)
    return uri;
  XmlCharHandle plain(reinterpret_cast<xmlChar *>(xmlURIUnescapeString(uri.c_str(), 0, nullptr)));
  return plain ? ToString(plain) : uri;
}

bool HasRemoteScheme(std::string_view location) {
  const auto colon = location.find(':');
  if (colon == std::string_view::npos || colon < 2)
    return false;
  for (std::size_t i = 0; i < colon; ++i) {
    const char c = location[i];
    const bool ok = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') ||
                    (i > 0 && ((c >= '0' && c <= '9') || c == '+' || c == '-' || c == '.'));
    if (!ok)
      return false;
  }
  std::string scheme(location.substr(0, colon));
  std::transform(scheme.begin(), scheme.end(), scheme.begin(),
                 [](unsigned char c) { return std::tolower(c); });
  return scheme != "file";
}

xmlParserInputPtr GuardedLoader(const char *url, const char *id, xmlParserCtxtPtr ctxt) {
  if (tlMode == LoadMode::DocumentBody)
    return nullptr;
  if (url == nullptr)
    return xmlNoNetExternalEntityLoader(url, id, ctxt);
  if (HasRemoteScheme(url))
    return nullptr;
  std::error_code ec;
  std::string local = url;
  if (local.rfind("file://", 0) == 0)
    local.erase(0, 7);
  if (!fs::exists(fs::path(local), ec)) {
    const std::string plain = Unescaped(local);
    if (plain != local && fs::exists(fs::path(plain), ec))
      return xmlNoNetExternalEntityLoader(plain.c_str(), id, ctxt);
  }
  return xmlNoNetExternalEntityLoader(url, id, ctxt);
}

class LoaderScope {
public:
  LoaderScope() : previous_(xmlGetExternalEntityLoader()) { xmlSetExternalEntityLoader(&GuardedLoader); }
  ~LoaderScope() {
    xmlSetExternalEntityLoader(previous_);
    tlMode = LoadMode::Local;
  }
  LoaderScope(const LoaderScope &) = delete;
  LoaderScope &operator=(const LoaderScope &) = delete;

private:
  xmlExternalEntityLoader previous_;
};

// A location as written in the document, as a local path: relative ones against the document's
// folder, file: URLs and %-escapes undone when the plain name does not exist.
fs::path LocalPath(const std::string &location) {
  std::string text = location;
  if (text.size() > 7 && (text.compare(0, 7, "file://") == 0 || text.compare(0, 7, "FILE://") == 0))
    text.erase(0, 7);
  else if (text.size() > 5 && (text.compare(0, 5, "file:") == 0 || text.compare(0, 5, "FILE:") == 0))
    text.erase(0, 5);
  fs::path path(text);
  if (path.is_relative())
    path = fs::path(tlDocumentFolder) / path;
  std::error_code ec;
  if (!fs::exists(path, ec) && text.find('%') != std::string::npos) {
    fs::path unescaped(Unescaped(text));
    if (unescaped.is_relative())
      unescaped = fs::path(tlDocumentFolder) / unescaped;
    if (fs::exists(unescaped, ec))
      path = unescaped;
  }
  return path.lexically_normal();
}

// The DTD named by the DOCTYPE is read (from the document's folder, even when that folder's name
// would not survive URL resolution), and a DTD that cannot be read is an error of its own.
void ExternalSubset(void *ctx, const xmlChar *name, const xmlChar *externalID, const xmlChar *systemID) {
  auto *ctxt = static_cast<xmlParserCtxtPtr>(ctx);
  const LoadMode saved = tlMode;
  tlMode = LoadMode::Dtd;
  std::string resolved;
  const xmlChar *system = systemID;
  if (systemID != nullptr && !HasRemoteScheme(S(systemID))) {
    // As a URI: libxml2 resolves it once more and gives up on a name with spaces.
    XmlCharHandle uri(xmlPathToURI(X(LocalPath(S(systemID)).c_str())));
    resolved = ToString(uri);
    system = X(resolved.c_str());
  }
  xmlSAX2ExternalSubset(ctx, name, externalID, system);
  tlMode = saved;
  if (systemID != nullptr && ctxt != nullptr && ctxt->myDoc != nullptr && ctxt->myDoc->extSubset == nullptr &&
      (ctxt->validate || ctxt->loadsubset)) {
    auto *first = static_cast<FirstError *>(xmlStructuredErrorContext);
    if (xmlStructuredError == &CollectError && first != nullptr) {
      const std::string location = S(systemID);
      first->Add(XML_IO_LOAD_ERROR,
                 HasRemoteScheme(location)
                     ? "DTD location " + location + " is not a local file; remote DTDs are not loaded"
                     : "Cannot load the DTD \"" + location + "\"",
                 {}, -1);
    }
  }
}


// Line `line` (1-based) of the file's bytes, without its terminator.
std::string SourceLine(std::string_view bytes, int line) {
  if (line <= 0)
    return {};
  std::size_t start = 0;
  for (int n = 1; n < line; ++n) {
    const auto next = bytes.find('\n', start);
    if (next == std::string_view::npos)
      return {};
    start = next + 1;
  }
  auto end = bytes.find('\n', start);
  if (end == std::string_view::npos)
    end = bytes.size();
  std::string text(bytes.substr(start, end - start));
  text = StripLineEnd(std::move(text));
  if (text.size() > kMaxSourceText) {
    std::size_t cut = kMaxSourceText;
    while (cut > 0 && (static_cast<unsigned char>(text[cut]) & 0xC0) == 0x80)
      --cut;
    text.resize(cut);
    text += "...";
  }
  // Keep the report valid UTF-8 whatever the file's encoding.
  if (common::Utf16ToUtf8(common::Utf8ToUtf16(text)) != text)
    text = common::Utf16ToUtf8(common::Latin1ToUtf16(text));
  return text;
}

// The line of the first "<!DOCTYPE" in the file, 0 when there is none.
int DoctypeLine(std::string_view bytes) {
  const auto at = bytes.find("<!DOCTYPE");
  if (at == std::string_view::npos)
    return 0;
  return 1 +
         static_cast<int>(std::count(bytes.begin(), bytes.begin() + static_cast<std::ptrdiff_t>(at), '\n'));
}

std::vector<std::string> SplitWhitespace(const std::string &text) {
  std::vector<std::string> words;
  std::istringstream in(text);
  std::string word;
  while (in >> word)
    words.push_back(word);
  return words;
}

std::string XsiAttribute(xmlNode *root, const char *name) {
  return ToString(XmlCharHandle(xmlGetNsProp(root, X(name), X(kXsiNamespace))));
}

// The schemas the root element names: the xsi:schemaLocation pair for the root's namespace and,
// for a root without namespace, xsi:noNamespaceSchemaLocation. When neither fits the root, every
// named schema is used, so a wrong reference fails instead of passing unchecked.
std::vector<std::string> SchemaLocations(xmlNode *root) {
  const std::string rootNs = root->ns != nullptr ? S(root->ns->href) : std::string();
  const std::vector<std::string> pairs = SplitWhitespace(XsiAttribute(root, "schemaLocation"));
  const std::string noNs = XsiAttribute(root, "noNamespaceSchemaLocation");

  std::vector<std::string> chosen;
  for (std::size_t i = 0; i + 1 < pairs.size(); i += 2)
    if (pairs[i] == rootNs)
      chosen.push_back(pairs[i + 1]);
  if (rootNs.empty() && !noNs.empty())
    chosen.push_back(noNs);
  if (chosen.empty()) {
    for (std::size_t i = 0; i + 1 < pairs.size(); i += 2)
      chosen.push_back(pairs[i + 1]);
    if (!noNs.empty())
      chosen.push_back(noNs);
  }
  std::vector<std::string> unique;
  for (auto &location : chosen)
    if (std::find(unique.begin(), unique.end(), location) == unique.end())
      unique.push_back(location);
  return unique;
}

// Validates the document against one schema; fills `first` and returns false on failure. Errors
// inside the schema name the schema file in the reason.
bool ValidateAgainstSchema(xmlDocPtr doc, const std::string &location, FirstError &first) {
  if (HasRemoteScheme(location)) {
    first.Add(XML_IO_NETWORK_ATTEMPT,
              "Schema location " + location + " is not a local file; remote schemas are not loaded", {}, -1);
    return false;
  }
  const fs::path path = LocalPath(location);
  std::error_code ec;
  if (!fs::is_regular_file(path, ec)) {
    first.Add(XML_IO_LOAD_ERROR,
              "Cannot load the schema \"" + location + "\": the file " + path.string() + " does not exist",
              {}, -1);
    return false;
  }

  FirstError schemaError;
  XmlSchemaHandle schema;
  {
    ErrorScope scope(schemaError);
    XmlSchemaParserCtxtHandle parser(xmlSchemaNewParserCtxt(path.c_str()));
    if (parser) {
      xmlSchemaSetParserStructuredErrors(parser.get(), &CollectError, &schemaError);
      schema.reset(xmlSchemaParse(parser.get()));
    }
  }
  if (!schema || schemaError.Set) {
    std::string where = schemaError.File.empty() ? path.string() : Unescaped(schemaError.File);
    if (schemaError.Line > 0)
      where += common::Format(" line %d", schemaError.Line);
    first.Add(schemaError.Set ? schemaError.Code : XML_SCHEMAP_INTERNAL,
              "Cannot load the schema \"" + location +
                  "\": " + (schemaError.Set ? where + ": " + schemaError.Message : "it is not a schema"),
              {}, -1);
    return false;
  }

  XmlSchemaValidCtxtHandle validator(xmlSchemaNewValidCtxt(schema.get()));
  if (!validator) {
    first.Add(XML_ERR_NO_MEMORY, "Out of memory while validating", {}, -1);
    return false;
  }
  xmlSchemaSetValidStructuredErrors(validator.get(), &CollectError, &first);
  const int result = xmlSchemaValidateDoc(validator.get(), doc);
  if (result == 0)
    return true;
  if (result > 0 && first.Set) // the errors said why
    return false;
  first.Add(XML_SCHEMAV_INTERNAL, "The schema validator stopped with an internal error", {}, 0);
  return false;
}

// Where an error is shown in the document: an error inside a DTD or schema says in its reason
// where it lies, and takes the line of the document that names that file.
void PlaceError(const std::string &file, int line, const std::string &documentUrl, int namingLine,
                std::string &reason, int &placedLine) {
  const std::string where = Unescaped(file);
  if (line >= 0 && (where.empty() || where == documentUrl)) {
    placedLine = line;
    return;
  }
  if (!where.empty() && where != documentUrl)
    reason = where + (line > 0 ? common::Format(" line %d", line) : std::string()) + ": " + reason;
  placedLine = namingLine;
}

DomParseError MakeError(const FirstError &first, const std::string &documentUrl, std::string_view bytes,
                        int namingLine) {
  DomParseError error;
  error.ErrorCode = first.Code;
  error.Reason = first.Message;
  PlaceError(first.File, first.Line, documentUrl, namingLine, error.Reason, error.Line);
  // A UTF-16 file is read as text for its source line.
  if (bytes.size() >= 2 &&
      ((bytes[0] == '\xFF' && bytes[1] == '\xFE') || (bytes[0] == '\xFE' && bytes[1] == '\xFF'))) {
    const bool little = bytes[0] == '\xFF';
    std::u16string wide;
    wide.reserve(bytes.size() / 2);
    for (std::size_t i = 2; i + 1 < bytes.size(); i += 2) {
      const auto lo = static_cast<unsigned char>(bytes[little ? i : i + 1]);
      const auto hi = static_cast<unsigned char>(bytes[little ? i + 1 : i]);
      wide.push_back(static_cast<char16_t>(lo | (hi << 8)));
    }
    error.SrcText = SourceLine(common::Utf16ToUtf8(wide), error.Line);
  } else {
    error.SrcText = SourceLine(bytes, error.Line);
  }
  return error;
}

// Validates against every schema the root names; the first error ends it unless every error is
// wanted.
void ValidateAgainstSchemas(xmlDocPtr doc, xmlNode *root, FirstError &first) {
  for (const std::string &location : SchemaLocations(root))
    if (!ValidateAgainstSchema(doc, location, first) && !first.KeepAll)
      break;
}

// The DTD of an in-memory document's DOCTYPE, read as the validating load reads it, checks the
// document; the document is left as it was.
void ValidateAgainstDtd(xmlDocPtr doc, FirstError &first) {
  xmlDtd *internal = doc->intSubset;
  if (internal == nullptr && doc->extSubset == nullptr)
    return;
  LibxmlHandle<xmlFreeDtd> loaded;
  if (doc->extSubset == nullptr && internal->SystemID != nullptr) {
    const std::string location = S(internal->SystemID);
    if (HasRemoteScheme(location)) {
      first.Add(XML_IO_LOAD_ERROR, "DTD location " + location + " is not a local file; remote DTDs are not loaded",
                {}, -1);
      return;
    }
    const fs::path path = LocalPath(location);
    XmlCharHandle uri(xmlPathToURI(X(path.c_str())));
    tlMode = LoadMode::Dtd;
    loaded.reset(xmlParseDTD(internal->ExternalID, uri.get()));
    tlMode = LoadMode::Local;
    if (!loaded) {
      first.Add(XML_IO_LOAD_ERROR, "Cannot load the DTD \"" + location + "\"", {}, -1);
      return;
    }
    doc->extSubset = loaded.get();
  }
  LibxmlHandle<xmlFreeValidCtxt> context(xmlNewValidCtxt());
  if (context)
    xmlValidateDocument(context.get(), doc);
  if (loaded)
    doc->extSubset = nullptr;
  if (!context)
    first.Add(XML_ERR_NO_MEMORY, "Out of memory while validating", {}, -1);
}

// Every error kept, placed in the document, with the paths of their nodes while the document
// is there to give them.
ValidationErrors ListErrors(const FirstError &first, const std::string &documentUrl, int namingLine,
                            bool haveDocument, const ProgressFn &progress) {
  ValidationErrors list;
  list.NotListed = first.Dropped;
  list.Errors.reserve(first.All.size());
  NodePathBuilder paths;
  std::size_t done = 0;
  for (const RawError &raw : first.All) {
    ValidationError error;
    error.Message = raw.Message;
    // A node made in memory has no line: the nearest one above it that has one stands for it.
    const int line = raw.Line <= 0 && haveDocument ? NodeLine(raw.Node) : raw.Line;
    PlaceError(raw.File, line, documentUrl, namingLine, error.Message, error.Line);
    if (haveDocument && raw.Node != nullptr) {
      error.Node = const_cast<xmlNode *>(raw.Node);
      error.Path = paths.Path(raw.Node);
    }
    list.Errors.push_back(std::move(error));
    if (progress && ++done % 4096 == 0 &&
        !progress(0.8 + 0.2 * static_cast<double>(done) / static_cast<double>(first.All.size()))) {
      list.Cancelled = true;
      break;
    }
  }
  return list;
}

// The file handed to the parser as it reads, so that progress can be told and the load
// cancelled.
struct FileInput {
  std::FILE *File;
  std::uintmax_t Size;
  std::uintmax_t Offset;
  const ProgressFn *Progress;
  bool Cancelled;
  bool Failed = false;

  static int Read(void *context, char *buffer, int length) {
    auto *self = static_cast<FileInput *>(context);
    if (*self->Progress &&
        !(*self->Progress)(self->Size == 0 ? 1.0 : static_cast<double>(self->Offset) / static_cast<double>(self->Size))) {
      self->Cancelled = true;
      return -1;
    }
    const std::size_t n = std::fread(buffer, 1, static_cast<std::size_t>(length), self->File);
    if (n == 0 && std::ferror(self->File)) {
      self->Failed = true;
      return -1;
    }
    self->Offset += n;
    return static_cast<int>(n);
  }
};

std::string ReadWholeFile(const fs::path &path) {
  std::string bytes;
  std::unique_ptr<std::FILE, decltype(&std::fclose)> file(std::fopen(path.c_str(), "rb"), &std::fclose);
  if (!file)
    return bytes;
  char buffer[1 << 16];
  std::size_t n;
  while ((n = std::fread(buffer, 1, sizeof buffer, file.get())) > 0)
    bytes.append(buffer, n);
  return bytes;
}

} // namespace

XsdValidation::~XsdValidation() {
  if (Doc != nullptr)
    xmlFreeDoc(Doc);
}

XsdValidation::XsdValidation(XsdValidation &&other) noexcept
    : Doc(other.Doc), Error(std::move(other.Error)), All(std::move(other.All)) {
  other.Doc = nullptr;
}

xmlDocPtr XsdValidation::Release() {
  xmlDocPtr doc = Doc;
  Doc = nullptr;
  return doc;
}

XsdValidation ValidateXmlFile(const std::string &fileName, bool allErrors, const ProgressFn &progress) {
  InitXmlLibrary();
  XsdValidation outcome;

  const fs::path path(fileName);
  std::error_code ec;
  if (fileName.empty() || !fs::exists(path, ec) || fs::is_directory(path, ec)) {
    outcome.Error.ErrorCode = XML_IO_ENOENT;
    outcome.Error.Reason = fileName.empty()             ? std::string("No file name given")
                           : fs::is_directory(path, ec) ? "\"" + fileName + "\" is a folder, not a file"
                                                        : "The file \"" + fileName + "\" does not exist";
    return outcome;
  }
  // The file is read once, as the parser goes; only a failure reads it again for its line.
  std::unique_ptr<std::FILE, decltype(&std::fclose)> file(std::fopen(path.c_str(), "rb"), &std::fclose);
  if (!file) {
    outcome.Error.ErrorCode = XML_IO_EACCES;
    outcome.Error.Reason = "The file \"" + fileName + "\" cannot be read";
    return outcome;
  }
  const std::uintmax_t size = fs::file_size(path, ec);

  const fs::path absolute = fs::absolute(path, ec).lexically_normal();
  const std::string url = absolute.string();
  tlDocumentFolder = absolute.parent_path().string();

  FirstError first;
  first.KeepAll = allErrors;
  LoaderScope loader;
  XmlDocHandle doc;
  FileInput input{file.get(), ec ? 0 : size, 0, &progress, false};
  {
    ErrorScope scope(first);
    XmlParserCtxtHandle ctxt(xmlNewParserCtxt());
    if (!ctxt)
      throw common::Exception("Out of memory while loading " + fileName);
    ctxt->sax->externalSubset = &ExternalSubset;
    tlMode = LoadMode::DocumentBody;
    doc.reset(xmlCtxtReadIO(ctxt.get(), &FileInput::Read, nullptr, &input, url.c_str(), nullptr,
                            XML_PARSE_NONET | XML_PARSE_BIG_LINES | XML_PARSE_DTDLOAD | XML_PARSE_DTDVALID));
    tlMode = LoadMode::Local;
    if (input.Cancelled || input.Failed) {
      doc.reset();
      outcome.Error = input.Failed ? DomParseError{XML_IO_EACCES, "The file \"" + fileName + "\" cannot be read", "", 0}
                                   : DomParseError{XML_IO_EIO, "Cancelled", "", 0};
      outcome.All.Cancelled = input.Cancelled;
      return outcome;
    }
    if (!doc && !first.Set)
      first.Add(XML_ERR_DOCUMENT_EMPTY, "The file is not well-formed", {}, 0);
  }

  // An error of the parse that lies in the DTD takes the DOCTYPE's line, a schema's the root's.
  const bool parseFailed = first.Set;
  int namingLine = 0;
  // Every error wanted: the schemas are checked even when the DTD is not met.
  if ((!parseFailed || allErrors) && doc) {
    xmlNode *root = xmlDocGetRootElement(doc.get());
    if (root != nullptr) {
      if (!parseFailed)
        namingLine = static_cast<int>(xmlGetLineNo(root));
      ErrorScope scope(first);
      ValidateAgainstSchemas(doc.get(), root, first);
    }
  }

  if (first.Set) {
    const std::string bytes = ReadWholeFile(path);
    if (parseFailed)
      namingLine = DoctypeLine(bytes);
    outcome.Error = MakeError(first, url, bytes, namingLine);
    // The nodes of a document that did not parse are gone.
    outcome.All = ListErrors(first, url, namingLine, doc != nullptr, {});
    for (ValidationError &error : outcome.All.Errors)
      error.Node = nullptr;
    return outcome;
  }
  outcome.Doc = doc.release();
  return outcome;
}

ValidationErrors ValidateDocument(const DomDocument &document, const std::string &fileName,
                                  const ProgressFn &progress) {
  InitXmlLibrary();
  xmlDocPtr doc = document.Doc();
  xmlNode *root = doc != nullptr ? xmlDocGetRootElement(doc) : nullptr;
  ValidationErrors none;
  if (root == nullptr) {
    none.Errors.push_back({0, "The document has no root element", nullptr, {}});
    return none;
  }
  document.UnfoldAllLayout(); // the validators read the whitespace between elements as nodes
  std::error_code ec;
  const fs::path absolute =
      fileName.empty() ? fs::current_path(ec) / "unnamed.xml" : fs::absolute(fs::path(fileName), ec).lexically_normal();
  tlDocumentFolder = absolute.parent_path().string();
  const std::string url = doc->URL != nullptr ? Unescaped(S(doc->URL)) : absolute.string();

  FirstError first;
  first.KeepAll = true;
  LoaderScope loader;
  const auto report = [&](double done) { return !progress || progress(done); };
  {
    ErrorScope scope(first);
    ValidateAgainstDtd(doc, first);
    if (!report(0.2)) {
      none.Cancelled = true;
      return none;
    }
    ValidateAgainstSchemas(doc, root, first);
  }
  if (!report(0.8)) {
    none.Cancelled = true;
    return none;
  }
  const int namingLine = static_cast<int>(xmlGetLineNo(root));
  return ListErrors(first, url, namingLine, true, progress);
}

ValidationErrors ValidateDocument(const TOrbMainXML &document, const ProgressFn &progress) {
  return ValidateDocument(document.XMLDoc(), document.FileName, progress);
}

std::string ValidationReportText(const std::string &fileName, const DomParseError &error) {
  if (error.ErrorCode == 0)
    return {};
  return "Validation failed on " + fileName + "\r\n=====================\r\nReason: " + error.Reason +
         "\r\nSource: " + error.SrcText + "\r\nLine: " + std::to_string(error.Line);
}

void TOrbMainXSDValidate::Load() {
  ValidationReport.clear();
  XsdValidation outcome = ValidateXmlFile(FileName);
  if (outcome.Error.ErrorCode == 0) {
    InstallDocument(outcome.Release(), FileName);
    XMLDoc().SetParseError(DomParseError{});
    return;
  }
  InstallDocument(nullptr, FileName);
  XMLDoc().SetParseError(outcome.Error);
  ValidationReport = ValidationReportText(FileName, outcome.Error);
}

} // namespace xmlmodel
