#pragma once

// A thin typed layer over libxml2: the few DOM services the document object and the item tree
// rely on. Node types are given in the W3C numbering, names as the W3C DOM gives them, text as
// UTF-8. Failures throw common::Exception with an English message.

#include <libxml/tree.h>

#include <compare>
#include <set>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

namespace xmlmodel {

// W3C DOM node type numbers.
enum DomNodeType : int {
  ntReserved = 0,
  ntElement = 1,
  ntAttribute = 2,
  ntText = 3,
  ntCData = 4,
  ntEntityRef = 5,
  ntEntity = 6,
  ntProcessingInstr = 7,
  ntComment = 8,
  ntDocument = 9,
  ntDocType = 10,
  ntDocFragment = 11,
  ntNotation = 12,
};

// The outcome of the last load: ErrorCode 0 means none. Line is 1-based (0 for I/O errors).
struct DomParseError {
  int ErrorCode = 0;
  std::string Reason;  // the parser's message, without a trailing line break
  std::string SrcText; // the text of the offending source line, when known
  int Line = 0;
};

class DomInputFile;
class DomWriter;

// The whitespace of an element whose children the source laid out regularly: Before stands before
// every child, End before the end tag. The layout-keeping load keeps it here (once per document
// for all the elements that share it) instead of as text nodes, which are a third of a large
// document's nodes. Such an element is "folded"; saving and the text of nodes give the whitespace
// back as if the nodes were there, and whatever needs them as nodes unfolds the element first.
struct FoldedLayout {
  std::string Before;
  std::string End;
  auto operator<=>(const FoldedLayout &) const = default;
};

// Where a detached node stood, so that DomDocument::Restore can put it back exactly: its parent
// (the element, for an attribute), the sibling that followed it, the indentation taken out with
// it, and the element's start tag as the source wrote it, when the change dropped that.
struct DomPlace {
  xmlNode *Node = nullptr;
  xmlNode *Parent = nullptr;
  xmlNode *Next = nullptr;
  xmlNode *Spacing = nullptr;
  const FoldedLayout *Layout = nullptr; // the parent's, when it was folded
  bool HadRawTag = false;
  std::string RawTag;
};

// What a text change replaced, so that DomDocument::RestoreText puts it back exactly.
struct DomTextChange {
  xmlNode *Node = nullptr;
  std::vector<xmlNode *> OldChildren; // elements and attributes: the children replaced
  xmlNode *NewText = nullptr;         // the text node that replaced them, if any
  std::string OldContent;             // other kinds: the content replaced
  bool HadRawTag = false;
  std::string RawTag;
};

// Puts the whitespace of a folded element (of any DomDocument) back as text nodes; nothing for
// other nodes. Below: the node and every element under it.
void DomUnfoldLayout(xmlNode *element);
void DomUnfoldLayoutBelow(xmlNode *node);
// The node's line in its source, as xmlGetLineNo gives it: past line 65535 libxml2 takes an
// element's line from its first child, which for a folded element is not the whitespace.
long DomLineNo(const xmlNode *node);

// Initialises libxml2 once per process: no network access for any entity, DTD or schema load.
// Every DomDocument calls it; callers that use libxml2 before making one may call it too.
void InitXmlLibrary();

// Read-only node queries. They accept any node of a DomDocument.
std::string DomNodeName(const xmlNode *node);
// The same name written into out (replacing its content), which keeps its capacity between calls.
void DomGetNodeName(const xmlNode *node, std::string &out);
int DomNodeType(const xmlNode *node);
// The node's text: for elements and attributes the joined text of all text and CDATA
// descendants; for text, CDATA, comments and processing instructions their content. With a
// limit, the joining stops once that many bytes are there (the result may run past it).
std::string DomNodeText(const xmlNode *node, std::size_t limit = std::string::npos);
bool DomHasChildNodes(const xmlNode *node);
// The first node of the node's child list or attribute map (nullptr when there is none); the
// rest follow through xmlNode::next. Only elements have attributes.
xmlNode *DomFirstChild(const xmlNode *node);
xmlNode *DomFirstAttribute(const xmlNode *node);

// One DOM document. Owns the libxml2 document and every node taken out of it: a removed node is
// unlinked, never freed, until the document itself is destroyed, so a pointer to it stays valid.
class DomDocument {
public:
  DomDocument(); // an empty document without a root element
  ~DomDocument();
  DomDocument(const DomDocument &) = delete;
  DomDocument &operator=(const DomDocument &) = delete;

  // Parses the file. On failure the previous content is dropped, the document has no root
  // element, LastParseError() describes the first error and false is returned; nothing throws.
  // extraOptions are added to the safe defaults (e.g. XML_PARSE_DTDLOAD | XML_PARSE_DTDVALID);
  // errors of a validating parse that still gives a tree are reported too, with true.
  bool Load(const std::string &fileName, int extraOptions = 0);
  // Takes ownership of a document parsed elsewhere; sourceFileName (if any) is read to keep
  // its XML declaration and line ends on save. Previous content is dropped (see Load).
  void Install(xmlDocPtr doc, const std::string &sourceFileName = {});
  // Writes the document as UTF-8 through a temporary file in the same folder that replaces the
  // target only when complete: a failed save leaves the old file as it was.
  void Save(const std::string &fileName) const;
  // The serialised document exactly as Save would write it.
  std::string SaveToString() const;
  // Unfolds every element, in the tree and among the nodes taken out of it, for code that reads
  // the tree's whitespace as nodes (XPath, validation). Changes no byte that a save writes.
  void UnfoldAllLayout() const;

