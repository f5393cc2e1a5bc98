#pragma once

#include <string>

namespace xmlmodel {

// Applies an XSL stylesheet file to an XML file and keeps the result as text. It works on files
// only and knows nothing of the documents open in editor windows.
class TOrbXSLTransform {
public:
  TOrbXSLTransform();
  virtual ~TOrbXSLTransform();
  TOrbXSLTransform(const TOrbXSLTransform &) = delete;
  TOrbXSLTransform &operator=(const TOrbXSLTransform &) = delete;

  // Loads and compiles the stylesheet, then reads the XML input, runs the transformation and
  // sets Output to the text the stylesheet produced (UTF-8, whatever its output method).
  // Throws common::Exception naming the file and the reason when the stylesheet or the input
  // cannot be loaded or the run fails; Output then keeps its previous value.
  void Transform(const std::string &XMLFileName, const std::string &XSLFileName);

  // Result of the last successful Transform; empty before.
  std::string Output;
};

} // namespace xmlmodel
