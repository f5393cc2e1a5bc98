// xsltransform XML XSL: applies the stylesheet to the XML file and prints the result.
#include <cstdio>
#include <exception>
#include <string>

#include "common/cli.h"
#include "xmlmodel/xsl_transform.h"

namespace {
const common::TCliTool kTool{
    "xsltransform", "XML-FILE XSL-FILE", "Applies the stylesheet to the XML file and prints the result.", {}};
} // namespace

int main(int argc, char **argv) {
  if (auto status = common::CheckCommandLine(argc, argv, kTool))
    return *status;
  if (argc != 3)
    return common::BadUsage(kTool, "expected XML-FILE XSL-FILE");
  try {
    xmlmodel::TOrbXSLTransform transform;
    transform.Transform(argv[1], argv[2]);
    std::fwrite(transform.Output.data(), 1, transform.Output.size(), stdout);
    return std::fflush(stdout) == 0 ? 0 : 2;
  } catch (const std::exception &e) {
    std::fprintf(stderr, "xsltransform: %s\n", e.what());
    return 2;
  }
}
