#pragma once

#include <string>

#include "xmlmodel/dom.h"
#include "xmlmodel/xml_obj.h"

namespace xmlmodel {

// The validating load of one file, without a document object: the file is parsed and validated
// against the DTD of its DOCTYPE and the XML Schemas it names itself (xsi:schemaLocation,
// xsi:noNamespaceSchemaLocation), resolved against the file's folder. Only local files are
// loaded and no external entity is expanded.
struct XsdValidation {
  // The parsed document when the file is well-formed and valid; nullptr otherwise.
  xmlDocPtr Doc = nullptr;
  // ErrorCode 0 when valid; otherwise the first error: its reason, the number of the line of
  // the file it lies on (0 when it lies outside the file) and that line's text.
  DomParseError Error;

  XsdValidation() = default;
  ~XsdValidation();
  XsdValidation(XsdValidation &&other) noexcept;
  XsdValidation &operator=(XsdValidation &&other) = delete;
  XsdValidation(const XsdValidation &) = delete;
  XsdValidation &operator=(const XsdValidation &) = delete;

  // Hands the document over to the caller.
  xmlDocPtr Release();
};

XsdValidation ValidateXmlFile(const std::string &fileName);

// The five-line report of a failed validation; empty when error.ErrorCode is 0. fileName is
// given as the caller typed it.
std::string ValidationReportText(const std::string &fileName, const DomParseError &error);

// A document object whose Load validates the file. Every failure of the load (missing file, not
// well-formed, invalid, schema that cannot be loaded) ends up in ValidationReport and raises
// nothing; the document then has no root element. A valid file loads as a plain load would.
class TOrbMainXSDValidate : public TOrbMainXML {
public:
  void Load() override;
};

} // namespace xmlmodel