  const DomParseError &LastParseError() const { return FParseError; }
  void SetParseError(const DomParseError &error) { FParseError = error; }

  xmlDocPtr Doc() const { return FDoc; }
  xmlNode *DocumentElement() const;

  // New detached nodes. Elements and attributes need a valid XML name (prefix:local allowed);
  // text, CDATA and comments ignore the name; a processing instruction takes it as its target.
  // Types 6, 9, 10, 12 and numbers outside 1..12 are refused, and so is a reference to an
  // entity the document does not declare. Type 2 is passed on to CreateAttribute.
  xmlNode *CreateNode(int nodeType, const std::string &name);
  xmlNode *CreateAttribute(const std::string &name);
  // Whether an entity reference to name may be created (declared here, or predefined).
  bool DeclaresEntity(const std::string &name) const;
  // Frees a node made by CreateNode/CreateAttribute that was never linked anywhere.
  void DiscardNode(xmlNode *node);

  // Appends an element to the document, where it becomes the root element; refused when there
  // is one already or the node is not an element.
  void AppendToDocument(xmlNode *node);
  // Appends node as the last child of parent. When the parent's children are laid out on
  // lines of their own, the node goes after the last non-text child, preceded by a copy of the
  // whitespace that precedes that child, so it lands on its own line with the same indentation.
  void AppendChild(xmlNode *parent, xmlNode *node);
  // Appends node as the very last child, adding no whitespace (used when copying a layout).
  void AppendChildAtEnd(xmlNode *parent, xmlNode *node);
  // Gives target the namespace declarations of source (an element of any document) that it does
  // not have yet, binds target's own prefix to them, and makes it written as <a></a> when empty
  // if source was.
  void CopyElementForm(xmlNode *target, const xmlNode *source);
  // Sets a detached attribute on an element. An attribute of the same name already on the
  // element is an error and nothing changes.
  void SetAttributeNode(xmlNode *element, xmlNode *attribute);
  // Detach a node from its parent (or an attribute from its element) and keep it alive.
  void RemoveChild(xmlNode *parent, xmlNode *child);
  void RemoveAttribute(xmlNode *element, xmlNode *attribute);
  // RemoveChild that also takes out the whitespace that indented the child on a line of its
  // own, so that no blank line is left where it was.
  void RemoveChildAndIndentation(xmlNode *parent, xmlNode *child);
  // Replaces the node's content with the literal text (no entity parsing). Removed children
  // stay alive as above.
  void SetText(xmlNode *node, std::string_view text);
  // Appends a new text node holding the literal text as the very last child of parent, checked
  // as SetText checks it; returns it.
  xmlNode *AppendText(xmlNode *parent, std::string_view text);

  // Reversible changes: doing one and then its inverse gives the bytes SaveToString gave
  // before, and doing it again the bytes it gave after.
  // Unlinks a child (with the whitespace that indented it on a line of its own, unless
  // withSpacing is false: undoing an insertion that added none) or an attribute, and keeps it
  // alive.
  DomPlace Detach(xmlNode *node, bool withSpacing = true);
  // Puts a detached node back where Detach found it; the document must be as Detach left it.
  void Restore(const DomPlace &place);
  // Links a detached node just before the child before (nullptr: as AppendChild does), on a
  // line of its own with before's indentation when before stands on one. With reindent, the
  // node's layout whitespace is moved to its new depth.
  void InsertChild(xmlNode *parent, xmlNode *node, xmlNode *before, bool reindent);
  // Moves the layout whitespace inside a node just linked to the indentation of its place;
  // ReindentTo moves it to the given indentation.
  void Reindent(xmlNode *node);
  void ReindentTo(xmlNode *node, const std::string &indent);
  // The element's start tag as the source wrote it, when it is still kept; and putting such a
  // state back (for undoing a change that dropped it).
  bool RawStartTag(const xmlNode *element, std::string &tag) const;
  void SetRawStartTag(const xmlNode *element, bool kept, const std::string &tag);
  // SetText keeping what it replaced; RestoreText puts that back.
  DomTextChange ChangeText(xmlNode *node, std::string_view text);
  void RestoreText(const DomTextChange &change);

private:
  void Release();
  void SniffSource(const DomInputFile &file);
  void KeepAlive(xmlNode *node);
  void ResolveNamespace(xmlNode *node);
  void CheckParent(xmlNode *parent, xmlNode *node) const;
  void ForgetStartTag(const xmlNode *parent);
  void Append(xmlNode *parent, xmlNode *node, bool indent);
  std::string Serialise() const;
  void WriteNode(DomWriter &out, const xmlNode *node) const;

  xmlDocPtr FDoc = nullptr;
  std::vector<xmlNode *> FGraveyard;
  DomParseError FParseError;
  // Layout facts of the source kept for saving.
  bool FHasDeclaration = true;
  std::string FDeclaration; // the source's own declaration text, when it can be kept verbatim
  bool FCrLf = false;
  bool FBom = false;
  std::vector<std::string> FTopLevelGaps; // whitespace around top-level nodes, when known
  std::string FRawDoctype;                // the DOCTYPE as written, when known
  // Start tags whose source layout (line breaks, quotes, references) a plain write would lose;
  // dropped when the element's attributes change.
  std::unordered_map<const xmlNode *, std::string> FRawTags;
  // What folded elements point to (set nodes keep their address), and whether any may be folded.
  std::set<FoldedLayout> FFoldedLayouts;
  mutable bool FFolded = false;
};

} // namespace xmlmodel
