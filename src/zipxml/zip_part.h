#pragma once

// The zip container of .xlsx and .ods workbooks, and a streaming XML reader over one of its
// parts, so that a large sheet is parsed as it inflates and never held whole.
//
// The file is untrusted: what its parts inflate to is capped in proportion to the file's size
// (a zip bomb is refused before it fills memory or disk), and any fault of the archive or of the
// XML raises common::Exception naming the part.

#include <cstdint>
#include <exception>
#include <string>
#include <string_view>
#include <vector>

#include <libxml/parser.h>

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

// One part read as a stream of XML nodes. libxml2's SAX2 parser is fed the part a block at a
// time and its events are kept until Next() hands them out, so a large sheet costs one block's
// worth of nodes, never a tree. Next() moves to the next node and returns false at the end;
// malformed XML raises "Malformed XML in PART, line N: reason". The names and values the node
// accessors give last until the following Next().
class TXmlPart {
public:
  TXmlPart(TZipArchive &Archive, const std::string &Part);
  // The same over XML text already in memory (small parts), which the reader keeps.
  TXmlPart(std::string Text, const std::string &Part);
  ~TXmlPart();
  TXmlPart(const TXmlPart &) = delete;
  TXmlPart &operator=(const TXmlPart &) = delete;

  bool Next();
  bool IsElement() const { return Node().Type == kStart; }
  bool IsEnd() const { return Node().Type == kEnd; }
  // Text, CDATA and whitespace alike; neighbouring pieces come as one node.
  bool IsText() const { return Node().Type == kText; }
  // An element with nothing between its tags (<a/> or <a></a>): no end node follows it.
  bool IsEmptyElement() const { return Node().Empty; }
  // The root element has depth 0; an end node has its element's depth, text one more.
  int Depth() const { return Node().Depth; }
  // Local name of an element or end node; never null.
  std::string_view Name() const { return Node().Name; }
  std::string_view NamespaceUri() const { return Node().Ns; }
  // The text of a text node.
  std::string_view Value() const { return Slice(Node().Begin, Node().Size); }
  // Calls F(localName, namespaceUri, value) for every attribute of the current element.
  template <class F> void ForEachAttribute(F &&f) const {
    const TNode &n = Node();
    if (n.Type != kStart)
      return;
    for (uint32_t i = n.Begin; i < n.Begin + n.Size; ++i)
      f(FAttributes[i].Name, FAttributes[i].Ns, Slice(FAttributes[i].Begin, FAttributes[i].Size));
  }
  // Appends the text of the current element's content up to its end (text and CDATA of all
  // descendants) to Text; the reader then stands on the end tag. Nothing for an empty element.
  void AppendElementText(std::string &Text);
  // Skips the current element's content; the reader then stands on its end tag (or stays on an
  // empty element).
  void SkipElement();

  [[noreturn]] void Fail(const std::string &Reason) const;

private:
  enum : uint8_t { kStart, kEnd, kText };
  struct TNode {
    uint8_t Type;
    bool Empty;
    int Depth;
    // Names are the parser's interned strings, which live as long as the parser.
    std::string_view Name, Ns;
    // A start's attributes in FAttributes, a text's bytes in FBytes.
    uint32_t Begin, Size;
    int Line; // where the parser stood when it reported the node
  };
  struct TAttribute {
    std::string_view Name, Ns;
    uint32_t Begin, Size; // the value in FBytes
  };
  const TNode &Node() const { return FNodes[FAt]; }
  std::string_view Slice(uint32_t Begin, uint32_t Size) const { return {FBytes.data() + Begin, Size}; }
  uint32_t Keep(const char *Bytes, size_t Size);
  std::string_view View(const xmlChar *s);
  // Parses blocks until new nodes arrive or the part ends.
  void Fill();
  void Feed(const char *Bytes, int Size, bool Last);

  static void OnStart(void *Self, const xmlChar *Name, const xmlChar *Prefix, const xmlChar *Uri, int NsCount,
                      const xmlChar **Namespaces, int AttributeCount, int Defaulted,
                      const xmlChar **Attributes);
  static void OnEnd(void *Self, const xmlChar *Name, const xmlChar *Prefix, const xmlChar *Uri);
  static void OnText(void *Self, const xmlChar *Text, int Size);
  static void OnError(void *Self, xmlErrorPtr Error);
  template <class F> static void Guarded(void *Self, F &&Body);
  void Open();

  xmlParserCtxtPtr FParser = nullptr;
  std::string FPart;
  std::string FText; // the text of a part read whole
  size_t FTextAt = 0;
  std::string FError;
  int FErrorLine = 0;
  bool FDone = false; // the last block has been fed
  std::exception_ptr FFault;
  // Nodes of the blocks parsed so far and not yet handed out; FAt is the current one.
  std::vector<TNode> FNodes;
  std::vector<TAttribute> FAttributes;
  std::string FBytes;
  size_t FAt = 0;
  int FDepth = 0;
  struct TName {
    const xmlChar *Interned = nullptr;
    std::string_view View;
  };
  TName FNames[64];
  // Reading from the archive.
  TZipArchive *FArchive = nullptr;
  zip_file *FFile = nullptr;
};

} // namespace zipxml
