#include "xmlmodel/xsl_transform.h"

#include "listener.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <string>

#include <unistd.h>

#include "common/exception.h"

namespace fs = std::filesystem;
using xmlmodel::TOrbXSLTransform;

namespace {

const std::string kData = XE_TEST_DATA "/xmlmodel/services/";

std::string Data(const std::string &name) { return kData + name; }

// Runs Transform and returns the exception text, or "" when it succeeded.
std::string TransformError(TOrbXSLTransform &t, const std::string &xml, const std::string &xsl) {
  try {
    t.Transform(xml, xsl);
  } catch (const common::Exception &e) {
    return e.what();
  }
  return {};
}

} // namespace

TEST(XslTransform, EveryOutputMethodGivesTheProducedTextAsUtf8) {
  TOrbXSLTransform t;
  EXPECT_EQ(t.Output, "");
  t.Transform(Data("books.xml"), Data("text.xsl"));
  EXPECT_EQ(t.Output, "1:Faust;2:\xC3\x98rsted & Co;");

  t.Transform(Data("books.xml"), Data("xml.xsl"));
  EXPECT_EQ(t.Output, "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<titles "
                      "count=\"2\"><title>Faust</title><title>\xC3\x98rsted "
                      "&amp; Co</title></titles>\n");

  t.Transform(Data("books.xml"), Data("html.xsl"));
  EXPECT_NE(t.Output.find("<p>"), std::string::npos) << t.Output;
  EXPECT_NE(t.Output.find("rsted &amp; Co</p>"), std::string::npos) << t.Output;

  // A stylesheet asking for another encoding still gives UTF-8 text.
  t.Transform(Data("books.xml"), Data("latin1.xsl"));
  EXPECT_EQ(t.Output, "\xC3\x98rsted & Co");
}

TEST(XslTransform, StylesheetFailuresNameTheFileAndKeepOutput) {
  TOrbXSLTransform t;
  std::string error = TransformError(t, Data("books.xml"), "");
  EXPECT_NE(error, "");
  EXPECT_EQ(t.Output, "");

  t.Transform(Data("books.xml"), Data("text.xsl"));
  const std::string previous = t.Output;

  error = TransformError(t, Data("books.xml"), Data("no-such.xsl"));
  EXPECT_NE(error.find("no-such.xsl"), std::string::npos) << error;

  error = TransformError(t, Data("books.xml"), Data("malformed.xsl"));
  EXPECT_NE(error.find("malformed.xsl"), std::string::npos) << error;
  EXPECT_NE(error.find("line 4"), std::string::npos) << error; // where the parser gave up

  error = TransformError(t, Data("books.xml"), Data("uncompilable.xsl"));
  EXPECT_NE(error.find("uncompilable.xsl"), std::string::npos) << error;
  EXPECT_NE(error.find("count(("), std::string::npos) << error;

  // xsl:message terminate="yes" is a failed run, not an empty result.
  error = TransformError(t, Data("books.xml"), Data("terminate.xsl"));
  EXPECT_NE(error.find("No books wanted"), std::string::npos) << error;

  EXPECT_EQ(t.Output, previous);
}

TEST(XslTransform, BrokenInputIsAnErrorAfterTheStylesheetIsChecked) {
  TOrbXSLTransform t;
  // The stylesheet comes first: with both missing, the stylesheet is what is reported.
  std::string error = TransformError(t, Data("no-such.xml"), Data("no-such.xsl"));
  EXPECT_NE(error.find("no-such.xsl"), std::string::npos) << error;

  error = TransformError(t, Data("no-such.xml"), Data("text.xsl"));
  EXPECT_NE(error.find("no-such.xml"), std::string::npos) << error;

  error = TransformError(t, Data("validate/not_well_formed.xml"), Data("text.xsl"));
  EXPECT_NE(error.find("not_well_formed.xml"), std::string::npos) << error;
  EXPECT_NE(error.find("line 3"), std::string::npos) << error;
  EXPECT_EQ(t.Output, "");
}

TEST(XslTransform, ExternalEntitiesAndFileWritesAreRefused) {
  TOrbXSLTransform t;
  // Internal entities are replaced; an external one pulls no file into the result.
  t.Transform(Data("entity_input.xml"), Data("xml.xsl"));
  EXPECT_NE(t.Output.find("<title>Insel</title>"), std::string::npos) << t.Output;
  EXPECT_EQ(t.Output.find("TOP-SECRET"), std::string::npos) << t.Output;

  const fs::path folder = fs::temp_directory_path() / ("xe_xsl_write_" + std::to_string(::getpid()));
  fs::create_directories(folder);
  fs::copy_file(Data("writes_file.xsl"), folder / "writes_file.xsl", fs::copy_options::overwrite_existing);
  fs::copy_file(Data("books.xml"), folder / "books.xml", fs::copy_options::overwrite_existing);
  const fs::path oldCwd = fs::current_path();
  fs::current_path(folder);
  const std::string error = TransformError(t, "books.xml", "writes_file.xsl");
  fs::current_path(oldCwd);
  EXPECT_NE(error, "");
  EXPECT_FALSE(fs::exists(folder / "written-by-stylesheet.txt"));
  fs::remove_all(folder);
}

TEST(XslTransform, NothingIsFetchedFromTheNetwork) {
  Listener listener;
  const std::string url = "http://127.0.0.1:" + std::to_string(listener.Port());
  const fs::path folder = fs::temp_directory_path() / ("xe_xsl_net_" + std::to_string(::getpid()));
  fs::create_directories(folder);
  const auto write = [&](const std::string &name, const std::string &text) {
    std::ofstream(folder / name, std::ios::binary) << text;
    return (folder / name).string();
  };
  const std::string head =
      "<xsl:stylesheet version=\"1.0\" xmlns:xsl=\"http://www.w3.org/1999/XSL/Transform\">";
  const std::string readsRemote =
      write("document.xsl", head +
                                "<xsl:output method=\"text\"/><xsl:template match=\"/\">[<xsl:value-of "
                                "select=\"document('" +
                                url + "/d.xml')\"/>]</xsl:template></xsl:stylesheet>");
  const std::string importsRemote =
      write("import.xsl", head + "<xsl:import href=\"" + url + "/i.xsl\"/></xsl:stylesheet>");
  const std::string remoteDtd = write("input.xml", "<!DOCTYPE r SYSTEM \"" + url + "/r.dtd\"><r/>");

  TOrbXSLTransform t;
  TransformError(t, Data("books.xml"), readsRemote);
  EXPECT_NE(TransformError(t, Data("books.xml"), importsRemote), "");
  EXPECT_EQ(TransformError(t, remoteDtd, Data("text.xsl")), "");
  EXPECT_FALSE(listener.SomebodyConnected());
  fs::remove_all(folder);
}
