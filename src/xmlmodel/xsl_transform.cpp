#include "xmlmodel/xsl_transform.h"

#include <cstdarg>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include <libxml/globals.h>
#include <libxml/parser.h>
#include <libxml/xmlIO.h>
#include <libxml/xmlerror.h>
#include <libxslt/security.h>
#include <libxslt/transform.h>
#include <libxslt/xsltInternals.h>
#include <libxslt/xsltutils.h>

#include "common/exception.h"
#include "xmlmodel/dom.h"
#include "xmlmodel/libxml_handles.h"

namespace xmlmodel {

namespace {

using StylesheetHandle = LibxmlHandle<xsltFreeStylesheet>;
using TransformContextHandle = LibxmlHandle<xsltFreeTransformContext>;
using SecurityPrefsHandle = LibxmlHandle<xsltFreeSecurityPrefs>;

std::string StripLineEnd(std::string s) {
  while (!s.empty() && (s.back() == '\n' || s.back() == '\r'))
    s.pop_back();
  return s;
}

// Collects what libxml2 and libxslt report while it is alive and puts the previous handlers back
// afterwards. libxslt writes its messages as printf fragments, so they are joined up to the
// newline.
class ErrorCapture {
public:
  ErrorCapture()
      : prevStructured_(xmlStructuredError), prevStructuredCtx_(xmlStructuredErrorContext),
        prevGeneric_(xmlGenericError), prevGenericCtx_(xmlGenericErrorContext), prevXslt_(xsltGenericError),
        prevXsltCtx_(xsltGenericErrorContext) {
    xmlSetStructuredErrorFunc(this, &ErrorCapture::OnStructured);
    xmlSetGenericErrorFunc(this, &ErrorCapture::OnGeneric);
    xsltSetGenericErrorFunc(this, &ErrorCapture::OnGeneric);
  }
  ~ErrorCapture() {
    xmlSetStructuredErrorFunc(prevStructuredCtx_, prevStructured_);
    xmlSetGenericErrorFunc(prevGenericCtx_, prevGeneric_);
    xsltSetGenericErrorFunc(prevXsltCtx_, prevXslt_);
  }
  ErrorCapture(const ErrorCapture &) = delete;
  ErrorCapture &operator=(const ErrorCapture &) = delete;

  // The errors in order (at most three, or the first message when there was no error). libxslt
  // puts where an error lies on one line and what it is on the next, so those are joined.
  std::string First() const {
    std::vector<Message> all = messages_;
    if (!pending_.empty())
      all.push_back({StripLineEnd(pending_), true});
    std::vector<std::string> parts;
    for (std::size_t i = 0; i < all.size() && parts.size() < 3; ++i) {
      if (!all[i].isError || all[i].text.rfind("xsltParseStylesheetFile : cannot parse", 0) == 0)
        continue;
      std::string text = all[i].text;
      if ((text.rfind("compilation error", 0) == 0 || text.rfind("runtime error", 0) == 0) &&
          i + 1 < all.size())
        text += ": " + all[++i].text;
      parts.push_back(text);
    }
    if (parts.empty())
      return all.empty() ? std::string() : all.front().text;
    std::string joined = parts.front();
    for (std::size_t i = 1; i < parts.size(); ++i)
      joined += "; " + parts[i];
    return joined;
  }

private:
  struct Message {
    std::string text;
    bool isError;
  };

  static void OnStructured(void *self, xmlErrorPtr error) {
    auto *capture = static_cast<ErrorCapture *>(self);
    if (error == nullptr || error->message == nullptr)
      return;
    std::string text = StripLineEnd(error->message);
    if (error->file != nullptr && error->line > 0)
      text = common::Format("%s line %d: %s", error->file, error->line, text.c_str());
    capture->Add(text, error->level >= XML_ERR_ERROR);
  }

  static void OnGeneric(void *self, const char *fmt, ...) {
    auto *capture = static_cast<ErrorCapture *>(self);
    char buffer[2048];
    va_list args;
    va_start(args, fmt);
    std::vsnprintf(buffer, sizeof buffer, fmt, args);
    va_end(args);
    capture->pending_ += buffer;
    std::string::size_type end;
    while ((end = capture->pending_.find('\n')) != std::string::npos) {
      std::string line = capture->pending_.substr(0, end);
      capture->pending_.erase(0, end + 1);
      // libxslt announces some errors with a bare "error" line before the real text.
      if (!line.empty() && line != "error")
        capture->Add(line, line.rfind("warning", 0) != 0 && line.find(": warning") == std::string::npos);
    }
  }

  void Add(const std::string &text, bool isError) {
    if (!text.empty() && messages_.size() < 100)
      messages_.push_back({text, isError});
  }

