// Real workbooks written by independent programs, compared cell by cell with the values an
// independent reader found in them (tests/data/xls/reader/make_corpus.py).

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <functional>
#include <iterator>
#include <set>
#include <sstream>
#include <vector>

#include "common/exception.h"
#include "common/text.h"
#include "json_dump.h"
#include "xls/workbook.h"

using namespace xls;

namespace {

const std::string Dir = std::string(XE_TEST_DATA) + "/xls/reader/";

std::string Unescape(const std::string &s) {
  std::string out;
  for (size_t i = 0; i < s.size(); ++i) {
    if (s[i] != '\\' || i + 1 == s.size()) {
      out += s[i];
      continue;
    }
    const char c = s[++i];
    out += c == 't' ? '\t' : c == 'n' ? '\n' : c == 'r' ? '\r' : c;
  }
  return out;
}

std::vector<std::string> Split(const std::string &line) {
  std::vector<std::string> fields;
  std::stringstream ss(line);
  std::string f;
  while (std::getline(ss, f, '\t'))
    fields.push_back(f);
  if (!line.empty() && line.back() == '\t')
    fields.emplace_back();
  return fields;
}

struct ExpectedSheet {
  std::string Name;
  int Hidden = 0;
  std::vector<std::vector<std::string>> Cells; // row, col, type, value
};

std::vector<ExpectedSheet> ReadExpected(const std::string &path) {
  std::ifstream in(path);
  EXPECT_TRUE(in) << path;
  std::vector<ExpectedSheet> sheets;
  std::string line;
  while (std::getline(in, line)) {
    auto f = Split(line);
    if (f.size() >= 3 && f[0] == "sheet")
      sheets.push_back({Unescape(f[1]), std::atoi(f[2].c_str()), {}});
    else if (f.size() >= 4 && f[0] == "cell" && !sheets.empty())
      sheets.back().Cells.push_back({f[1], f[2], f[3], f.size() > 4 ? Unescape(f[4]) : ""});
  }
  return sheets;
}

} // namespace

class Corpus : public ::testing::TestWithParam<const char *> {};

TEST_P(Corpus, EveryCellMatchesTheIndependentReader) {
  const std::string name = GetParam();
  const auto expected = ReadExpected(Dir + name + ".expected.tsv");
  ASSERT_FALSE(expected.empty());
  TXLSWorkbook wb;
  wb.Filename = common::Utf8ToUtf16(Dir + name + ".xls");
  if (name == "lo_encrypted")
    wb.Password = u"corpus";
  wb.Read();
  EXPECT_EQ(wb.Version(), name.find("biff5") != std::string::npos ? xvExcel50 : xvExcel97);
  ASSERT_EQ(wb.Sheets().Count(), static_cast<int>(expected.size()));
  for (size_t i = 0; i < expected.size(); ++i) {
    TSheet &sheet = wb.SheetByIndex(static_cast<int>(i));
    const ExpectedSheet &e = expected[i];
    // BIFF5 files of this corpus hold no characters outside ASCII in their sheet names.
    EXPECT_EQ(common::Utf16ToUtf8(sheet.Name()), e.Name);
    EXPECT_EQ(sheet.Hidden, e.Hidden) << e.Name;
    size_t ours = 0;
    sheet.Cells().ResetIteration();
    while (sheet.Cells().NextCell())
      ++ours;
    EXPECT_EQ(ours, e.Cells.size()) << e.Name;
    for (const auto &c : e.Cells) {
      const int row = std::atoi(c[0].c_str()), col = std::atoi(c[1].c_str()), type = std::atoi(c[2].c_str());
      const std::string &value = c[3];
      const int kind = sheet.CellType(col, row);
      const std::string text = common::Utf16ToUtf8(sheet.AsText(col, row));
      SCOPED_TRACE(e.Name + " row " + c[0] + " col " + c[1]);
      switch (type) {
      case 1:
        EXPECT_TRUE(kind == ckString || kind == ckStringFormula) << kind;
        EXPECT_EQ(text, value);
        break;
      case 7:
        EXPECT_TRUE(kind == ckString || kind == ckStringFormula) << kind;
        EXPECT_GT(text.size(), value.size());
        EXPECT_EQ(text.substr(0, value.size()), value);
        break;
      case 2:
      case 3:
        EXPECT_TRUE(kind == ckFloat || kind == ckNumberFormula || kind == ckArrayFormula) << kind;
        EXPECT_EQ(sheet.AsFloat(col, row), std::strtod(value.c_str(), nullptr));
        break;
      case 4:
        EXPECT_TRUE(kind == ckBoolean || kind == ckBooleanFormula) << kind;
        EXPECT_EQ(sheet.AsVariant(col, row).ToText(), value);
        break;
      case 5:
        EXPECT_TRUE(kind == ckError || kind == ckErrorFormula) << kind;
        EXPECT_EQ(text, value);
        break;
      case 6: EXPECT_EQ(kind, ckBlank); break;
      default: ADD_FAILURE() << "unknown type " << type;
      }
    }
  }
}

