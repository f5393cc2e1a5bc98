#include "xmlmodel/xsd_validate.h"

#include "listener.h"

#include <gtest/gtest.h>

#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <sstream>
#include <string>
#include <vector>

namespace fs = std::filesystem;
using xmlmodel::TOrbMainXSDValidate;

namespace {

const std::string kDir = XE_TEST_DATA "/xmlmodel/services/validate/";

std::vector<std::string> ReportLines(const std::string &report) {
  std::vector<std::string> lines;
  std::size_t start = 0;
  for (;;) {
    const auto end = report.find("\r\n", start);
    lines.push_back(report.substr(start, end == std::string::npos ? std::string::npos : end - start));
    if (end == std::string::npos)
      return lines;
    start = end + 2;
  }
}

struct Loaded {
  std::unique_ptr<TOrbMainXSDValidate> Doc;
  std::vector<std::string> Lines;
};

Loaded LoadFile(const std::string &path) {
  Loaded result{std::make_unique<TOrbMainXSDValidate>(), {}};
  result.Doc->FileName = path;
  result.Doc->Load();
  if (!result.Doc->ValidationReport.empty())
    result.Lines = ReportLines(result.Doc->ValidationReport);
  return result;
}

std::string Reason(const Loaded &l) { return l.Lines.size() > 2 ? l.Lines[2] : std::string(); }

class TempFolder {
public:
  TempFolder()
      : path_(fs::temp_directory_path() /
              ("xe_xsd_" + std::to_string(::getpid()) + "_" + std::to_string(++count_))) {
    fs::create_directories(path_);
  }
  ~TempFolder() { fs::remove_all(path_); }
  fs::path Write(const std::string &name, const std::string &text) const {
    std::ofstream(path_ / name, std::ios::binary) << text;
    return path_ / name;
  }

private:
  static inline int count_ = 0;
  fs::path path_;
};

} // namespace

TEST(XsdValidate, ValidFileLoadsLikeAPlainLoad) {
  Loaded l = LoadFile(kDir + "plain.xml");
  EXPECT_EQ(l.Doc->ValidationReport, "");
  ASSERT_TRUE(l.Doc->RootItem()->HasNode());
  EXPECT_EQ(l.Doc->RootItem()->NodeName(), "plain");
  EXPECT_FALSE(l.Doc->Modified);
  // Whitespace between elements stays, as the plain load keeps it for saving,
  const xmlNode *first = l.Doc->RootItem()->Node()->children;
  ASSERT_NE(first, nullptr);
  EXPECT_EQ(first->type, XML_TEXT_NODE);
  // and an unedited document saves as it was read, DOCTYPE and entity references included.
  for (const char *name : {"plain.xml", "dtd_external_valid.xml", "order_valid_comments.xml"}) {
    Loaded again = LoadFile(kDir + name);
    std::ifstream in(kDir + name, std::ios::binary);
    const std::string bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    EXPECT_EQ(again.Doc->XMLDoc().SaveToString(), bytes) << name;
  }
  ASSERT_EQ(l.Doc->RootChildren()->Count(), 2);
  EXPECT_EQ(l.Doc->RootChildren()->Items(1)->NodeType(), 8);
}

