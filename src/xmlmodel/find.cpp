#include "xmlmodel/find.h"

#include <regex.h>

#include <algorithm>
#include <climits>
#include <cwchar>
#include <cwctype>
#include <string_view>

#include <libxml/xmlerror.h>
#include <libxml/xpathInternals.h>

#include "common/exception.h"
#include "xmlmodel/dom.h"
#include "xmlmodel/libxml_handles.h"

namespace xmlmodel {

namespace {

const char *C(const xmlChar *s) { return s == nullptr ? "" : reinterpret_cast<const char *>(s); }

// How often the long walks look at the clock of their caller.
constexpr unsigned kProgressEvery = 1u << 14;

bool IsWordByte(unsigned char c) { return c >= 0x80 || c == '_' || (c >= '0' && c <= '9') || ((c | 0x20) >= 'a' && (c | 0x20) <= 'z'); }

// Lower case of UTF-8 text, character by character; bytes that are not UTF-8 stay as they are.
void Fold(std::string_view text, std::string &out) {
  out.clear();
  for (std::size_t i = 0; i < text.size();) {
    const auto c = static_cast<unsigned char>(text[i]);
    if (c < 0x80) {
      out += static_cast<char>(c >= 'A' && c <= 'Z' ? c + 32 : c);
      ++i;
      continue;
    }
    std::mbstate_t state{};
    wchar_t wide = 0;
    const std::size_t n = std::mbrtowc(&wide, text.data() + i, text.size() - i, &state);
    if (n == 0 || n > text.size() - i) {
      out += static_cast<char>(c);
      ++i;
      continue;
    }
    char bytes[MB_LEN_MAX];
    state = {};
    const std::size_t m = std::wcrtomb(bytes, static_cast<wchar_t>(std::towlower(static_cast<wint_t>(wide))), &state);
    if (m == static_cast<std::size_t>(-1))
      out.append(text.data() + i, n);
    else
      out.append(bytes, m);
    i += n;
  }
}

// One search field's text matcher: plain text or a POSIX extended regular expression.
class Matcher {
public:
  explicit Matcher(const FindOptions &options)
      : FMatchCase(options.MatchCase), FWholeWord(options.WholeWord), FRegex(options.Regex) {
    if (options.Text.empty())
      throw common::Exception("Nothing to find: the search text is empty");
    if (FRegex) {
      const std::string pattern = FWholeWord ? "\\b(" + options.Text + ")\\b" : options.Text;
      const int code =
          regcomp(&FCompiled, pattern.c_str(), REG_EXTENDED | REG_NOSUB | (FMatchCase ? 0 : REG_ICASE));
      if (code != 0) {
        char why[256];
        regerror(code, &FCompiled, why, sizeof why);
        throw common::Exception("The regular expression \"" + options.Text + "\" is not valid: " + why);
      }
      return;
    }
    if (FMatchCase) {
      FNeedle = options.Text;
    } else {
      Fold(options.Text, FNeedle);
      FAscii = std::all_of(FNeedle.begin(), FNeedle.end(), [](char c) { return static_cast<unsigned char>(c) < 0x80; });
    }
  }
  ~Matcher() {
    if (FRegex)
      regfree(&FCompiled);
  }
  Matcher(const Matcher &) = delete;
  Matcher &operator=(const Matcher &) = delete;