INSTANTIATE_TEST_SUITE_P(Files, Corpus,
                         ::testing::Values("xlwt_biff8", "gnumeric_biff5", "gnumeric_biff8", "lo_biff8",
                                           "lo_to_biff5", "lo_encrypted"));

TEST(CorpusDump, JsonOfARealFile) {
  TXLSWorkbook wb;
  wb.Filename = common::Utf8ToUtf16(Dir + "lo_biff8.xls");
  wb.Read();
  std::ostringstream out;
  xlsdump::DumpWorkbook(out, wb);
  const std::string json = out.str();
  EXPECT_EQ(json.rfind("{\"version\": \"xvExcel97\", \"sheets\": [", 0), 0u);
  EXPECT_NE(json.find("{\"name\": \"Secret\", \"hidden\": 1, \"kind\": 0,"), std::string::npos);
  EXPECT_NE(json.find("[2, 2, 5, \"line one\\nline two\", \"line one\\nline two\"]"), std::string::npos);
  EXPECT_NE(json.find("[3, 1, 11, \"#DIV/0!\", \"#DIV/0!\"]"), std::string::npos);
}

TEST(CorpusDump, EncryptedFileNeedsItsPassword) {
  TXLSWorkbook wb;
  wb.Filename = common::Utf8ToUtf16(Dir + "lo_encrypted.xls");
  try {
    wb.Read();
    FAIL();
  } catch (const common::Exception &e) {
    const std::string m = e.what();
    EXPECT_EQ(m.substr(m.find('\r') + 1), "File is encrypted. Password required.");
  }
  ASSERT_EQ(wb.Sheets().Count(), 1);
}

TEST(CorpusDump, NumbersAsTheNumberTextRuleWritesThem) {
  const double values[] = {
      0.0, -0.0, 1,         -5,    999999999999999,   -999999999999999, 1e15, 123456789012345,
      2.5, 1e-5, 0.1 + 0.2, 1e300, 4503599627370497.0};
  TXLSWorkbook wb;
  TSheet &sheet = wb.SheetByIndex(0);
  int row = 0;
  for (double v : values)
    sheet.StoreFloat(0, row++, v, 0);
  std::ostringstream out;
  xlsdump::DumpWorkbook(out, wb);
  const std::string json = out.str();
  for (row = 0; row < static_cast<int>(std::size(values)); ++row) {
    const std::string text = common::Utf16ToUtf8(sheet.AsText(0, row));
    const std::string line = "[" + std::to_string(row) + ", 0, 4, \"" + text + "\", \"" + text + "\"]";
    EXPECT_NE(json.find(line), std::string::npos) << line;
  }
}

