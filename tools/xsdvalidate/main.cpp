// xsdvalidate [--all] XML: loads the file validating it against the DTD and the schemas it names.
// Prints the report (with --all every error, one a line, as FILE:LINE: MESSAGE) and exits 1
// when the file is not valid, 0 when it is, 2 on other errors.
#include <cstdio>
#include <cstring>
#include <exception>
#include <string>

#include "xmlmodel/xsd_validate.h"

int main(int argc, char **argv) {
  const bool all = argc == 3 && std::strcmp(argv[1], "--all") == 0;
  if (argc != 2 && !all) {
    std::fprintf(stderr, "usage: xsdvalidate [--all] XML-FILE\n");
    return 2;
  }
  const std::string fileName = argv[argc - 1];
  try {
    // The report is the one of the validating load, without making a document object of the
    // file: it is read once and nothing is kept.
    const xmlmodel::XsdValidation outcome = xmlmodel::ValidateXmlFile(fileName, all);
    if (outcome.Error.ErrorCode == 0)
      return 0;
    if (!all) {
      std::printf("%s\n", xmlmodel::ValidationReportText(fileName, outcome.Error).c_str());
      return 1;
    }
    for (const xmlmodel::ValidationError &error : outcome.All.Errors)
      std::printf("%s:%d: %s\n", fileName.c_str(), error.Line, error.Message.c_str());
    if (outcome.All.NotListed > 0)
      std::printf("%s: %zu more errors not listed\n", fileName.c_str(), outcome.All.NotListed);
    return 1;
  } catch (const std::exception &e) {
    std::fprintf(stderr, "xsdvalidate: %s\n", e.what());
    return 2;
  }
}
