#pragma once

#include "xmlmodel/xml_obj.h"

#include <filesystem>
#include <memory>
#include <string>
#include <vector>

namespace xmltest {

// A fresh folder under the system temp folder, removed with the object.
class TempDir {
public:
  TempDir();
  ~TempDir();
  const std::filesystem::path &Path() const { return FPath; }
  std::string File(const std::string &name) const { return (FPath / name).string(); }

private:
  std::filesystem::path FPath;
};

std::string ReadFile(const std::string &path);
void WriteFile(const std::string &path, const std::string &bytes);

// A document object loaded from the given XML text (written to a file in dir).
std::unique_ptr<xmlmodel::TOrbMainXML> LoadText(const TempDir &dir, const std::string &xml,
                                                const std::string &name = "doc.xml");

// The item's node written as XML (start tag, content, end tag).
std::string Xml(const xmlmodel::TOrbXMLItem *item);

// The first child item with the given name, or nullptr.
xmlmodel::TOrbXMLItem *Child(xmlmodel::TOrbXMLItem *item, const std::string &name);

// The round-trip fixtures' paths, sorted.
std::vector<std::string> RoundTripFixtures();

// Every element below root, in document order.
std::vector<xmlNode *> Elements(xmlNode *root);

} // namespace xmltest