TEST(CorpusDump, StringCellsOfEitherWidthAsUtf8) {
  // 8-bit entries are written from their bytes, ASCII ones as they stand; the text must be what
  // the cell's text gives, escapes included.
  const std::u16string texts[] = {u"plain", u"", u"q\"b\\\x01", u"caf\u00E9\u00FF\u0080",
                                  u"\u0416\U0001F600x", u"tab\tend\u00E9", u"\u00E9", u"a\u00A0"};
  TXLSWorkbook wb;
  TSheet &sheet = wb.SheetByIndex(0);
  int row = 0;
  for (const std::u16string &t : texts)
    sheet.StoreString(0, row++, t, 0);
  std::ostringstream out;
  xlsdump::DumpWorkbook(out, wb);
  const std::string json = out.str();
  for (row = 0; row < static_cast<int>(std::size(texts)); ++row) {
    std::string text;
    xlsdump::AppendJsonString(text, common::Utf16ToUtf8(texts[row]));
    const std::string line = "[" + std::to_string(row) + ", 0, 5, " + text + ", " + text + "]";
    EXPECT_NE(json.find(line), std::string::npos) << line;
  }
  EXPECT_NE(json.find("\"caf\xC3\xA9\xC3\xBF\xC2\x80\""), std::string::npos);
}

namespace {
// The dump of a read, or the message that ended it.
std::string Outcome(TXLSWorkbook &wb, const std::function<void()> &read) {
  try {
    read();
  } catch (const std::exception &e) {
    return std::string("error: ") + e.what();
  }
  std::ostringstream out;
  xlsdump::DumpWorkbook(out, wb);
  return out.str();
}
} // namespace

