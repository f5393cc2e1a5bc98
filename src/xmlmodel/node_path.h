#pragma once

// Paths of DOM nodes as XPath location paths: /orders/order[3]/status, /a/@id, /a/text()[2].

#include <libxml/tree.h>

#include <map>
#include <string>
#include <vector>

namespace xmlmodel {

// The path of any node of a document, with names written as the document writes them
// (prefix:local). A step carries its position among the siblings of the same name only when
// there are several. A node outside any document (detached) gets the path of its own subtree.
std::string NodePath(const xmlNode *node);

// The line of the file the node starts on; for a node made in memory, or an attribute, that of
// the nearest node above it that has one. 0 when none has.
int NodeLine(const xmlNode *node);

// The same paths for many nodes of one document, fast when they come in document order (the
// errors of a validation, the hits of a search): each level goes on counting from where the
// previous path of that level stopped instead of from the first sibling. Valid while the
// document is not changed.
class NodePathBuilder {
public:
  std::string Path(const xmlNode *node);

private:
  struct Count {
    const xmlNode *Last = nullptr; // the last sibling numbered with this step name
    int Index = 0;                 // its position among the siblings of that name
    bool Several = false;          // whether the name occurs more than once among them
  };
  // What is known of the children of one parent per depth; paths in document order keep to it.
  struct Level {
    const xmlNode *Parent = nullptr;
    std::map<std::string, Count> ByName;
  };
  void AppendStep(std::string &path, const xmlNode *node, std::size_t depth);

  std::vector<Level> FLevels;
};

} // namespace xmlmodel
