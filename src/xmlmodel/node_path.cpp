#include "xmlmodel/node_path.h"

#include "xmlmodel/dom.h"

#include <algorithm>

namespace xmlmodel {

namespace {

const char *C(const xmlChar *s) { return s == nullptr ? "" : reinterpret_cast<const char *>(s); }

bool OnPath(const xmlNode *node) {
  switch (node->type) {
  case XML_ELEMENT_NODE:
  case XML_TEXT_NODE:
  case XML_CDATA_SECTION_NODE:
  case XML_COMMENT_NODE:
  case XML_PI_NODE:
  case XML_ENTITY_REF_NODE:
    return true;
  default:
    return false;
  }
}

// The step without its position; text and CDATA are both text() to XPath.
void StepName(const xmlNode *node, std::string &out) {
  out.clear();
  switch (node->type) {
  case XML_ELEMENT_NODE:
    if (node->ns != nullptr && node->ns->prefix != nullptr) {
      out += C(node->ns->prefix);
      out += ':';
    }
    out += C(node->name);
    break;
  case XML_TEXT_NODE:
  case XML_CDATA_SECTION_NODE:
    out = "text()";
    break;
  case XML_COMMENT_NODE:
    out = "comment()";
    break;
  case XML_PI_NODE:
    out = "processing-instruction('";
    out += C(node->name);
    out += "')";
    break;
  default: // an entity reference has no step of its own in XPath; name it as a node
    out = "node()";
    break;
  }
}

bool SameStep(const xmlNode *a, const xmlNode *b) {
  if (!OnPath(a) || !OnPath(b))
    return false;
  const auto textual = [](const xmlNode *n) { return n->type == XML_TEXT_NODE || n->type == XML_CDATA_SECTION_NODE; };
  if (textual(a) || textual(b))
    return textual(a) && textual(b);
  if (a->type != b->type)
    return false;
  switch (a->type) {
  case XML_COMMENT_NODE:
  case XML_ENTITY_REF_NODE:
    return true;
  case XML_PI_NODE:
    return xmlStrEqual(a->name, b->name);
  default: {
    const xmlChar *pa = a->ns != nullptr ? a->ns->prefix : nullptr;
    const xmlChar *pb = b->ns != nullptr ? b->ns->prefix : nullptr;
    return xmlStrEqual(a->name, b->name) && xmlStrEqual(pa, pb);
  }
  }
}

const xmlNode *FirstSibling(const xmlNode *node) {
  if (node->parent != nullptr)
    return node->parent->children;
  while (node->prev != nullptr)
    node = node->prev;
  return node;
}

// The attribute's owner and the chain of nodes from the top down to node.
std::vector<const xmlNode *> Chain(const xmlNode *node) {
  std::vector<const xmlNode *> chain;
  for (const xmlNode *n = node; n != nullptr && n->type != XML_DOCUMENT_NODE && n->type != XML_HTML_DOCUMENT_NODE;
       n = n->parent)
    chain.push_back(n);
  std::reverse(chain.begin(), chain.end());
  return chain;
}

void AppendAttribute(std::string &path, const xmlNode *attribute) {
  path += "/@";
  if (attribute->ns != nullptr && attribute->ns->prefix != nullptr) {
    path += C(attribute->ns->prefix);
    path += ':';
  }
  path += C(attribute->name);
}

} // namespace

int NodeLine(const xmlNode *node) {
  for (; node != nullptr && node->type != XML_DOCUMENT_NODE && node->type != XML_HTML_DOCUMENT_NODE;
       node = node->parent) {
    if (node->type == XML_ATTRIBUTE_NODE)
      continue;
    const long line = DomLineNo(node);
    if (line > 0)
      return static_cast<int>(line);
  }
  return 0;
}

std::string NodePath(const xmlNode *node) {
  NodePathBuilder builder;
  return builder.Path(node);
}

std::string NodePathBuilder::Path(const xmlNode *node) {
  if (node == nullptr)
    return {};
  if (node->type == XML_DOCUMENT_NODE || node->type == XML_HTML_DOCUMENT_NODE)
    return "/";
  std::string path;
  const std::vector<const xmlNode *> chain = Chain(node);
  std::size_t depth = 0;
  for (const xmlNode *step : chain) {
    if (step->type == XML_ATTRIBUTE_NODE)
      AppendAttribute(path, step);
    else
      AppendStep(path, step, depth);
    ++depth;
  }
  return path.empty() ? std::string("/") : path;
}

void NodePathBuilder::AppendStep(std::string &path, const xmlNode *node, std::size_t depth) {
  std::string name;
  StepName(node, name);
  path += '/';
  path += name;

  if (FLevels.size() <= depth)
    FLevels.resize(depth + 1);
  Level &level = FLevels[depth];
  const xmlNode *first = FirstSibling(node);
  if (level.Parent != first) {
    level.Parent = first;
    level.ByName.clear();
  }
  auto [at, fresh] = level.ByName.try_emplace(name);
  Count &count = at->second;
  if (fresh) {
    int seen = 0;
    for (const xmlNode *n = first; n != nullptr && seen < 2; n = n->next)
      seen += SameStep(n, node) ? 1 : 0;
    count.Several = seen > 1;
  }
  if (!count.Several)
    return;
  if (count.Last != node) {
    // Go on from the last one numbered when node lies after it, else count from the first.
    const xmlNode *n = count.Last != nullptr ? count.Last->next : nullptr;
    int index = count.Index;
    for (; n != nullptr && n != node; n = n->next)
      index += SameStep(n, node) ? 1 : 0;
    if (n == nullptr) {
      index = 0;
      for (n = first; n != nullptr && n != node; n = n->next)
        index += SameStep(n, node) ? 1 : 0;
    }
    count.Last = node;
    count.Index = index + 1;
  }
  path += '[';
  path += std::to_string(count.Index);
  path += ']';
}

} // namespace xmlmodel
