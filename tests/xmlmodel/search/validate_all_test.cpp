#include "xmlmodel/xsd_validate.h"

#include "search_support.h"

#include <gtest/gtest.h>

#include <sstream>
#include <string>
#include <vector>

using xmlmodel::ValidateDocument;
using xmlmodel::ValidationErrors;
using namespace search_support;

namespace {

// The line numbers of the "FILE:LINE: ..." lines of a validator's output for file.
std::vector<int> ErrorLines(const std::string &output, const std::string &file) {
  std::vector<int> lines;
  std::istringstream in(output);
  std::string line;
  while (std::getline(in, line))
    if (line.rfind(file + ":", 0) == 0)
      lines.push_back(std::stoi(line.substr(file.size() + 1)));
  return lines;
}

std::vector<int> Lines(const ValidationErrors &result) {
  std::vector<int> lines;
  for (const auto &error : result.Errors)
    lines.push_back(error.Line);
  return lines;
}

std::vector<std::string> Paths(const ValidationErrors &result) {
  std::vector<std::string> paths;
  for (const auto &error : result.Errors)
    paths.push_back(error.Path);
  return paths;
}

} // namespace

TEST(ValidateAll, EverySchemaErrorAsXmllintListsIt) {
  const std::string file = kDir + "orders_errors.xml";
  const std::vector<int> expected =
      ErrorLines(Execute("cd '" + kDir + "' && xmllint --noout --schema orders.xsd orders_errors.xml 2>&1").Out,
                 "orders_errors.xml");
  ASSERT_EQ(expected.size(), 5u);

  // The open document.
  auto doc = Load("orders_errors.xml");
  const ValidationErrors result = ValidateDocument(*doc);
  EXPECT_FALSE(result.Cancelled);
  EXPECT_EQ(Lines(result), expected);
  EXPECT_EQ(Paths(result), (std::vector<std::string>{"/orders/order[1]/qty", "/orders/order[2]",
                                                     "/orders/order[3]/status", "/orders/order[4]",
                                                     "/orders/order[4]/colour"}));
  ASSERT_EQ(result.Errors.size(), 5u);
  EXPECT_EQ(result.Errors[0].Node, doc->RootItem()->Children()->Items(0)->Children()->Items(1)->Node());
  EXPECT_NE(result.Errors[2].Message.find("'lost'"), std::string::npos) << result.Errors[2].Message;

  // The command line, one error a line; without --all the report of the validating load.
  const RunResult all = Execute("'" XE_XSDVALIDATE "' --all '" + file + "'");
  EXPECT_EQ(all.Status, 1);
  EXPECT_EQ(ErrorLines(all.Out, file), expected) << all.Out;
  EXPECT_NE(all.Out.find(file + ":16: Element 'status': [facet 'enumeration'] The value 'lost'"), std::string::npos)
      << all.Out;
  const RunResult report = Execute("'" XE_XSDVALIDATE "' '" + file + "'");
  EXPECT_EQ(report.Status, 1);
  EXPECT_EQ(report.Out.rfind("Validation failed on " + file + "\r\n", 0), 0u) << report.Out;
  EXPECT_NE(report.Out.find("\r\nLine: 5\n"), std::string::npos) << report.Out;

  const RunResult valid = Execute("'" XE_XSDVALIDATE "' --all '" + kDir + "orders_valid.xml'");
  EXPECT_EQ(valid.Status, 0);
  EXPECT_EQ(valid.Out, "");
  EXPECT_EQ(Execute("'" XE_XSDVALIDATE "' --every '" + file + "' 2>/dev/null").Status, 2);
}