  // text is NUL-terminated at text.size().
  bool Matches(std::string_view text) {
    if (FRegex)
      return regexec(&FCompiled, text.data(), 0, nullptr, 0) == 0;
    if (FMatchCase)
      return Search(text);
    if (!FAscii) {
      Fold(text, FFolded);
      return Search(FFolded);
    }
    return SearchAsciiNoCase(text);
  }

private:
  bool WordAt(std::string_view text, std::size_t at) const {
    if (!FWholeWord)
      return true;
    const std::size_t end = at + FNeedle.size();
    return (at == 0 || !IsWordByte(static_cast<unsigned char>(text[at - 1]))) &&
           (end == text.size() || !IsWordByte(static_cast<unsigned char>(text[end])));
  }
  bool Search(std::string_view text) const {
    for (std::size_t at = text.find(FNeedle); at != std::string_view::npos; at = text.find(FNeedle, at + 1))
      if (WordAt(text, at))
        return true;
    return false;
  }
  bool SearchAsciiNoCase(std::string_view text) const {
    const std::size_t n = FNeedle.size();
    if (text.size() < n)
      return false;
    const auto lower = [](unsigned char c) { return static_cast<char>(c >= 'A' && c <= 'Z' ? c + 32 : c); };
    for (std::size_t at = 0; at + n <= text.size(); ++at) {
      if (lower(static_cast<unsigned char>(text[at])) != FNeedle[0])
        continue;
      std::size_t k = 1;
      while (k < n && lower(static_cast<unsigned char>(text[at + k])) == FNeedle[k])
        ++k;
      if (k == n && WordAt(text, at))
        return true;
    }
    return false;
  }

