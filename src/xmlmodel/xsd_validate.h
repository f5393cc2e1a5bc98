#pragma once

#include <string>
#include <vector>

#include "xmlmodel/dom.h"
#include "xmlmodel/progress.h"
#include "xmlmodel/xml_obj.h"

namespace xmlmodel {

// One error of a validation, as a list of every error shows it.
struct ValidationError {
  // The line in the document; for an error inside a DTD or schema (the reason says where), the
  // line of the document that names it. 0 when the error lies nowhere in particular.
  int Line = 0;
  std::string Message;
  // The node the error concerns, when libxml2 names one (an element or an attribute), and its
  // path. Node is set only for a document that stays in memory.
  xmlNode *Node = nullptr;
  std::string Path;
};

struct ValidationErrors {
  std::vector<ValidationError> Errors; // in the order libxml2 reports them
  std::size_t NotListed = 0;           // errors past the longest list kept
  bool Cancelled = false;              // the progress callback stopped the work: the list is partial
};

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
  // Every error, when asked for; Node is never set (the document is not kept when invalid).
  ValidationErrors All;

  XsdValidation() = default;
  ~XsdValidation();
  XsdValidation(XsdValidation &&other) noexcept;
  XsdValidation &operator=(XsdValidation &&other) = delete;
  XsdValidation(const XsdValidation &) = delete;
  XsdValidation &operator=(const XsdValidation &) = delete;

  // Hands the document over to the caller.
  xmlDocPtr Release();
};

// allErrors lists every error in All besides the first in Error; progress is told how much of
// the file has been read and may cancel the load, which is then reported as an error.
XsdValidation ValidateXmlFile(const std::string &fileName, bool allErrors = false, const ProgressFn &progress = {});

// Validates a document as it stands in memory, unsaved edits included, with the rules of the
// validating load: the DTD of its DOCTYPE and the schemas its root element names, resolved
// against the folder of fileName (the current folder when empty), local files only. The
// document is not changed. Progress is told after each DTD and schema and while the errors'
// paths are made; a cancel takes effect there.
ValidationErrors ValidateDocument(const DomDocument &document, const std::string &fileName,
                                  const ProgressFn &progress = {});
ValidationErrors ValidateDocument(const TOrbMainXML &document, const ProgressFn &progress = {});

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
