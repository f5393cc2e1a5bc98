// xsltransform XML XSL: applies the stylesheet to the XML file and prints the result.
#include <cstdio>
#include <exception>
#include <string>

#include "xmlmodel/xsl_transform.h"

int main(int argc, char **argv) {
  if (argc != 3) {
    std::fprintf(stderr, "usage: xsltransform XML-FILE XSL-FILE\n");
    return 2;
  }
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