  bool FMatchCase, FWholeWord, FRegex;
  bool FAscii = true;
  std::string FNeedle;
  std::string FFolded;
  regex_t FCompiled{};
};

// A place in the document's search order. Part 0 is a node itself (an element's name, a text's
// content), 1 and 2 an attribute's name and value.
struct Pos {
  xmlNode *Node = nullptr;
  xmlAttr *Attr = nullptr;
  int Part = 0;
  bool operator==(const Pos &) const = default;
};

bool Descends(const xmlNode *node) {
  return node->type == XML_ELEMENT_NODE || node->type == XML_DOCUMENT_NODE || node->type == XML_HTML_DOCUMENT_NODE;
}

// The next node in document order; entity references, the DOCTYPE and other declarations are
// not entered.
xmlNode *NextNode(xmlNode *node) {
  if (Descends(node) && node->children != nullptr)
    return node->children;
  for (; node != nullptr; node = node->parent) {
    if (node->type == XML_DOCUMENT_NODE || node->type == XML_HTML_DOCUMENT_NODE)
      return nullptr;
    if (node->next != nullptr)
      return node->next;
  }
  return nullptr;
}

Pos LastOwnPos(xmlNode *node) {
  if (node->type == XML_ELEMENT_NODE && node->properties != nullptr) {
    xmlAttr *attr = node->properties;
    while (attr->next != nullptr)
      attr = attr->next;
    return {node, attr, 2};
  }
  return {node, nullptr, 0};
}

Pos Advance(const Pos &pos) {
  if (pos.Node->type == XML_ELEMENT_NODE) {
    if (pos.Part == 0 && pos.Node->properties != nullptr)
      return {pos.Node, pos.Node->properties, 1};
    if (pos.Part == 1)
      return {pos.Node, pos.Attr, 2};
    if (pos.Part == 2 && pos.Attr->next != nullptr)
      return {pos.Node, pos.Attr->next, 1};
  }
  return {NextNode(pos.Node), nullptr, 0};
}

Pos Retreat(const Pos &pos) {
  if (pos.Part == 2)
    return {pos.Node, pos.Attr, 1};
  if (pos.Part == 1)
    return pos.Attr->prev != nullptr ? Pos{pos.Node, pos.Attr->prev, 2} : Pos{pos.Node, nullptr, 0};
  xmlNode *node = pos.Node;
  if (node->prev != nullptr) {
    node = node->prev;
    while (Descends(node) && node->last != nullptr)
      node = node->last;
    return LastOwnPos(node);
  }
  node = node->parent;
  if (node == nullptr || node->type != XML_ELEMENT_NODE)
    return {};
  return LastOwnPos(node);
}

// The place a hit or a starting node stands for.
Pos PosOf(const FindHit &hit) {
  xmlNode *node = hit.Node;
  if (node->type == XML_ATTRIBUTE_NODE)
    return {node->parent, reinterpret_cast<xmlAttr *>(node), hit.Field == FindField::AttributeValue ? 2 : 1};
  return {node, nullptr, 0};
}

Pos FirstPos(xmlDocPtr doc) { return {doc->children, nullptr, 0}; }
Pos LastPos(xmlDocPtr doc) {
  xmlNode *node = doc->last;
  if (node == nullptr)
    return {};
  while (Descends(node) && node->last != nullptr)
    node = node->last;
  return LastOwnPos(node);
}

// The line of the last node of the document, to tell how far a walk has come.
long LastLine(xmlDocPtr doc) {
  const Pos last = LastPos(doc);
  return last.Node != nullptr ? std::max(1L, xmlGetLineNo(last.Node)) : 1L;
}

// Collects the message of the first libxml2 error while alive.
class FirstMessage {
public:
  FirstMessage() : FPrevious(xmlStructuredError), FPreviousContext(xmlStructuredErrorContext) {
    xmlSetStructuredErrorFunc(this, &Handler);
  }
  ~FirstMessage() { xmlSetStructuredErrorFunc(FPreviousContext, FPrevious); }
  FirstMessage(const FirstMessage &) = delete;
  FirstMessage &operator=(const FirstMessage &) = delete;
  std::string Text;

private:
  static void Handler(void *self, xmlErrorPtr error) {
    auto *me = static_cast<FirstMessage *>(self);
    if (error == nullptr || !me->Text.empty() || error->message == nullptr)
      return;
    me->Text = error->message;
    while (!me->Text.empty() && (me->Text.back() == '\n' || me->Text.back() == '\r'))
      me->Text.pop_back();
  }
  xmlStructuredErrorFunc FPrevious;
  void *FPreviousContext;
};

// Every prefix the document declares, bound as the first declaration of it binds it.
void RegisterPrefixes(xmlDocPtr doc, xmlXPathContextPtr context) {
  std::vector<const xmlChar *> seen;
  for (xmlNode *node = doc->children; node != nullptr; node = NextNode(node)) {
    if (node->type != XML_ELEMENT_NODE)
      continue;
    for (xmlNs *ns = node->nsDef; ns != nullptr; ns = ns->next) {
      if (ns->prefix == nullptr || ns->href == nullptr)
        continue;
      if (std::none_of(seen.begin(), seen.end(), [&](const xmlChar *p) { return xmlStrEqual(p, ns->prefix); })) {
        seen.push_back(ns->prefix);
        xmlXPathRegisterNs(context, ns->prefix, ns->href);
      }
    }
  }
}

} // namespace

xmlNode *ShownNode(xmlNode *node) {
  if (node == nullptr)
    return nullptr;
  if (node->type == XML_ATTRIBUTE_NODE || node->type == XML_TEXT_NODE)
    return node->parent;
  return node;
}

struct TFinder::Impl {
  xmlDocPtr Doc;
  FindOptions Options;
  std::unique_ptr<Matcher> Match;
  std::vector<xmlNode *> Selected; // the nodes an XPath selected, in document order
  std::string Scratch;

  // The hit at pos, or an empty one.
  FindHit Test(const Pos &pos) {
    xmlNode *node = pos.Node;
    FindField field;
    xmlNode *hitNode = node;
    std::string_view text;
    switch (node->type) {
    case XML_ELEMENT_NODE:
      if (pos.Part == 0) {
        if (!Options.InNames)
          return {};
        field = FindField::Name;
        text = QualifiedName(node->ns, node->name);
      } else if (pos.Part == 1) {
        if (!Options.InAttributeNames)
          return {};
        field = FindField::AttributeName;
        hitNode = reinterpret_cast<xmlNode *>(pos.Attr);
        text = QualifiedName(pos.Attr->ns, pos.Attr->name);
      } else {
        if (!Options.InAttributeValues)
          return {};
        field = FindField::AttributeValue;
        hitNode = reinterpret_cast<xmlNode *>(pos.Attr);
        text = AttributeValue(pos.Attr);
      }
      break;
    case XML_TEXT_NODE:
    case XML_CDATA_SECTION_NODE:
      if (!Options.InText)
        return {};
      field = FindField::Text;
      text = C(node->content);
      break;
    case XML_COMMENT_NODE:
      if (!Options.InComments)
        return {};
      field = FindField::Comment;
      text = C(node->content);
      break;
    default:
      return {};
    }
    if (!Match->Matches(text))
      return {};
    return FindHit{hitNode, field, ShownNode(hitNode), false};
  }

