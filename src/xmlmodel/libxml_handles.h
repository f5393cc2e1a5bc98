#pragma once

// Owning handles for libxml2 (and libxslt) objects: a unique_ptr whose deleter calls the
// library's own free function, so that every early return and exception frees what was made.
//
//   LibxmlHandle<xmlFreeDoc> doc(xmlReadMemory(...));
//
// The aliases below name the common ones; a file that uses another library object writes its
// own alias with LibxmlHandle (e.g. LibxmlHandle<xsltFreeStylesheet>).

#include <libxml/globals.h>
#include <libxml/parser.h>
#include <libxml/tree.h>
#include <libxml/xmlschemas.h>
#include <libxml/xpath.h>

#include <memory>
#include <string>

namespace xmlmodel {

namespace handles_detail {
template <class F> struct FirstArgument;
template <class T> struct FirstArgument<void (*)(T *)> {
  using Type = T;
};
} // namespace handles_detail

// Calls Free on a non-null pointer.
template <auto Free> struct LibxmlFree {
  template <class T> void operator()(T *p) const {
    if (p != nullptr)
      Free(p);
  }
};

// A unique_ptr to the object that Free releases.
template <auto Free>
using LibxmlHandle = std::unique_ptr<typename handles_detail::FirstArgument<decltype(Free)>::Type, LibxmlFree<Free>>;

using XmlDocHandle = LibxmlHandle<xmlFreeDoc>;
using XmlParserCtxtHandle = LibxmlHandle<xmlFreeParserCtxt>;
using XmlSchemaHandle = LibxmlHandle<xmlSchemaFree>;
using XmlSchemaParserCtxtHandle = LibxmlHandle<xmlSchemaFreeParserCtxt>;
using XmlSchemaValidCtxtHandle = LibxmlHandle<xmlSchemaFreeValidCtxt>;
using XmlXPathContextHandle = LibxmlHandle<xmlXPathFreeContext>;
using XmlXPathObjectHandle = LibxmlHandle<xmlXPathFreeObject>;
using XmlBufferHandle = LibxmlHandle<xmlBufferFree>;

// A string libxml2 allocated (xmlGetProp, xmlNodeGetContent, xmlBuildURI, ...); xmlFree is a
// variable, not a function, so it has a deleter of its own.
struct XmlCharFree {
  void operator()(xmlChar *p) const {
    if (p != nullptr)
      xmlFree(p);
  }
};
using XmlCharHandle = std::unique_ptr<xmlChar, XmlCharFree>;

// The text of a libxml2 string as std::string ("" for none).
inline std::string ToString(const XmlCharHandle &s) {
  return s ? std::string(reinterpret_cast<const char *>(s.get())) : std::string();
}

} // namespace xmlmodel