TEST(XsdValidate, ReportHasFiveLinesFromTheFirstError) {
  Loaded l = LoadFile(kDir + "not_well_formed.xml");
  ASSERT_EQ(l.Lines.size(), 5u) << l.Doc->ValidationReport;
  EXPECT_EQ(l.Lines[0], "Validation failed on " + kDir + "not_well_formed.xml");
  EXPECT_EQ(l.Lines[1], "=====================");
  EXPECT_EQ(l.Lines[2].rfind("Reason: ", 0), 0u);
  EXPECT_GT(l.Lines[2].size(), 8u);
  EXPECT_EQ(l.Lines[3], "Source:   <a>text</b>");
  EXPECT_EQ(l.Lines[4], "Line: 3");
  EXPECT_NE(l.Doc->ValidationReport.back(), '\n');
  EXPECT_FALSE(l.Doc->RootItem()->HasNode());
  EXPECT_ANY_THROW(l.Doc->RootItem()->Children());

  // A schema error: the line of the offending element and its text.
  l = LoadFile(kDir + "person_bad_type.xml");
  ASSERT_EQ(l.Lines.size(), 5u);
  EXPECT_NE(Reason(l).find("thirty-six"), std::string::npos) << Reason(l);
  EXPECT_EQ(l.Lines[3], "Source:   <age>thirty-six</age>");
  EXPECT_EQ(l.Lines[4], "Line: 4");
  EXPECT_FALSE(l.Doc->RootItem()->HasNode());
}

TEST(XsdValidate, MissingOrEmptyFileEndsInTheReport) {
  const std::string typed = "no/such/dir/../file.xml";
  Loaded l = LoadFile(typed);
  ASSERT_EQ(l.Lines.size(), 5u);
  EXPECT_EQ(l.Lines[0], "Validation failed on " + typed);
  EXPECT_EQ(l.Lines[3], "Source: ");
  EXPECT_EQ(l.Lines[4], "Line: 0");
  EXPECT_FALSE(l.Doc->RootItem()->HasNode());

  TempFolder folder;
  l = LoadFile(folder.Write("empty.xml", "").string());
  ASSERT_EQ(l.Lines.size(), 5u);
  EXPECT_FALSE(l.Doc->RootItem()->HasNode());
}

struct Case {
  const char *File;
  bool Valid;
};

TEST(XsdValidate, EveryKindOfSchemaAndDtdIsChecked) {
  const Case cases[] = {
      {"person_valid.xml", true},
      {"person_bad_enum.xml", false}, // no namespace
      {"order_valid.xml", true},
      {"order_bad_pattern.xml", false}, // target namespace
      {"library_valid.xml", true},
      {"library_bad_year.xml", false}, // xs:include
      {"shipment_valid.xml", true},
      {"shipment_bad_zip.xml", false}, // xs:import
      {"dtd_internal_valid.xml", true},
      {"dtd_internal_invalid.xml", false},
      {"dtd_external_valid.xml", true},
      {"dtd_external_invalid.xml", false},
      {"with space/library_valid.xml", true},
      {"with space/library_bad_isbn.xml", false},
      {"with space/dtd_external_valid.xml", true},
      {"with space/dtd_external_invalid.xml", false},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(c.File);
    Loaded l = LoadFile(kDir + c.File);
    EXPECT_EQ(l.Doc->ValidationReport.empty(), c.Valid) << l.Doc->ValidationReport;
    EXPECT_EQ(l.Doc->RootItem()->HasNode(), c.Valid);
    if (!c.Valid) {
      ASSERT_EQ(l.Lines.size(), 5u);
      EXPECT_NE(l.Lines[4], "Line: 0");
      EXPECT_NE(l.Lines[3], "Source: ");
    }
  }
}

TEST(XsdValidate, SchemasThatCannotBeLoadedAreNamed) {
  Loaded l = LoadFile(kDir + "schema_missing.xml");
  EXPECT_NE(Reason(l).find("no-such.xsd"), std::string::npos) << Reason(l);
  l = LoadFile(kDir + "schema_broken.xml");
  EXPECT_NE(Reason(l).find("broken.xsd"), std::string::npos) << Reason(l);
  EXPECT_NE(Reason(l).find("NoSuchType"), std::string::npos) << Reason(l);
  // The document line that names the schema.
  EXPECT_EQ(l.Lines.at(4), "Line: 2");
  l = LoadFile(kDir + "dtd_missing.xml");
  EXPECT_NE(Reason(l).find("no-such.dtd"), std::string::npos) << Reason(l);
  EXPECT_EQ(l.Lines.at(4), "Line: 2");
}