TEST(CorpusDump, DamagedFilesReadAlikeFromDiskAndFromMemory) {
  // A file on disk is read through a window over its sectors, an image in memory whole; cut
  // short or with bytes changed, both must end the same way, with the same cells or message.
  const std::string tmp = std::string(XE_BINARY_DIR) + "/damaged_corpus.xls";
  for (const char *name : {"lo_biff8", "gnumeric_biff7", "lo_password_velvet"}) {
    std::ifstream in(std::string(XE_TEST_DATA) + "/xls/" + name + ".xls", std::ios::binary);
    ASSERT_TRUE(in) << name;
    const std::vector<uint8_t> original{std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
    std::vector<std::vector<uint8_t>> variants{original};
    for (size_t k = 1; k < 8; ++k)
      variants.emplace_back(original.begin(), original.begin() + static_cast<long>(original.size() * k / 8));
    uint32_t seed = 12345;
    for (int v = 0; v < 12; ++v) {
      std::vector<uint8_t> bytes = original;
      for (int flips = 0; flips < 4; ++flips) {
        seed = seed * 1103515245u + 12345u;
        // Half the changes land in the header, FAT and directory sectors at the front.
        const size_t span = v % 2 ? bytes.size() : std::min<size_t>(bytes.size(), 4096);
        bytes[(seed >> 8) % span] ^= static_cast<uint8_t>(1u << (seed % 8));
      }
      variants.push_back(std::move(bytes));
    }
    for (size_t v = 0; v < variants.size(); ++v) {
      {
        std::ofstream out(tmp, std::ios::binary | std::ios::trunc);
        out.write(reinterpret_cast<const char *>(variants[v].data()),
                  static_cast<std::streamsize>(variants[v].size()));
      }
      TXLSWorkbook fromDisk, fromMemory;
      fromDisk.Filename = common::Utf8ToUtf16(tmp);
      const std::string disk = Outcome(fromDisk, [&] { fromDisk.Read(); });
      const std::string memory = Outcome(fromMemory, [&] { fromMemory.LoadFromStream(variants[v]); });
      EXPECT_EQ(disk, memory) << name << " variant " << v;
      if (v == 0) {
        EXPECT_EQ(disk.rfind("{\"version\"", 0), 0u) << name;
      }
    }
  }
  std::remove(tmp.c_str());
}

TEST(CorpusDump, StringsEscapedWhereverTheSpecialCharacterFalls) {
  // Plain text is checked in blocks of sixteen or eight bytes, the last one overlapping the one
  // before; a character that needs escaping or re-encoding must be caught at every position of
  // texts short and long enough for each kind of block and tail, and on either side of the
  // longest text written in one piece with its cell. Texts with nothing to escape, of every such
  // length, are written as they stand.
  auto expected = [](std::u16string_view text) {
    std::string out = "\"";
    for (char16_t c : text) {
      if (c == '"' || c == '\\')
        out += '\\', out += static_cast<char>(c);
      else if (c == '\n')
        out += "\\n";
      else if (c < 0x20)
        out += common::Format("\\u%04x", static_cast<unsigned>(c));
      else
        out += common::Utf16ToUtf8(std::u16string(1, c));
    }
    return out + "\"";
  };
  const char16_t specials[] = {u'"', u'\\', u'\n', u'\x01', u'\x1f', u'\xe9', u'\x7f', u'\x80'};
  for (const bool wide : {false, true}) {
    TXLSWorkbook wb;
    TSheet &sheet = wb.SheetByIndex(0);
    std::vector<std::u16string> texts;
    auto store = [&](const std::u16string &text) {
      sheet.StoreString(0, static_cast<int>(texts.size()), text, 0);
      texts.push_back(text);
    };
    for (const size_t length : {0, 1, 7, 8, 9, 15, 16, 17, 19, 31, 32, 33, 47, 63, 64, 65}) {
      std::u16string plain;
      while (plain.size() < length)
        plain += u"abcdefghijklmnopqrstuvwxyz0123456789";
      plain.resize(length);
      store(plain); // and nothing to escape
      for (char16_t special : specials)
        for (size_t at = 0; at < length; ++at) {
          std::u16string text = plain;
          text[at] = special;
          if (wide)
            text[length - 1 - at] = u'\x416'; // a character beyond 8 bits makes the entry 16-bit
          store(text);
        }
    }
    std::ostringstream out;
    xlsdump::DumpWorkbook(out, wb);
    const std::string json = out.str();
    for (size_t row = 0; row < texts.size(); ++row) {
      const std::string text = expected(texts[row]);
      const std::string line = "[" + std::to_string(row) + ", 0, 5, " + text + ", " + text + "]";
      EXPECT_NE(json.find(line), std::string::npos) << line;
    }
  }
}

TEST(CorpusDump, RepeatedBlanksAndBooleansKeepTheirTexts) {
  // Enough cells that the output buffer is written out in between; custom boolean texts, one
  // that needs escaping and one too long to be copied in one piece with its cell's start.
  TXLSWorkbook wb;
  wb.Sheets().Settings.StrTRUE = u"Ja \"1\"";
  const std::string no = "Nein" + std::string(70, '!');
  wb.Sheets().Settings.StrFALSE = common::Utf8ToUtf16(no);
  TSheet &sheet = wb.SheetByIndex(0);
  const int rows = 3000;
  for (int row = 0; row < rows; ++row)
    for (int col = 0; col < 6; ++col)
      if (col % 3 == 0)
        sheet.StoreBlank(col, row, 0);
      else
        sheet.StoreBoolean(col, row, (row + col) % 2, 0);
  std::ostringstream out;
  xlsdump::DumpWorkbook(out, wb);
  const std::string json = out.str();
  ASSERT_GT(json.size(), size_t(1) << 16);
  std::set<std::string> lines;
  std::istringstream in(json);
  for (std::string line; std::getline(in, line);)
    lines.insert(line.substr(0, line.find(']') + 1));
  for (int row = 0; row < rows; ++row)
    for (int col = 0; col < 6; ++col) {
      const std::string head = "[" + std::to_string(row) + ", " + std::to_string(col) + ", ";
      const std::string line = col % 3 == 0      ? head + "1, \"\", \"0\"]"
                               : (row + col) % 2 ? head + "6, \"Ja \\\"1\\\"\", \"1\"]"
                                                 : head + "6, \"" + no + "\", \"0\"]";
      ASSERT_EQ(lines.count(line), 1u) << line;
    }
}
