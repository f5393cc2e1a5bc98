#include "editor/open_failure.h"

#include "xmlmodel/xml_obj.h"

namespace editor {

std::string CannotOpenText(const xmlmodel::TOrbMainXML &document) {
  const xmlmodel::DomParseError &error = document.XMLDoc().LastParseError();
  std::string text = "Cannot open " + document.FileName + ": " +
                     (error.Reason.empty() ? std::string("it holds no root element") : error.Reason);
  // A file that cannot be read fails before its first line.
  if (error.Line > 0)
    text += " (line " + std::to_string(error.Line) + ")";
  return text;
}

} // namespace editor