TEST(XsdValidate, NothingIsFetchedFromTheNetwork) {
  Listener listener;
  const std::string url = "http://127.0.0.1:" + std::to_string(listener.Port());
  TempFolder folder;
  const fs::path schemaDoc =
      folder.Write("remote_schema.xml",
                   "<?xml version=\"1.0\"?>\n<person xmlns:xsi=\"http://www.w3.org/2001/XMLSchema-instance\" "
                   "xsi:noNamespaceSchemaLocation=\"" +
                       url + "/person.xsd\" id=\"p\"><name/><age>1</age></person>");
  const fs::path dtdDoc = folder.Write("remote_dtd.xml", "<?xml version=\"1.0\"?>\n<!DOCTYPE note SYSTEM \"" +
                                                             url + "/note.dtd\">\n<note/>");
  const fs::path importer = folder.Write(
      "importer.xsd",
      "<xs:schema xmlns:xs=\"http://www.w3.org/2001/XMLSchema\">\n<xs:include schemaLocation=\"" + url +
          "/inc.xsd\"/>\n<xs:element name=\"a\"/></xs:schema>");
  const fs::path importDoc =
      folder.Write("remote_include.xml", "<a xmlns:xsi=\"http://www.w3.org/2001/XMLSchema-instance\" "
                                         "xsi:noNamespaceSchemaLocation=\"importer.xsd\"/>");
  const fs::path entityDoc = folder.Write("remote_entity.xml", "<!DOCTYPE a [<!ENTITY e SYSTEM \"" + url +
                                                                   "/e.txt\">]>\n<a>&e;</a>");

  Loaded l = LoadFile(schemaDoc.string());
  EXPECT_NE(Reason(l).find("not a local file"), std::string::npos) << Reason(l);
  l = LoadFile(dtdDoc.string());
  EXPECT_NE(Reason(l).find("not a local file"), std::string::npos) << Reason(l);
  l = LoadFile(importDoc.string());
  l = LoadFile(entityDoc.string());
  EXPECT_FALSE(listener.SomebodyConnected());

  // The fixture with a remote schema location reports it the same way.
  l = LoadFile(kDir + "schema_remote.xml");
  EXPECT_NE(Reason(l).find("remote schemas are not loaded"), std::string::npos) << Reason(l);
}

TEST(XsdValidate, ExternalEntitiesDoNotLeakLocalFiles) {
  for (const char *name : {"external_entity.xml", "external_entity_pe.xml"}) {
    SCOPED_TRACE(name);
    Loaded l = LoadFile(kDir + name);
    EXPECT_EQ(l.Doc->ValidationReport.find("TOP-SECRET"), std::string::npos) << l.Doc->ValidationReport;
    if (l.Doc->RootItem()->HasNode()) {
      EXPECT_EQ(l.Doc->RootItem()->Text().find("TOP-SECRET"), std::string::npos);
      EXPECT_EQ(l.Doc->XMLDoc().SaveToString().find("TOP-SECRET"), std::string::npos);
    }
  }
  // The plainly declared one still loads (the reference stays, empty), and saves as written.
  Loaded l = LoadFile(kDir + "external_entity.xml");
  EXPECT_EQ(l.Doc->ValidationReport, "");
  ASSERT_TRUE(l.Doc->RootItem()->HasNode());
  EXPECT_NE(l.Doc->XMLDoc().SaveToString().find("&secret;"), std::string::npos);
}

TEST(XsdValidate, EntityAmplificationIsRefusedQuickly) {
  const auto start = std::chrono::steady_clock::now();
  Loaded l = LoadFile(kDir + "billion_laughs.xml");
  const auto elapsed = std::chrono::steady_clock::now() - start;
  ASSERT_EQ(l.Lines.size(), 5u);
  EXPECT_FALSE(l.Doc->RootItem()->HasNode());
  EXPECT_LT(elapsed, std::chrono::seconds(5));
}