  std::string_view QualifiedName(const xmlNs *ns, const xmlChar *name) {
    if (ns == nullptr || ns->prefix == nullptr)
      return C(name);
    Scratch = C(ns->prefix);
    Scratch += ':';
    Scratch += C(name);
    return Scratch;
  }
  std::string_view AttributeValue(const xmlAttr *attr) {
    const xmlNode *child = attr->children;
    if (child == nullptr)
      return "";
    if (child->next == nullptr && child->type == XML_TEXT_NODE)
      return C(child->content);
    Scratch = DomNodeText(reinterpret_cast<const xmlNode *>(attr));
    return Scratch;
  }

  // Walks from begin in one direction and returns the first hit; stops before `stop` (or after
  // it when inclusive).
  FindHit Scan(Pos pos, bool forward, const Pos *stop, bool inclusive) {
    while (pos.Node != nullptr) {
      const bool last = stop != nullptr && pos == *stop;
      if (last && !inclusive)
        return {};
      if (FindHit hit = Test(pos))
        return hit;
      if (last)
        return {};
      pos = forward ? Advance(pos) : Retreat(pos);
    }
    return {};
  }

  FindHit NextText(const FindHit &from, bool forward, bool wrap) {
    if (!from || from.Node->type == XML_DOCUMENT_NODE)
      return Scan(forward ? FirstPos(Doc) : LastPos(Doc), forward, nullptr, false);
    const Pos at = PosOf(from);
    const bool isStart = from.Field == FindField::Start;
    if (FindHit hit = Scan(forward && isStart ? at : forward ? Advance(at) : Retreat(at), forward, nullptr, false))
      return hit;
    if (!wrap)
      return {};
    FindHit hit = Scan(forward ? FirstPos(Doc) : LastPos(Doc), forward, &at, !(forward && isStart));
    hit.Wrapped = static_cast<bool>(hit);
    return hit;
  }

  FindHit NextSelected(const FindHit &from, bool forward, bool wrap) {
    if (Selected.empty())
      return {};
    std::size_t index;
    if (!from || from.Node->type == XML_DOCUMENT_NODE) {
      index = forward ? 0 : Selected.size() - 1;
    } else {
      // xmlXPathCmpNodes(a, b) is 1 when a comes before b.
      const bool takeEqual = forward && from.Field == FindField::Start;
      const auto after = [&](xmlNode *candidate) {
        const int order = xmlXPathCmpNodes(from.Node, candidate);
        return order == 1 || (order == 0 && takeEqual);
      };
      const auto first = std::partition_point(Selected.begin(), Selected.end(), [&](xmlNode *n) { return !after(n); });
      if (forward) {
        index = static_cast<std::size_t>(first - Selected.begin());
      } else {
        // The last one strictly before from.
        const auto before = std::partition_point(Selected.begin(), Selected.end(), [&](xmlNode *n) {
          return xmlXPathCmpNodes(n, from.Node) == 1;
        });
        index = before == Selected.begin() ? Selected.size() : static_cast<std::size_t>(before - Selected.begin()) - 1;
      }
      if (index >= Selected.size()) {
        if (!wrap)
          return {};
        FindHit hit = HitOf(Selected[forward ? 0 : Selected.size() - 1]);
        hit.Wrapped = true;
        return hit;
      }
    }
    return HitOf(Selected[index]);
  }

