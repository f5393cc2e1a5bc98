#include "test_util.h"

#include "common/exception.h"

#include <gtest/gtest.h>
#include <libxml/c14n.h>
#include <libxml/parser.h>

#include <csignal>
#include <filesystem>

#include <sys/resource.h>
#include <sys/stat.h>

using namespace xmlmodel;
using xmltest::LoadText;
using xmltest::ReadFile;
using xmltest::TempDir;
namespace fs = std::filesystem;

namespace {

const std::string kRoundTrip = std::string(XE_TEST_DATA) + "/xmlmodel/roundtrip";

// Canonical form (with comments, entities replaced) of a file: equal for documents that differ
// only in how they are written.
std::string Canonical(const std::string &path) {
  xmlDocPtr doc = xmlReadFile(path.c_str(), nullptr, XML_PARSE_NOENT | XML_PARSE_NONET);
  if (doc == nullptr)
    return "(unreadable)";
  xmlChar *out = nullptr;
  int size = xmlC14NDocDumpMemory(doc, nullptr, XML_C14N_1_0, nullptr, 1, &out);
  std::string text = size >= 0 ? std::string(reinterpret_cast<char *>(out), size) : "(no c14n)";
  xmlFree(out);
  xmlFreeDoc(doc);
  return text;
}

std::vector<std::string> FilesIn(const fs::path &folder) {
  std::vector<std::string> names;
  for (const auto &entry : fs::directory_iterator(folder))
    names.push_back(entry.path().filename().string());
  std::sort(names.begin(), names.end());
  return names;
}

} // namespace

TEST(Save, UneditedDocumentsSaveByteForByte) {
  TempDir dir;
  int count = 0;
  for (const auto &entry : fs::directory_iterator(kRoundTrip)) {
    const std::string name = entry.path().filename().string();
    if (name == "README.md")
      continue;
    ++count;
    const std::string original = ReadFile(entry.path().string());
    const std::string copy = dir.File(name);
    xmltest::WriteFile(copy, original);
    TOrbMainXML doc;
    doc.FileName = copy;
    doc.Load();
    ASSERT_TRUE(doc.RootItem()->HasNode()) << name << ": " << doc.XMLDoc().LastParseError().Reason;
    // Walking the whole item tree must not change what is written.
    std::vector<TOrbXMLItem *> pending{doc.RootItem()};
    while (!pending.empty()) {
      TOrbXMLItem *item = pending.back();
      pending.pop_back();
      item->Attributes();
      for (int i = 0; i < item->Children()->Count(); ++i)
        pending.push_back(item->Children()->Items(i));
    }
    doc.Save();
    EXPECT_EQ(ReadFile(copy), original) << name;
    EXPECT_EQ(Canonical(copy), Canonical(entry.path().string())) << name;
  }
  EXPECT_GE(count, 10);
}

TEST(Save, OtherEncodingsAndCharacterReferencesKeepTheCanonicalForm) {
  TempDir dir;
  const std::string latin1 = "<?xml version='1.0' encoding='ISO-8859-1'?>\n"
                             "<r a='caf\xE9'>na\xEFve &#x20AC; &#65;&lt;&gt;\t<e></e></r>\n";
  auto doc = LoadText(dir, latin1, "latin1.xml");
  xmltest::WriteFile(dir.File("original.xml"), latin1);
  doc->Save();
  // Written as UTF-8 with the declaration saying so; the content is the same document.
  EXPECT_EQ(ReadFile(doc->FileName), "<?xml version='1.0' encoding='UTF-8'?>\n"
                                     "<r a='caf\xC3\xA9'>na\xC3\xAFve \xE2\x82\xAC A&lt;&gt;\t<e></e></r>\n");
  EXPECT_EQ(Canonical(doc->FileName), Canonical(dir.File("original.xml")));
}

TEST(Save, EditedDocumentsKeepTheirLineEndsAndUntouchedMarkup) {
  TempDir dir;
  auto doc = LoadText(dir, "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\r\n"
                           "<list\r\n   name='x'>\r\n"
                           "  <entry key=\"a\"></entry>\r\n"
                           "</list>\r\n");
  TOrbXMLItem *entry = doc->RootChildren()->Items(0);
  doc->RootChildren()->CreateNode("entry", ntElement, entry);
  doc->Save();
  EXPECT_EQ(ReadFile(doc->FileName), "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\r\n"
                                     "<list\r\n   name='x'>\r\n"
                                     "  <entry key=\"a\"></entry>\r\n"
                                     "  <entry key=\"a\"></entry>\r\n"
                                     "</list>\r\n");
  // Changing an attribute rewrites that one start tag in the plain form only.
  doc->RootItem()->Attributes()->CreateNode("id", ntAttribute, nullptr)->SetText("7");
  doc->Save();
  EXPECT_EQ(ReadFile(doc->FileName), "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\r\n"
                                     "<list name=\"x\" id=\"7\">\r\n"
                                     "  <entry key=\"a\"></entry>\r\n"
                                     "  <entry key=\"a\"></entry>\r\n"
                                     "</list>\r\n");
}