// The same verdicts as an independent validator given the schema on its command line.
TEST(XsdValidate, AgreesWithXmllint) {
  if (std::system("which xmllint > /dev/null 2>&1") != 0)
    GTEST_SKIP() << "xmllint is not installed";
  const std::pair<const char *, const char *> files[] = {
      {"person_valid.xml", "person.xsd"},
      {"person_bad_type.xml", "person.xsd"},
      {"person_valid_minimal.xml", "person.xsd"},
      {"person_missing_attr.xml", "person.xsd"},
      {"person_valid_editor.xml", "person.xsd"},
      {"person_bad_enum.xml", "person.xsd"},
      {"order_valid.xml", "order.xsd"},
      {"person_wrong_order.xml", "person.xsd"},
      {"order_valid_prefixed.xml", "order.xsd"},
      {"person_too_many.xml", "person.xsd"},
      {"order_valid_comments.xml", "order.xsd"},
      {"person_unknown_element.xml", "person.xsd"},
      {"library_valid.xml", "library.xsd"},
      {"person_negative_age.xml", "person.xsd"},
      {"library_valid_many.xml", "library.xsd"},
      {"order_bad_pattern.xml", "order.xsd"},
      {"shipment_valid.xml", "shipment.xsd"},
      {"order_zero_qty.xml", "order.xsd"},
      {"shipment_valid_light.xml", "shipment.xsd"},
      {"order_empty.xml", "order.xsd"},
      {"order_wrong_namespace.xml", "order.xsd"},
      {"library_bad_isbn.xml", "library.xsd"},
      {"library_bad_year.xml", "library.xsd"},
      {"shipment_bad_zip.xml", "shipment.xsd"},
      {"shipment_bad_weight.xml", "shipment.xsd"},
  };
  int valid = 0, invalid = 0;
  for (const auto &[file, schema] : files) {
    SCOPED_TRACE(file);
    const std::string command =
        "cd '" + kDir + "' && xmllint --noout --schema '" + schema + "' '" + file + "' > /dev/null 2>&1";
    const int status = std::system(command.c_str());
    ASSERT_TRUE(WIFEXITED(status));
    const bool xmllintValid = WEXITSTATUS(status) == 0;
    Loaded l = LoadFile(kDir + file);
    EXPECT_EQ(l.Doc->ValidationReport.empty(), xmllintValid) << l.Doc->ValidationReport;
    (xmllintValid ? valid : invalid)++;
  }
  EXPECT_GE(valid, 10);
  EXPECT_GE(invalid, 10);
}

TEST(XsdValidate, SourceLineIsReadableText) {
  TempFolder folder;
  // A Latin-1 file, and a line too long to show in full.
  const fs::path latin =
      folder.Write("latin.xml", "<?xml version=\"1.0\" encoding=\"ISO-8859-1\"?>\n<a>\xD8</b>");
  Loaded l = LoadFile(latin.string());
  ASSERT_EQ(l.Lines.size(), 5u);
  EXPECT_EQ(l.Lines[3], "Source: <a>\xC3\x98</b>");
  std::string utf16 = "\xFF\xFE";
  for (char c : std::string("<a>\n<b></a>"))
    utf16 += std::string{c, '\0'};
  l = LoadFile(folder.Write("utf16.xml", utf16).string());
  ASSERT_EQ(l.Lines.size(), 5u);
  EXPECT_EQ(l.Lines[3], "Source: <b></a>");
  EXPECT_EQ(l.Lines[4], "Line: 2");
  const fs::path longLine = folder.Write("long.xml", "<a>" + std::string(100000, 'x') + "</b>");
  l = LoadFile(longLine.string());
  ASSERT_EQ(l.Lines.size(), 5u);
  EXPECT_LT(l.Lines[3].size(), 2000u);
  EXPECT_EQ(l.Lines[4], "Line: 1");
}