  static FindHit HitOf(xmlNode *node) { return FindHit{node, FindField::Node, ShownNode(node), false}; }

  void Evaluate() {
    InitXmlLibrary();
    if (Options.Text.empty())
      throw common::Exception("Nothing to find: the XPath expression is empty");
    XmlXPathContextHandle context(xmlXPathNewContext(Doc));
    if (!context)
      throw common::Exception("Out of memory while evaluating an XPath expression");
    RegisterPrefixes(Doc, context.get());
    FirstMessage message;
    const xmlChar *expression = reinterpret_cast<const xmlChar *>(Options.Text.c_str());
    LibxmlHandle<xmlXPathFreeCompExpr> compiled(xmlXPathCtxtCompile(context.get(), expression));
    XmlXPathObjectHandle result;
    if (compiled)
      result.reset(xmlXPathCompiledEval(compiled.get(), context.get()));
    if (!compiled || !result) {
      std::string why = message.Text.empty() ? std::string("it cannot be evaluated") : message.Text;
      const xmlError &last = context->lastError;
      if (last.domain == XML_FROM_XPATH && last.int1 > 0)
        why += " (at character " + std::to_string(last.int1 + 1) + ")";
      throw common::Exception("The XPath expression \"" + Options.Text + "\" is not valid: " + why);
    }
    if (result->type != XPATH_NODESET) {
      const XmlCharHandle text(xmlXPathCastToString(result.get()));
      throw common::Exception("The XPath expression \"" + Options.Text + "\" gives the value \"" + ToString(text) +
                              "\", not nodes to find");
    }
    if (xmlNodeSet *set = result->nodesetval) {
      Selected.reserve(static_cast<std::size_t>(set->nodeNr));
      for (int i = 0; i < set->nodeNr; ++i)
        if (set->nodeTab[i]->type != XML_NAMESPACE_DECL && set->nodeTab[i]->type != XML_DOCUMENT_NODE)
          Selected.push_back(set->nodeTab[i]);
    }
  }
};

TFinder::TFinder(const DomDocument &document, const FindOptions &options) : FImpl(std::make_unique<Impl>()) {
  xmlDocPtr doc = document.Doc();
  document.UnfoldAllLayout(); // the whitespace between elements is text to search and XPath nodes
  FImpl->Doc = doc;
  FImpl->Options = options;
  if (doc == nullptr)
    throw common::Exception("There is no document to search");
  if (options.XPath)
    FImpl->Evaluate();
  else
    FImpl->Match = std::make_unique<Matcher>(options);
}

TFinder::~TFinder() = default;

FindHit TFinder::Next(const FindHit &from, bool forward, bool wrap) {
  return FImpl->Options.XPath ? FImpl->NextSelected(from, forward, wrap) : FImpl->NextText(from, forward, wrap);
}

std::vector<FindHit> TFinder::All(const ProgressFn &progress) {
  std::vector<FindHit> hits;
  if (FImpl->Options.XPath) {
    hits.reserve(FImpl->Selected.size());
    for (xmlNode *node : FImpl->Selected)
      hits.push_back(Impl::HitOf(node));
    return hits;
  }
  const double lines = progress ? static_cast<double>(LastLine(FImpl->Doc)) : 1.0;
  unsigned steps = 0;
  for (Pos pos = FirstPos(FImpl->Doc); pos.Node != nullptr; pos = Advance(pos)) {
    if (FindHit hit = FImpl->Test(pos))
      hits.push_back(hit);
    if (progress && ++steps % kProgressEvery == 0 &&
        !progress(std::min(1.0, static_cast<double>(xmlGetLineNo(pos.Node)) / lines)))
      break;
  }
  return hits;
}

} // namespace xmlmodel
