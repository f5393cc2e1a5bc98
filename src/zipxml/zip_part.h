#pragma once

// The zip container of .xlsx and .ods workbooks, and libxml2's streaming reader over one of its
// parts, so that a large sheet is parsed as it inflates and never held whole.
//
// The file is untrusted: what its parts inflate to is capped in proportion to the file's size
// (a zip bomb is refused before it fills memory or disk), and any fault of the archive or of the
// XML raises common::Exception naming the part.

#include <cstdint>
#include <string>
#include <string_view>

#include <libxml/xmlreader.h>

struct zip;
struct zip_file;

namespace zipxml {

class TZipArchive {
public:
  // Opens the archive (path in UTF-8); a file that is not a sound zip archive raises
  // "The file is not a readable zip archive (...)".
  explicit TZipArchive(const std::string &Path);
  ~TZipArchive();
  TZipArchive(const TZipArchive &) = delete;
  TZipArchive &operator=(const TZipArchive &) = delete;

  bool Has(const std::string &Part) const;
  // The whole of a small part; "The workbook has no part NAME" when it is missing.
  std::string ReadPart(const std::string &Part);

  // Inflated bytes all parts together may reach: a fixed room plus a multiple of the file size
  // that no real workbook's XML needs.
  uint64_t InflateLimit() const { return FLimit; }

private:
  friend class TXmlPart;
  zip_file *OpenPart(const std::string &Part);
  // Reads up to Size bytes of an open part, counting them against the limit.
  int64_t ReadSome(zip_file *File, const std::string &Part, char *Buffer, uint64_t Size);

  zip *FArchive = nullptr;
  uint64_t FLimit = 0;
  uint64_t FInflated = 0;
};

// libxml2's streaming reader over one part. Next() moves to the next node and returns false at
// the end; malformed XML raises "Malformed XML in PART, line N: reason".
class TXmlPart {
public:
  TXmlPart(TZipArchive &Archive, const std::string &Part);
  // The same over XML text already in memory (small parts), which the reader keeps.
  TXmlPart(std::string Text, const std::string &Part);
  ~TXmlPart();
  TXmlPart(const TXmlPart &) = delete;
  TXmlPart &operator=(const TXmlPart &) = delete;

  bool Next();
  xmlTextReaderPtr Reader() const { return FReader; }
  int Type() const { return xmlTextReaderNodeType(FReader); }
  bool IsElement() const { return Type() == XML_READER_TYPE_ELEMENT; }
  bool IsEnd() const { return Type() == XML_READER_TYPE_END_ELEMENT; }
  bool IsText() const {
    const int t = Type();
    return t == XML_READER_TYPE_TEXT || t == XML_READER_TYPE_CDATA ||
           t == XML_READER_TYPE_SIGNIFICANT_WHITESPACE || t == XML_READER_TYPE_WHITESPACE;
  }
  bool IsEmptyElement() const { return xmlTextReaderIsEmptyElement(FReader) == 1; }
  int Depth() const { return xmlTextReaderDepth(FReader); }
  // Local name of the node; never null.
  std::string_view Name() const { return View(xmlTextReaderConstLocalName(FReader)); }
  std::string_view NamespaceUri() const { return View(xmlTextReaderConstNamespaceUri(FReader)); }
  std::string_view Value() const { return View(xmlTextReaderConstValue(FReader)); }
  // Calls F(localName, namespaceUri, value) for every attribute of the current element.
  template <class F> void ForEachAttribute(F &&f) {
    if (xmlTextReaderMoveToFirstAttribute(FReader) != 1)
      return;
    do
      f(Name(), NamespaceUri(), Value());
    while (xmlTextReaderMoveToNextAttribute(FReader) == 1);
    xmlTextReaderMoveToElement(FReader);
  }
  // The text of the current element's content up to its end (text and CDATA of all
  // descendants); the reader then stands on the end tag. Empty for an empty element.
  std::string ElementText();
  // Skips the current element's content; the reader then stands on its end tag (or stays on an
  // empty element).
  void SkipElement();

  [[noreturn]] void Fail(const std::string &Reason) const;

private:
  static std::string_view View(const xmlChar *s) {
    return s ? std::string_view(reinterpret_cast<const char *>(s)) : std::string_view();
  }
  static void OnError(void *Self, xmlErrorPtr Error);
  void Open();

  xmlTextReaderPtr FReader = nullptr;
  std::string FPart;
  std::string FText; // the text of a part read whole
  std::string FError;
  int FErrorLine = 0;
  // Reading from the archive.
  TZipArchive *FArchive = nullptr;
  zip_file *FFile = nullptr;
  // The archive's fault while libxml2 asked for bytes, thrown again once libxml2 has returned.
  std::string FReadError;
};

} // namespace zipxml