  std::vector<Message> messages_;
  std::string pending_;
  xmlStructuredErrorFunc prevStructured_;
  void *prevStructuredCtx_;
  xmlGenericErrorFunc prevGeneric_;
  void *prevGenericCtx_;
  xmlGenericErrorFunc prevXslt_;
  void *prevXsltCtx_;
};

// No external entity of the input is pulled in (their text would otherwise land in the result)
// and nothing is ever fetched from the network.
xmlParserInputPtr RefuseExternal(const char *, const char *, xmlParserCtxtPtr) { return nullptr; }

class EntityLoaderScope {
public:
  explicit EntityLoaderScope(xmlExternalEntityLoader loader) : previous_(xmlGetExternalEntityLoader()) {
    xmlSetExternalEntityLoader(loader);
  }
  ~EntityLoaderScope() { xmlSetExternalEntityLoader(previous_); }
  EntityLoaderScope(const EntityLoaderScope &) = delete;
  EntityLoaderScope &operator=(const EntityLoaderScope &) = delete;

private:
  xmlExternalEntityLoader previous_;
};

std::string Reason(const ErrorCapture &errors, const std::string &fallback) {
  std::string reason = errors.First();
  return reason.empty() ? fallback : reason;
}

void CheckFile(const std::string &fileName, const char *what) {
  if (fileName.empty())
    throw common::Exception(common::Format("No %s file name given", what));
  std::error_code ec;
  if (!std::filesystem::is_regular_file(std::filesystem::path(fileName), ec))
    throw common::Exception(common::Format("The %s file \"%s\" does not exist", what, fileName.c_str()));
}

XmlDocHandle ReadInput(const std::string &fileName) {
  std::ifstream in(fileName, std::ios::binary);
  if (!in)
    throw common::Exception(common::Format("Cannot open the XML file \"%s\"", fileName.c_str()));
  std::string bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  if (bytes.size() > static_cast<std::size_t>(INT32_MAX))
    throw common::Exception(common::Format("The XML file \"%s\" is too large", fileName.c_str()));

  ErrorCapture errors;
  EntityLoaderScope noExternals(&RefuseExternal);
  // Entities are replaced as the transformation needs them; the loader above keeps external ones
  // empty.
  const std::string url = std::filesystem::absolute(std::filesystem::path(fileName)).string();
  XmlDocHandle doc(xmlReadMemory(bytes.data(), static_cast<int>(bytes.size()), url.c_str(), nullptr,
                           XML_PARSE_NONET | XML_PARSE_BIG_LINES | XML_PARSE_NOENT));
  if (!doc)
    throw common::Exception(common::Format("Cannot load the XML file \"%s\": %s", fileName.c_str(),
                                           Reason(errors, "not well-formed").c_str()));
  return doc;
}

} // namespace

TOrbXSLTransform::TOrbXSLTransform() { InitXmlLibrary(); }

TOrbXSLTransform::~TOrbXSLTransform() = default;

void TOrbXSLTransform::Transform(const std::string &XMLFileName, const std::string &XSLFileName) {
  // The stylesheet is loaded and compiled before the input is read.
  CheckFile(XSLFileName, "stylesheet");
  EntityLoaderScope noNetwork(&xmlNoNetExternalEntityLoader);
  StylesheetHandle style;
  {
    ErrorCapture errors;
    style.reset(xsltParseStylesheetFile(reinterpret_cast<const xmlChar *>(XSLFileName.c_str())));
    if (!style || style->errors > 0)
      throw common::Exception(common::Format("Cannot load the stylesheet \"%s\": %s", XSLFileName.c_str(),
                                             Reason(errors, "it does not compile").c_str()));
  }

  CheckFile(XMLFileName, "XML");
  XmlDocHandle source = ReadInput(XMLFileName);

  ErrorCapture errors;
  SecurityPrefsHandle prefs(xsltNewSecurityPrefs());
  TransformContextHandle context(
      xsltNewTransformContext(style.get(), source.get()));
  if (!prefs || !context)
    throw common::Exception("Out of memory while preparing the XSL transformation");
  // A stylesheet may read local files (document()), but never writes or goes on the network.
  for (xsltSecurityOption option : {XSLT_SECPREF_WRITE_FILE, XSLT_SECPREF_CREATE_DIRECTORY,
                                    XSLT_SECPREF_READ_NETWORK, XSLT_SECPREF_WRITE_NETWORK})
    xsltSetSecurityPrefs(prefs.get(), option, xsltSecurityForbid);
  if (xsltSetCtxtSecurityPrefs(prefs.get(), context.get()) != 0)
    throw common::Exception("Cannot set the security options of the XSL transformation");

  XmlDocHandle result(xsltApplyStylesheetUser(style.get(), source.get(), nullptr, nullptr, nullptr, context.get()));
  if (!result || context->state != XSLT_STATE_OK)
    throw common::Exception(common::Format("XSL transformation of \"%s\" with \"%s\" failed: %s",
                                           XMLFileName.c_str(), XSLFileName.c_str(),
                                           Reason(errors, "the stylesheet stopped the run").c_str()));

  // The result comes back as UTF-8 text whatever encoding the stylesheet asks for.
  xmlFree(const_cast<xmlChar *>(style->encoding));
  style->encoding = xmlStrdup(reinterpret_cast<const xmlChar *>("UTF-8"));
  xmlChar *bytes = nullptr;
  int length = 0;
  const int saved = xsltSaveResultToString(&bytes, &length, result.get(), style.get());
  XmlCharHandle buffer(bytes);
  if (saved != 0)
    throw common::Exception(common::Format("Cannot write the result of the XSL transformation: %s",
                                           Reason(errors, "serialisation failed").c_str()));
  Output.assign(buffer ? reinterpret_cast<const char *>(buffer.get()) : "",
                buffer ? static_cast<std::size_t>(length) : 0);
}

} // namespace xmlmodel