TEST(ValidateAll, EveryDtdError) {
  const std::string file = kDir + "notes_errors.xml";
  const std::vector<int> expected =
      ErrorLines(Execute("cd '" + kDir + "' && xmllint --noout --valid notes_errors.xml 2>&1").Out, "notes_errors.xml");
  ASSERT_EQ(expected.size(), 3u);
  const RunResult all = Execute("'" XE_XSDVALIDATE "' --all '" + file + "'");
  EXPECT_EQ(all.Status, 1);
  EXPECT_EQ(ErrorLines(all.Out, file), expected) << all.Out;

  // In memory the DTD is read for the check and given back; the nodes' start tags give the lines.
  auto doc = Load("notes_errors.xml");
  const std::string before = doc->XMLDoc().SaveToString();
  const ValidationErrors result = ValidateDocument(*doc);
  EXPECT_EQ(Paths(result), (std::vector<std::string>{"/notes/note[2]", "/notes/note[2]", "/notes/note[3]"}));
  EXPECT_EQ(Lines(result), (std::vector<int>{8, 8, 11}));
  EXPECT_EQ(doc->XMLDoc().Doc()->extSubset, nullptr);
  EXPECT_EQ(doc->XMLDoc().SaveToString(), before);
}

TEST(ValidateAll, UnsavedEditsAreValidated) {
  auto doc = Load("orders_valid.xml");
  EXPECT_TRUE(ValidateDocument(*doc).Errors.empty());

  xmlmodel::TOrbXMLItem *order2 = doc->RootItem()->Children()->Items(1);
  xmlmodel::TOrbXMLItem *qty = order2->Children()->Items(1);
  ASSERT_EQ(qty->NodeName(), "qty");
  qty->SetText("-3");
  ValidationErrors result = ValidateDocument(*doc);
  ASSERT_EQ(result.Errors.size(), 1u);
  EXPECT_EQ(result.Errors[0].Node, qty->Node());
  EXPECT_EQ(result.Errors[0].Path, "/orders/order[2]/qty");
  EXPECT_EQ(result.Errors[0].Line, 10);

  // A node made in memory has no line of its own: its parent's is given.
  qty->SetText("3");
  xmlmodel::TOrbXMLItem *extra = order2->Children()->CreateNode("gift", xmlmodel::ntElement);
  result = ValidateDocument(*doc);
  ASSERT_EQ(result.Errors.size(), 1u);
  EXPECT_EQ(result.Errors[0].Node, extra->Node());
  EXPECT_EQ(result.Errors[0].Path, "/orders/order[2]/gift");
  EXPECT_EQ(result.Errors[0].Line, 8);

  int calls = 0;
  result = ValidateDocument(*doc, [&](double) { return ++calls < 1; });
  EXPECT_TRUE(result.Cancelled);

  // A load cancelled while the file is read says so and keeps no document.
  xmlmodel::XsdValidation load = xmlmodel::ValidateXmlFile(kDir + "orders_errors.xml", true, [](double) { return false; });
  EXPECT_TRUE(load.All.Cancelled);
  EXPECT_EQ(load.Error.Reason, "Cancelled");
  EXPECT_EQ(load.Doc, nullptr);
}

TEST(ValidateAll, SchemaThatCannotBeRead) {
  xmlmodel::TOrbMainXML doc;
  doc.NewDocument("orders");
  xmlNode *root = doc.XMLDoc().DocumentElement();
  xmlNs *xsi = xmlNewNs(root, BAD_CAST "http://www.w3.org/2001/XMLSchema-instance", BAD_CAST "xsi");
  xmlSetNsProp(root, xsi, BAD_CAST "noNamespaceSchemaLocation", BAD_CAST "missing.xsd");
  ValidationErrors result = ValidateDocument(doc.XMLDoc(), kDir + "new.xml");
  ASSERT_EQ(result.Errors.size(), 1u);
  EXPECT_NE(result.Errors[0].Message.find("Cannot load the schema \"missing.xsd\""), std::string::npos)
      << result.Errors[0].Message;

  // The folder of the file name decides where a relative schema is looked for.
  xmlSetNsProp(root, xsi, BAD_CAST "noNamespaceSchemaLocation", BAD_CAST "orders.xsd");
  result = ValidateDocument(doc.XMLDoc(), kDir + "new.xml");
  ASSERT_EQ(result.Errors.size(), 1u);
  EXPECT_NE(result.Errors[0].Message.find("Missing child element"), std::string::npos) << result.Errors[0].Message;
  EXPECT_EQ(result.Errors[0].Path, "/orders");
}
