// xsdvalidate XML: loads the file validating it against the DTD and the schemas it names.
// Prints the report and exits 1 when the file is not valid, 0 when it is, 2 on other errors.
#include <cstdio>
#include <exception>
#include <string>

#include "common/cli.h"
#include "xmlmodel/xsd_validate.h"

namespace {
const common::TCliTool kTool{
    "xsdvalidate",
    "XML-FILE",
    "Loads the file, validating it against the DTD and the schemas it names, and prints the report.",
    {}};
} // namespace

int main(int argc, char **argv) {
  if (auto status = common::CheckCommandLine(argc, argv, kTool))
    return *status;
  if (argc != 2)
    return common::BadUsage(kTool, "expected one XML-FILE");
  try {
    xmlmodel::TOrbMainXSDValidate document;
    document.FileName = argv[1];
    document.Load();
    if (document.ValidationReport.empty())
      return 0;
    std::printf("%s\n", document.ValidationReport.c_str());
    return 1;
  } catch (const std::exception &e) {
    std::fprintf(stderr, "xsdvalidate: %s\n", e.what());
    return 2;
  }
}
