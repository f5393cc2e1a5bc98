#include <gtest/gtest.h>

#include <string>

#include "../../support/run_command.h"

namespace {

const std::string kData = XE_TEST_DATA "/xmlmodel/services/";

using test_support::RunResult;

// Runs a command line; stdout is returned, stderr merged into it when asked.
RunResult Execute(const std::string &command, bool withStderr = false) {
  return test_support::Execute(command + (withStderr ? " 2>&1" : " 2>/dev/null"));
}

std::string Quote(const std::string &s) { return "'" + s + "'"; }

} // namespace

TEST(Tools, XsltransformPrintsTheResult) {
  RunResult run =
      Execute(Quote(XE_XSLTRANSFORM) + " " + Quote(kData + "books.xml") + " " + Quote(kData + "text.xsl"));
  EXPECT_EQ(run.Status, 0);
  EXPECT_EQ(run.Out, "1:Faust;2:\xC3\x98rsted & Co;");

  run = Execute(
      Quote(XE_XSLTRANSFORM) + " " + Quote(kData + "books.xml") + " " + Quote(kData + "malformed.xsl"), true);
  EXPECT_EQ(run.Status, 2);
  EXPECT_NE(run.Out.find("malformed.xsl"), std::string::npos) << run.Out;

  EXPECT_EQ(Execute(Quote(XE_XSLTRANSFORM) + " only-one-argument").Status, 2);
}

TEST(Tools, XsdvalidateExitStatusFollowsTheReport) {
  RunResult run = Execute(Quote(XE_XSDVALIDATE) + " " + Quote(kData + "validate/order_valid.xml"));
  EXPECT_EQ(run.Status, 0);
  EXPECT_EQ(run.Out, "");

  run = Execute(Quote(XE_XSDVALIDATE) + " " + Quote(kData + "validate/order_bad_pattern.xml"));
  EXPECT_EQ(run.Status, 1);
  EXPECT_EQ(run.Out.rfind("Validation failed on " + kData + "validate/order_bad_pattern.xml\r\n", 0), 0u)
      << run.Out;
  EXPECT_NE(run.Out.find("\r\nLine: 3"), std::string::npos) << run.Out;

  run = Execute(Quote(XE_XSDVALIDATE) + " " + Quote(kData + "validate/no-such-file.xml"));
  EXPECT_EQ(run.Status, 1);
  EXPECT_NE(run.Out.find("Line: 0"), std::string::npos) << run.Out;

  EXPECT_EQ(Execute(Quote(XE_XSDVALIDATE)).Status, 2);
}
