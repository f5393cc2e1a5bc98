#pragma once

// Find over a whole DOM document, whatever part of it the item tree has built: plain text or
// a regular expression in element names, attribute names and values, text and comments, or an
// XPath 1.0 expression.

#include <libxml/tree.h>

#include <memory>
#include <string>
#include <vector>

#include "xmlmodel/dom.h"
#include "xmlmodel/progress.h"

namespace xmlmodel {

struct FindOptions {
  std::string Text;
  bool MatchCase = false;
  bool WholeWord = false;
  bool Regex = false; // POSIX extended syntax
  bool InNames = true; // element names
  bool InAttributeNames = true;
  bool InAttributeValues = true;
  bool InText = true; // text and CDATA
  bool InComments = true;
  bool XPath = false; // Text is an XPath 1.0 expression; the other options do not apply
};

// Where a hit lies. Start is no hit: the place just before a node (see TFinder::Next).
enum class FindField { Start, Name, AttributeName, AttributeValue, Text, Comment, Node };

// One match. Node is what matched: the element (its name), the attribute (its name or value),
// the text or comment node, or a node an XPath selected. Shown is what a tree of elements shows
// for it: the node itself when the tree has an item for it, else its element (the parent of a
// text node, the owner of an attribute).
struct FindHit {
  xmlNode *Node = nullptr;
  FindField Field = FindField::Start;
  xmlNode *Shown = nullptr;
  bool Wrapped = false; // Next went past the end (or Previous past the start) to find it

  explicit operator bool() const { return Node != nullptr; }
  bool operator==(const FindHit &other) const { return Node == other.Node && Field == other.Field; }
  // The place just before node, to search from.
  static FindHit At(xmlNode *node) { return FindHit{node, FindField::Start, node, false}; }
};

// What a tree of items shows for a node: the node for elements, comments, processing
// instructions and the like; the parent element for text, the owner for an attribute.
xmlNode *ShownNode(xmlNode *node);

// A search over one document. The options are checked when it is made: a regular expression
// or an XPath expression that does not compile throws common::Exception saying why. Keep it no
// longer than the document stays unchanged (an XPath's node set is taken once).
class TFinder {
public:
  TFinder(const DomDocument &document, const FindOptions &options);
  ~TFinder();
  TFinder(const TFinder &) = delete;
  TFinder &operator=(const TFinder &) = delete;

  // The first match after `from` in document order (before it when forward is false), going
  // round past the end (or the start) of the document when wrap is set. `from` is a hit found
  // before or FindHit::At(node), the place just before the node's own name, attributes and
  // content; an empty `from` starts at the document's start (end). An empty hit when there is
  // none. Inside one element, its name comes first, then each attribute's name and value, then
  // its content.
  FindHit Next(const FindHit &from, bool forward = true, bool wrap = true);
  // Every match in document order. Stops early (and returns what it has) when progress says so.
  std::vector<FindHit> All(const ProgressFn &progress = {});

private:
  struct Impl;
  std::unique_ptr<Impl> FImpl;
};

} // namespace xmlmodel
