// Feeds arbitrary bytes to the plain load, the validating load and the item tree over them.
#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <string>

#include <unistd.h>

#include "xmlmodel/xml_obj.h"
#include "xmlmodel/xsd_validate.h"

namespace {

// Builds every list below the item, reading what the editor reads of each node.
std::size_t Walk(xmlmodel::TOrbXMLItem *item) {
  std::size_t seen = item->NodeName().size() + static_cast<std::size_t>(item->NodeType());
  seen += item->Text().size();
  xmlmodel::TOrbXMLList *attributes = item->Attributes();
  for (int i = 0; i < attributes->Count(); ++i)
    seen += Walk(attributes->Items(i));
  xmlmodel::TOrbXMLList *children = item->Children();
  for (int i = 0; i < children->Count(); ++i)
    seen += Walk(children->Items(i));
  return seen;
}

void Exercise(xmlmodel::TOrbMainXML &document, const std::string &path) {
  document.FileName = path;
  document.Load();
  if (document.RootItem()->HasNode()) {
    Walk(document.RootItem());
    // The whitespace the load keeps aside, put back as nodes, changes no byte and no text.
    const std::string folded = document.XMLDoc().SaveToString();
    const std::string text = document.RootItem()->Text();
    document.XMLDoc().UnfoldAllLayout();
    if (document.XMLDoc().SaveToString() != folded || document.RootItem()->Text() != text)
      __builtin_trap();
  }
}

const std::string &InputPath() {
  static const std::string path = [] {
    const auto folder =
        std::filesystem::temp_directory_path() / ("xml_load_fuzz_" + std::to_string(::getpid()));
    std::filesystem::create_directories(folder);
    std::error_code ec;
    for (const auto &entry : std::filesystem::directory_iterator(XE_FUZZ_SCHEMAS, ec)) {
      const auto ext = entry.path().extension();
      if (ext == ".xsd" || ext == ".dtd")
        std::filesystem::copy_file(entry.path(), folder / entry.path().filename(),
                                   std::filesystem::copy_options::overwrite_existing, ec);
    }
    return (folder / "input.xml").string();
  }();
  return path;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size) {
  const std::string &path = InputPath();
  {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char *>(data), static_cast<std::streamsize>(size));
  }
  try {
    xmlmodel::TOrbMainXML plain;
    Exercise(plain, path);
    xmlmodel::TOrbMainXSDValidate validating;
    Exercise(validating, path);
    // A failed validating load leaves no root and a five-line report; a valid one, a root.
    if (validating.ValidationReport.empty() != validating.RootItem()->HasNode())
      __builtin_trap();
  } catch (const std::exception &) {
    // Clear errors are an allowed outcome; crashes and sanitizer reports are not.
  }
  return 0;
}
