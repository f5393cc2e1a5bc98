// xlsimport --template T.xml --workbook BOOK [--into DOC.xml] [--password PW] [--delimiter D] -o OUT.xml
// BOOK is an .xls, .xlsx, .xlsm or .ods workbook or delimited text, told apart by content.
// Imports the data rows of the workbook's first sheet as copies of the template's root element
// under the root element of DOC (or of a new document whose root is "root") and saves OUT.

#include "common/cli.h"
#include "common/text.h"
#include "editor/excel_import.h"
#include "workbooks/open_workbook.h"
#include "xls/workbook.h"
#include "xmlmodel/xml_obj.h"

#include <cstring>
#include <iostream>
#include <memory>
#include <string>

namespace {

const common::TCliTool kTool{
    "xlsimport",
    "--template T.xml --workbook BOOK [--into DOC.xml] [--password PW] [--delimiter D] -o OUT.xml",
    "Imports the rows of the workbook's first sheet as copies of the template's root element.",
    {{"--template", "T.xml", "the template: its root element is copied once per data row"},
     {"--workbook", "BOOK", "the workbook whose first sheet is read: .xls, .xlsx, .xlsm, .ods or delimited text"},
     {"--into", "DOC.xml", "the document that receives the copies (default: a new one named root)"},
     {"--password", "PW", "the password of an encrypted workbook"},
     {"--delimiter", "D", "the delimiter of a text workbook: comma, semicolon or tab (default: guessed)"},
     {"-o", "OUT.xml", "the file the result is saved to (also --output)"},
     {"--output", "OUT.xml", "the same as -o"}}};

struct Options {
  std::string Template, Workbook, Into, Output, Password;
  bool HasPassword = false;
  char Delimiter = 0; // 0: guessed from the text
};

bool ParseArgs(int argc, char **argv, Options &o) {
  for (int i = 1; i < argc; ++i) {
    const std::string arg = argv[i];
    if (i + 1 >= argc)
      return false;
    const std::string value = argv[++i];
    if (arg == "--template")
      o.Template = value;
    else if (arg == "--workbook")
      o.Workbook = value;
    else if (arg == "--into")
      o.Into = value;
    else if (arg == "--password")
      o.Password = value, o.HasPassword = true;
    else if (arg == "--delimiter") {
      if ((o.Delimiter = workbooks::DelimiterFromName(value)) == 0)
        return false;
    } else if (arg == "-o" || arg == "--output")
      o.Output = value;
    else
      return false;
  }
  return !o.Template.empty() && !o.Workbook.empty() && !o.Output.empty();
}

// Loads a file that must have a root element; the parser's reason otherwise.
void LoadOrThrow(xmlmodel::TOrbMainXML &doc, const std::string &path) {
  doc.FileName = path;
  doc.Load();
  if (!doc.RootItem()->HasNode()) {
    const auto &error = doc.XMLDoc().LastParseError();
    throw common::Exception("Cannot load " + path + ": " + error.Reason);
  }
}

// The written document is left to the operating system at exit instead of being freed node by
// node, which for a large import costs a good part of the import itself. Held here, it stays
// reachable, so leak checkers do not count it. Failures still free everything on the way out.
xmlmodel::TOrbMainXML *gWrittenDocument = nullptr;

} // namespace

int main(int argc, char **argv) {
  if (auto status = common::CheckCommandLine(argc, argv, kTool))
    return *status;
  Options options;
  if (!ParseArgs(argc, argv, options)) {
    return common::BadUsage(kTool, "--template, --workbook and -o are needed, each with a value");
  }
  try {
    auto document = std::make_unique<xmlmodel::TOrbMainXML>();
    xmlmodel::TOrbMainXML &doc = *document;
    {
      xmlmodel::TOrbMainXML templateDoc;
      LoadOrThrow(templateDoc, options.Template);

      xls::TXLSWorkbook workbook;
      workbook.Filename = common::Utf8ToUtf16(options.Workbook);
      if (options.HasPassword)
        workbook.Password = common::Utf8ToUtf16(options.Password);
      workbooks::ReadWorkbook(workbook, options.Delimiter);

      if (options.Into.empty())
        doc.NewDocument("root");
      else
        LoadOrThrow(doc, options.Into);

      editor::TExcelImport(workbook.SheetByIndex(0)).ImportRows(*doc.RootItem(), *templateDoc.RootItem());
    } // the workbook and the template go when the import ends, before the document is written
    doc.FileName = options.Output;
    doc.Save();
    gWrittenDocument = document.release();
  } catch (const std::exception &e) {
    std::cerr << e.what() << '\n';
    return 1;
  }
  return 0;
}
