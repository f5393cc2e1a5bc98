// Arbitrary bytes through the zip container and the .xlsx and .ods readers. The first byte picks
// where the input goes: the whole input is the file (a zip archive starts with "P", which picks
// this), or the rest after it is one part of an
// otherwise sound .xlsx (a worksheet, the shared strings, the workbook part) or .ods
// (content.xml), stored uncompressed, so that the XML handling is reached without the fuzzer
// having to build a valid deflate stream first. Every cell read is then written as xlsdump's
// JSON.

#include <cstdint>
#include <cstdio>
#include <map>
#include <sstream>
#include <string>
#include <unistd.h>

#include <zip.h>

#include "common/text.h"
#include "json_dump.h"
#include "workbooks/open_workbook.h"
#include "xls/workbook.h"

namespace {

const char kWorkbook[] =
    R"(<workbook xmlns="http://schemas.openxmlformats.org/spreadsheetml/2006/main" )"
    R"(xmlns:r="http://schemas.openxmlformats.org/officeDocument/2006/relationships"><sheets>)"
    R"(<sheet name="A" sheetId="1" r:id="rId1"/><sheet name="B" sheetId="2" state="hidden" r:id="rId2"/></sheets></workbook>)";
const char kSheet[] = R"(<worksheet xmlns="http://schemas.openxmlformats.org/spreadsheetml/2006/main"><sheetData>)"
                      R"(<row r="1"><c r="A1" t="s"><v>0</v></c><c r="B1"><v>1.5</v></c></row></sheetData></worksheet>)";
const char kStrings[] = R"(<sst xmlns="http://schemas.openxmlformats.org/spreadsheetml/2006/main"><si><t>x</t></si></sst>)";

std::map<std::string, std::string> XlsxParts() {
  const std::string rel = "http://schemas.openxmlformats.org/officeDocument/2006/relationships/";
  return {
      {"[Content_Types].xml", "<Types/>"},
      {"_rels/.rels", "<Relationships><Relationship Id=\"r\" Type=\"" + rel +
                          "officeDocument\" Target=\"xl/workbook.xml\"/></Relationships>"},
      {"xl/workbook.xml", kWorkbook},
      {"xl/_rels/workbook.xml.rels",
       "<Relationships><Relationship Id=\"rId1\" Type=\"" + rel + "worksheet\" Target=\"worksheets/sheet1.xml\"/>" +
           "<Relationship Id=\"rId2\" Type=\"" + rel + "worksheet\" Target=\"/xl/worksheets/sheet2.xml\"/>" +
           "<Relationship Id=\"rId3\" Type=\"" + rel + "sharedStrings\" Target=\"sharedStrings.xml\"/></Relationships>"},
      {"xl/worksheets/sheet1.xml", kSheet},
      {"xl/worksheets/sheet2.xml", kSheet},
      {"xl/sharedStrings.xml", kStrings},
  };
}

bool WriteZip(const std::string &path, const std::map<std::string, std::string> &parts) {
  int error = 0;
  zip_t *z = zip_open(path.c_str(), ZIP_CREATE | ZIP_TRUNCATE, &error);
  if (!z)
    return false;
  for (const auto &[name, data] : parts) {
    zip_source_t *src = zip_source_buffer(z, data.data(), data.size(), 0);
    const zip_int64_t index = zip_file_add(z, name.c_str(), src, ZIP_FL_OVERWRITE);
    if (index < 0) {
      zip_source_free(src);
      zip_discard(z);
      return false;
    }
    zip_set_file_compression(z, static_cast<zip_uint64_t>(index), ZIP_CM_STORE, 0);
  }
  return zip_close(z) == 0;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  if (size < 1)
    return 0;
  static const std::string path = "/tmp/fuzz_xlsx_read_" + std::to_string(getpid()) + ".bin";
  const std::string rest(reinterpret_cast<const char *>(data + 1), size - 1);
  bool written = true;
  switch (data[0] % 5) {
  case 0: {
    FILE *f = std::fopen(path.c_str(), "wb");
    if (!f)
      return 0;
    std::fwrite(data, 1, size, f);
    std::fclose(f);
    break;
  }
  case 1: {
    auto parts = XlsxParts();
    parts["xl/worksheets/sheet1.xml"] = rest;
    written = WriteZip(path, parts);
    break;
  }
  case 2: {
    auto parts = XlsxParts();
    parts["xl/sharedStrings.xml"] = rest;
    written = WriteZip(path, parts);
    break;
  }
  case 3: {
    auto parts = XlsxParts();
    parts["xl/workbook.xml"] = rest;
    written = WriteZip(path, parts);
    break;
  }
  default:
    written = WriteZip(path, {{"mimetype", "application/vnd.oasis.opendocument.spreadsheet"}, {"content.xml", rest}});
    break;
  }
  if (!written)
    return 0;
  // One workbook serves every run (the read empties it first): making and freeing its memory
  // costs far more than a small read.
  static xls::TXLSWorkbook book;
  book.Filename = common::Utf8ToUtf16(path);
  try {
    workbooks::ReadWorkbook(book);
  } catch (const std::exception &) {
  }
  std::ostringstream out;
  xlsdump::DumpWorkbook(out, book);
  return 0;
}
