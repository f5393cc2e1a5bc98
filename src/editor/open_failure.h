#pragma once

#include <string>

namespace xmlmodel {
class TOrbMainXML;
}

namespace editor {

// Why a loaded document has no root element, as the user reads it:
// "Cannot open FILE: REASON (line N)" (no line for a file that could not be read at all).
std::string CannotOpenText(const xmlmodel::TOrbMainXML &document);

} // namespace editor
