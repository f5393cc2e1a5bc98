#include "csv/csv_reader.h"

#include <deque>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <vector>

#include "cells/sheets.h"
#include "common/exception.h"
#include "common/text.h"

namespace csv {

namespace {

constexpr uint16_t kXF = 15;
constexpr size_t kRows = 65536, kCols = 256;

bool IsUtf8(std::string_view s) {
  size_t i = 0;
  while (i < s.size()) {
    const unsigned char c = static_cast<unsigned char>(s[i]);
    if (c < 0x80) {
      ++i;
      continue;
    }
    size_t n;
    unsigned cp;
    if (c >= 0xC2 && c <= 0xDF)
      n = 1, cp = c & 0x1F;
    else if (c >= 0xE0 && c <= 0xEF)
      n = 2, cp = c & 0x0F;
    else if (c >= 0xF0 && c <= 0xF4)
      n = 3, cp = c & 0x07;
    else
      return false;
    for (size_t k = 1; k <= n; ++k) {
      if (i + k >= s.size())
        return false;
      const unsigned char t = static_cast<unsigned char>(s[i + k]);
      if ((t & 0xC0) != 0x80)
        return false;
      cp = (cp << 6) | (t & 0x3F);
    }
    // Overlong forms, surrogates and values past U+10FFFF are not UTF-8.
    if ((n == 2 && cp < 0x800) || (n == 3 && cp < 0x10000) || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF))
      return false;
    i += n + 1;
  }
  return true;
}

std::string Utf16Bytes(std::string_view b, bool bigEndian) {
  std::u16string wide;
  wide.reserve(b.size() / 2);
  for (size_t i = 0; i + 1 < b.size(); i += 2) {
    const unsigned char lo = static_cast<unsigned char>(b[i + (bigEndian ? 1 : 0)]);
    const unsigned char hi = static_cast<unsigned char>(b[i + (bigEndian ? 0 : 1)]);
    wide.push_back(static_cast<char16_t>(lo | hi << 8));
  }
  return common::Utf16ToUtf8(wide);
}

// Splits the text into records of fields. Each record goes to OnRecord(fields, line); it returns
// false to stop. The fields are views into Text, or into Scratch for fields with doubled quotes.
// Returns false at a quoted field left open, with Line set to where it began.
template <class F> bool Split(std::string_view Text, char Delimiter, size_t &Line, F &&OnRecord) {
  std::vector<std::string_view> fields;
  std::deque<std::string> unquoted; // the fields whose doubled quotes were folded; a deque keeps
                                    // the views of earlier ones valid as it grows
  size_t i = 0, line = 1;
  const size_t n = Text.size();
  while (i < n) {
    fields.clear();
    unquoted.clear();
    const size_t recordLine = line;
    for (;;) {
      std::string_view field;
      if (i < n && Text[i] == '"') {
        const size_t openLine = line;
        size_t start = ++i;
        std::string folded;
        bool hasDoubled = false;
        for (;;) {
          const size_t quote = Text.find('"', i);
          if (quote == std::string_view::npos) {
            Line = openLine;
            return false;
          }
          for (size_t k = i; k < quote; ++k)
            line += Text[k] == '\n' || (Text[k] == '\r' && (k + 1 >= n || Text[k + 1] != '\n'));
          if (quote + 1 < n && Text[quote + 1] == '"') {
            folded.append(Text.substr(start, quote + 1 - start));
            hasDoubled = true;
            i = start = quote + 2;
            continue;
          }
          i = quote + 1;
          break;
        }
        // Anything between the closing quote and the delimiter is kept, as spreadsheet programs
        // keep it.
        size_t end = i;
        while (end < n && Text[end] != Delimiter && Text[end] != '\n' && Text[end] != '\r')
          ++end;
        if (hasDoubled || end > i) {
          folded.append(Text.substr(start, i - 1 - start));
          folded.append(Text.substr(i, end - i));
          unquoted.push_back(std::move(folded));
          field = unquoted.back();
        } else
          field = Text.substr(start, i - 1 - start);
        i = end;
      } else {
        size_t end = i;
        while (end < n && Text[end] != Delimiter && Text[end] != '\n' && Text[end] != '\r')
          ++end;
        field = Text.substr(i, end - i);
        i = end;
      }
      fields.push_back(field);
      if (i < n && Text[i] == Delimiter) {
        ++i;
        continue;
      }
      break;
    }
    // The record ends at a line break or at the end of the text.
    if (i < n && Text[i] == '\r')
      ++i;
    if (i < n && Text[i] == '\n')
      ++i;
    ++line;
    if (!OnRecord(fields, recordLine))
      return true;
  }
  return true;
}

} // namespace