TEST(Save, AFailedSaveLeavesTheOldFileAndTheFlag) {
  TempDir dir;
  // A folder that does not exist.
  TOrbMainXML fresh;
  fresh.NewDocument("root");
  fresh.RootChildren()->CreateNode("x", ntElement, nullptr);
  fresh.FileName = dir.File("no/such/folder/out.xml");
  try {
    fresh.Save();
    ADD_FAILURE() << "no error";
  } catch (const common::Exception &e) {
    EXPECT_NE(std::string(e.what()).find("Cannot save"), std::string::npos) << e.what();
  }
  EXPECT_TRUE(fresh.Modified);
  // A folder where the file should be.
  fs::create_directory(dir.File("taken.xml"));
  fresh.FileName = dir.File("taken.xml");
  EXPECT_THROW(fresh.Save(), common::Exception);
  EXPECT_TRUE(fs::is_directory(dir.File("taken.xml")));
  EXPECT_TRUE(fresh.Modified);

  // A write that fails half-way (file size limit; works for root too): the old file stays.
  const std::string old = "<?xml version=\"1.0\"?>\n<data/>\n";
  auto doc = LoadText(dir, old, "data.xml");
  ::chmod(doc->FileName.c_str(), 0640);
  for (int i = 0; i < 2000; ++i)
    doc->RootChildren()->CreateNode("row", ntElement, nullptr)->SetText("some text to make the file large");
  ASSERT_TRUE(doc->Modified);
  auto previous = std::signal(SIGXFSZ, SIG_IGN);
  rlimit saved{};
  ::getrlimit(RLIMIT_FSIZE, &saved);
  rlimit small = saved;
  small.rlim_cur = 4096;
  ::setrlimit(RLIMIT_FSIZE, &small);
  bool failed = false;
  try {
    doc->Save();
  } catch (const common::Exception &) {
    failed = true;
  }
  ::setrlimit(RLIMIT_FSIZE, &saved);
  std::signal(SIGXFSZ, previous);
  EXPECT_TRUE(failed);
  EXPECT_EQ(ReadFile(doc->FileName), old);
  EXPECT_TRUE(doc->Modified);
  EXPECT_EQ(FilesIn(dir.Path()), (std::vector<std::string>{"data.xml", "taken.xml"})); // no temp file left

  // Once it can be written, the file keeps its permissions.
  doc->Save();
  EXPECT_FALSE(doc->Modified);
  struct stat st {};
  ::stat(doc->FileName.c_str(), &st);
  EXPECT_EQ(st.st_mode & 0777, 0640u);
  const std::string written = ReadFile(doc->FileName);
  size_t rows = 0;
  for (size_t at = written.find("<row>"); at != std::string::npos; at = written.find("<row>", at + 1))
    ++rows;
  EXPECT_EQ(rows, 2000u);
}

TEST(Save, ThroughASymbolicLinkTheLinkStays) {
  TempDir dir;
  auto doc = LoadText(dir, "<a/>", "real.xml");
  fs::create_symlink(dir.File("real.xml"), dir.File("link.xml"));
  doc->FileName = dir.File("link.xml");
  doc->RootChildren()->CreateNode("b", ntElement, nullptr);
  doc->Save();
  EXPECT_TRUE(fs::is_symlink(dir.File("link.xml")));
  EXPECT_EQ(ReadFile(dir.File("real.xml")), "<a><b/></a>");
}

TEST(Save, LargeFilesKeepTheirLayoutAroundTheRootToo) {
  TempDir dir;
  std::string big = "\xEF\xBB\xBF<?xml version=\"1.0\"?>\r\n<!-- head -->\r\n<rows>\r\n";
  for (int i = 0; big.size() < 3u * 1024 * 1024; ++i)
    big += "  <row n=\"" + std::to_string(i) + "\">value " + std::to_string(i) + "</row>\r\n";
  big += "</rows>\r\n\r\n<!-- tail -->\r\n<?done?>";
  auto doc = LoadText(dir, big, "big.xml");
  ASSERT_TRUE(doc->RootItem()->HasNode());
  doc->Save();
  EXPECT_TRUE(ReadFile(doc->FileName) == big);
}

TEST(Save, ANewFileGetsTheModeTheUmaskAllows) {
  TempDir dir;
  auto doc = LoadText(dir, "<a/>");
  const mode_t previous = ::umask(027);
  doc->FileName = dir.File("new.xml");
  doc->Save();
  ::umask(previous);
  struct stat st {};
  ASSERT_EQ(::stat(doc->FileName.c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 0777, 0640u);
  EXPECT_EQ(FilesIn(dir.Path()), (std::vector<std::string>{"doc.xml", "new.xml"}));
}
