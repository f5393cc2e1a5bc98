// xsdvalidate [--all] XML: loads the file validating it against the DTD and the schemas it names.
// Prints the report (with --all every error, one a line, as FILE:LINE: MESSAGE) and exits 1
// when the file is not valid, 0 when it is, 2 on other errors.
#include <cstdio>
#include <cstring>
#include <exception>
#include <string>
#include <vector>

#include "common/cli.h"
#include "xmlmodel/xsd_validate.h"

namespace {
const common::TCliTool kTool{
    "xsdvalidate",
    "[--all] XML-FILE",
    "Loads the file, validating it against the DTD and the schemas it names, and prints the report.",
    {{"--all", "", "print every error, one a line, as FILE:LINE: MESSAGE"}}};
} // namespace

int main(int argc, char **argv) {
  if (auto status = common::CheckCommandLine(argc, argv, kTool))
    return *status;
  bool all = false;
  std::vector<std::string> files;
  for (int i = 1; i < argc; ++i) {
    if (std::strcmp(argv[i], "--all") == 0)
      all = true;
    else
      files.emplace_back(argv[i]);
  }
  if (files.size() != 1)
    return common::BadUsage(kTool, "expected one XML-FILE");
  const std::string &fileName = files.front();
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