std::string DecodeText(std::string_view Bytes) {
  if (Bytes.size() >= 3 && Bytes.substr(0, 3) == "\xEF\xBB\xBF")
    return std::string(Bytes.substr(3));
  if (Bytes.size() >= 2 && Bytes.substr(0, 2) == "\xFF\xFE")
    return Utf16Bytes(Bytes.substr(2), false);
  if (Bytes.size() >= 2 && Bytes.substr(0, 2) == "\xFE\xFF")
    return Utf16Bytes(Bytes.substr(2), true);
  if (IsUtf8(Bytes))
    return std::string(Bytes);
  return common::Utf16ToUtf8(common::DecodeCodePage(Bytes, 1252));
}

TDelimiterGuess GuessDelimiter(std::string_view Text) {
  // The first records are enough; a record cut off by the sample's end is not counted.
  constexpr size_t kSample = 64 * 1024, kRecords = 50;
  const bool cut = Text.size() > kSample;
  const std::string_view sample = Text.substr(0, kSample);
  struct TScore {
    char Delimiter;
    bool Consistent = true;
    size_t Fields = 0; // fields per record when consistent
    size_t Split = 0;  // records with more than one field
  };
  TScore scores[] = {{','}, {';'}, {'\t'}};
  for (TScore &s : scores) {
    std::vector<size_t> counts;
    size_t line = 0;
    Split(sample, s.Delimiter, line, [&](const std::vector<std::string_view> &fields, size_t) {
      counts.push_back(fields.size());
      return counts.size() < kRecords + 1;
    });
    if (cut && counts.size() > 1)
      counts.pop_back();
    for (size_t c : counts) {
      s.Split += c > 1;
      if (c != counts.front())
        s.Consistent = false;
    }
    s.Fields = counts.empty() ? 0 : counts.front();
  }
  const TScore *best = nullptr;
  for (const TScore &s : scores) {
    const bool good = s.Consistent && s.Fields > 1;
    const bool bestGood = best && best->Consistent && best->Fields > 1;
    if (!best || (good && !bestGood) || (good == bestGood && s.Split > best->Split))
      best = &s;
  }
  TDelimiterGuess guess;
  if (best->Split == 0)
    return guess; // one column whatever the delimiter: nothing to choose
  guess.Delimiter = best->Delimiter;
  const bool bestGood = best->Consistent && best->Fields > 1;
  for (const TScore &s : scores)
    if (&s != best && s.Split > 0 && (!bestGood || (s.Consistent && s.Fields > 1)))
      guess.Sure = false;
  return guess;
}

void ReadCsvText(std::string_view Text, const std::string &Name, xls::TSheets &Sheets, char Delimiter) {
  if (Delimiter == 0)
    Delimiter = GuessDelimiter(Text).Delimiter;
  // Checked whole before anything is stored, so a fault leaves no half-filled sheet.
  size_t line = 0, records = 0, widest = 0;
  if (!Split(Text, Delimiter, line, [&](const std::vector<std::string_view> &fields, size_t) {
        ++records;
        for (size_t c = fields.size(); c > widest; --c)
          if (!fields[c - 1].empty()) {
            widest = c;
            break;
          }
        return true;
      }))
    throw common::Exception(
        common::Format("Line %zu of %s: a quoted field has no closing quote", line, Name.c_str()));
  if (records > kRows || widest > kCols)
    throw common::Exception(common::Format("%s has more than the %zu rows or %zu columns a sheet can hold",
                                           Name.c_str(), kRows, kCols));
  xls::TSheet &sheet = Sheets.AddSheet(0);
  sheet.SetName(common::Utf8ToUtf16(std::filesystem::path(Name).stem().string()));
  int row = 0;
  Split(Text, Delimiter, line, [&](const std::vector<std::string_view> &fields, size_t) {
    uint8_t body[16] = {};
    body[0] = static_cast<uint8_t>(row), body[1] = static_cast<uint8_t>(row >> 8);
    body[4] = static_cast<uint8_t>(fields.size()), body[5] = static_cast<uint8_t>(fields.size() >> 8);
    body[6] = 255;
    sheet.Rows.AddRow(body, sizeof body);
    for (size_t c = 0; c < fields.size(); ++c)
      if (!fields[c].empty())
        sheet.StoreString(static_cast<int>(c), row, common::Utf8ToUtf16(fields[c]), kXF);
    ++row;
    return true;
  });
}

void ReadCsv(const std::string &Path, xls::TSheets &Sheets, char Delimiter) {
  std::ifstream in(Path, std::ios::binary);
  if (!in)
    throw common::Exception("Cannot open file " + Path);
  const std::string bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  ReadCsvText(DecodeText(bytes), Path, Sheets, Delimiter);
}

} // namespace csv
