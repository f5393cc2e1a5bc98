#include "test_util.h"

#include <libxml/tree.h>

#include <algorithm>
#include <atomic>
#include <functional>
#include <fstream>
#include <sstream>
#include <stdexcept>

#include <unistd.h>

namespace xmltest {

TempDir::TempDir() {
  static std::atomic<int> counter{0};
  FPath = std::filesystem::temp_directory_path() /
          ("xe-xmlmodel-" + std::to_string(::getpid()) + "-" + std::to_string(counter++));
  std::filesystem::remove_all(FPath);
  std::filesystem::create_directories(FPath);
}

TempDir::~TempDir() {
  std::error_code ec;
  std::filesystem::remove_all(FPath, ec);
}

std::string ReadFile(const std::string &path) {
  std::ifstream in(path, std::ios::binary);
  if (!in)
    throw std::runtime_error("cannot read " + path);
  std::stringstream ss;
  ss << in.rdbuf();
  return ss.str();
}

void WriteFile(const std::string &path, const std::string &bytes) {
  std::ofstream out(path, std::ios::binary);
  out << bytes;
}

std::unique_ptr<xmlmodel::TOrbMainXML> LoadText(const TempDir &dir, const std::string &xml,
                                                const std::string &name) {
  WriteFile(dir.File(name), xml);
  auto doc = std::make_unique<xmlmodel::TOrbMainXML>();
  doc->FileName = dir.File(name);
  doc->Load();
  return doc;
}

std::string Xml(const xmlmodel::TOrbXMLItem *item) {
  xmlBufferPtr buffer = xmlBufferCreate();
  xmlNodeDump(buffer, item->Node()->doc, item->Node(), 0, 0);
  std::string text(reinterpret_cast<const char *>(xmlBufferContent(buffer)), xmlBufferLength(buffer));
  xmlBufferFree(buffer);
  return text;
}

xmlmodel::TOrbXMLItem *Child(xmlmodel::TOrbXMLItem *item, const std::string &name) {
  xmlmodel::TOrbXMLList *children = item->Children();
  for (int i = 0; i < children->Count(); ++i)
    if (children->Items(i)->NodeName() == name)
      return children->Items(i);
  return nullptr;
}

std::vector<std::string> RoundTripFixtures() {
  std::vector<std::string> files;
  for (const auto &entry : std::filesystem::directory_iterator(std::string(XE_TEST_DATA) + "/xmlmodel/roundtrip"))
    if (entry.path().extension() == ".xml")
      files.push_back(entry.path().string());
  std::sort(files.begin(), files.end());
  return files;
}

std::vector<xmlNode *> Elements(xmlNode *root) {
  std::vector<xmlNode *> out;
  std::function<void(xmlNode *)> walk = [&](xmlNode *node) {
    for (xmlNode *c = node->children; c != nullptr; c = c->next)
      if (c->type == XML_ELEMENT_NODE) {
        out.push_back(c);
        walk(c);
      }
  };
  walk(root);
  return out;
}

} // namespace xmltest
