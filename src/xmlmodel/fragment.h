#pragma once

// Nodes as text for the clipboard: one node written out as Save writes it, and text read back
// as one or more nodes that the item tree can copy from.

#include "xmlmodel/xml_obj.h"

#include <memory>
#include <string>
#include <string_view>

namespace xmlmodel {

// The node as XML text: an element with the namespace declarations in scope added and its
// layout moved to column 0; other kinds as they are written in a document.
std::string NodeToXml(const xmlNode *node);

// Writes an element as a file of its own: an XML declaration, the element as NodeToXml gives it
// (its attributes, the namespaces in scope, its children laid out as they stood), a line break.
// Written through a temporary file, as Save writes.
void SaveElementToFile(const xmlNode *element, const std::string &fileName);

// Text parsed as a sequence of nodes, held in a scratch document of its own: its root item's
// children are the nodes (whitespace between them is not kept).
class TOrbXMLFragment : public TOrbMainXML {
public:
  // Throws common::Exception with the parser's reason and line when the text is not
  // well-formed, or when it holds no node (only text). No network access, no entity expansion.
  static std::unique_ptr<TOrbXMLFragment> Parse(std::string_view text);
  TOrbXMLList *Nodes() { return RootChildren(); }
};

} // namespace xmlmodel
