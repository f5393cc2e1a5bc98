#include "json_dump.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <condition_variable>
#include <cstdio>
#include <cstring>
#include <exception>
#include <memory>
#include <mutex>
#include <string>
#include <system_error>
#include <thread>
#include <vector>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

#include "common/number_text.h"
#include "common/prefetch.h"
#include "common/short_copy.h"
#include "common/text.h"
#include "xls/sst.h"
#include "xls/workbook.h"

namespace xlsdump {

namespace {

const char *VersionName(xls::TExcelVersion v) {
  static const char *const names[] = {"xvNone",    "xvExcelUnknown", "xvExcel21", "xvExcel30",
                                      "xvExcel40", "xvExcel50",      "xvExcel97"};
  return v >= 0 && v <= xls::xvExcel97 ? names[v] : "xvNone";
}

} // namespace

namespace {

// Output goes through a buffer written in large pieces; every append checks room for the few
// bytes it writes at a time, so no temporary strings are built per cell. Without a stream, the
// buffer grows to keep all that is written.
class TJsonOut {
public:
  explicit TJsonOut(std::ostream *out) : FOut(out), FBuf(new char[FSize]) {}
  TJsonOut(const TJsonOut &) = delete;
  TJsonOut &operator=(const TJsonOut &) = delete;

  void Flush() {
    if (FUsed)
      FOut->write(FBuf.get(), static_cast<std::streamsize>(FUsed));
    FUsed = 0;
    ++FFlushes;
  }
  // Room for n bytes (n at most a few KiB) at the end of the buffer.
  char *Room(size_t n) {
    if (FUsed + n > FSize)
      MakeRoom(n);
    return FBuf.get() + FUsed;
  }
  // What was written, without a stream.
  std::string_view Text() const { return {FBuf.get(), FUsed}; }
  void Clear() { FUsed = 0; }
  void Done(char *end) { FUsed = static_cast<size_t>(end - FBuf.get()); }
  void Put(char c) { *Room(1) = c, ++FUsed; }
  void Append(std::string_view text) {
    while (!text.empty()) {
      size_t n = std::min(text.size(), size_t(4096));
      char *p = Room(n);
      std::memcpy(p, text.data(), n);
      FUsed += n;
      text.remove_prefix(n);
    }
  }
  void Int(long long v) {
    char *p = Room(24);
    Done(std::to_chars(p, p + 24, v).ptr);
  }
  static uint64_t Word(const void *bytes) {
    uint64_t w;
    std::memcpy(&w, bytes, 8);
    return w;
  }
  // Whether any of eight bytes must be escaped (a control character, a quote or a backslash)
  // or, for 8-bit text, re-encoded (128 and up).
  static bool NeedsEscape(uint64_t w, bool highToo) {
    constexpr uint64_t ones = 0x0101010101010101ULL, highs = 0x8080808080808080ULL;
    auto hasZero = [&](uint64_t v) { return ((v - ones) & ~v & highs) != 0; };
    const bool below20 = ((w - ones * 0x20) & ~w & highs) != 0;
    return below20 || hasZero(w ^ (ones * '"')) || hasZero(w ^ (ones * '\\')) || (highToo && (w & highs));
  }
  // One character of a JSON string literal at p (room for 6 bytes); c is a byte of UTF-8 text.
  static char *Escape(char *p, unsigned char c) {
    if (c >= 0x20 && c != '"' && c != '\\') {
      *p++ = static_cast<char>(c);
      return p;
    }
    *p++ = '\\';
    switch (c) {
    case '"': *p++ = '"'; break;
    case '\\': *p++ = '\\'; break;
    case '\n': *p++ = 'n'; break;
    case '\r': *p++ = 'r'; break;
    case '\t': *p++ = 't'; break;
    default: {
      static const char hex[] = "0123456789abcdef";
      *p++ = 'u', *p++ = '0', *p++ = '0', *p++ = hex[c >> 4], *p++ = hex[c & 15];
    }
    }
    return p;
  }
  // Whether none of count bytes must be escaped or (highToo) re-encoded; nearly all text.
  static bool Plain(const uint8_t *bytes, size_t count, bool highToo) {
    size_t i = 0;
#if defined(__SSE2__)
    // Sixteen bytes at a time; a last group of fewer overlaps the one before it.
    auto dirty = [highToo](const uint8_t *at) {
      const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i *>(at));
      // Below 0x20 unsigned is v == min(v, 0x1F); signed, bytes of 128 and up are below too.
      const __m128i control = highToo ? _mm_cmplt_epi8(v, _mm_set1_epi8(0x20))
                                      : _mm_cmpeq_epi8(_mm_min_epu8(v, _mm_set1_epi8(0x1F)), v);
      const __m128i special =
          _mm_or_si128(_mm_cmpeq_epi8(v, _mm_set1_epi8('"')), _mm_cmpeq_epi8(v, _mm_set1_epi8('\\')));
      return _mm_movemask_epi8(_mm_or_si128(control, special)) != 0;
    };
    if (count >= 16) {
      for (; i + 16 <= count; i += 16)
        if (dirty(bytes + i))
          return false;
      return i == count || !dirty(bytes + count - 16);
    }
#endif
    if (count >= 8) {
      for (; i + 8 <= count; i += 8)
        if (NeedsEscape(Word(bytes + i), highToo))
          return false;
      return i == count || !NeedsEscape(Word(bytes + count - 8), highToo);
    }
    for (; i < count; ++i)
      if (bytes[i] < 0x20 || bytes[i] == '"' || bytes[i] == '\\' || (highToo && bytes[i] >= 0x80))
        return false;
    return true;
  }
  // Count bytes as a JSON string literal: pieces with nothing to escape are copied whole, the
  // others byte by byte through escape (which writes at most 6 bytes at p and returns the end).
  template <class F> void Literal(const uint8_t *bytes, size_t count, bool highToo, F escape) {
    // Pieces small enough that the worst case and the quotes fit the buffer.
    size_t n = std::min(count, size_t(1024));
    char *p = Room(n * 6 + 2);
    *p++ = '"';
    for (;;) {
      if (!Plain(bytes, n, highToo)) {
        for (size_t i = 0; i < n; ++i)
          p = escape(p, bytes[i]);
      } else if (n) {
        common::CopyShort(p, bytes, n);
        p += n;
      }
      bytes += n;
      count -= n;
      if (count == 0)
        break;
      Done(p);
      n = std::min(count, size_t(1024));
      p = Room(n * 6 + 2);
    }
    *p++ = '"';
    Done(p);
  }
  void String(std::string_view text) {
    Literal(reinterpret_cast<const uint8_t *>(text.data()), text.size(), false, Escape);
  }
  // The characters of an 8-bit entry (each byte one code point up to 255) as a JSON string.
  void Latin1String(const uint8_t *chars, size_t count) {
    Literal(chars, count, true, [](char *p, uint8_t c) {
      if (c < 0x80)
        return Escape(p, c);
      *p++ = static_cast<char>(0xC0 | (c >> 6));
      *p++ = static_cast<char>(0x80 | (c & 0x3F));
      return p;
    });
  }
  // Text written since a mark, while it is still in the buffer, can be kept for writing again.
  struct TMark {
    size_t Flushes, Used;
  };
  TMark Mark() const { return {FFlushes, FUsed}; }
  // The text written since mark, or nothing when it has left the buffer.
  std::string Since(TMark mark) const {
    if (mark.Flushes != FFlushes)
      return {};
    return std::string(FBuf.get() + mark.Used, FUsed - mark.Used);
  }

private:
  void MakeRoom(size_t n) {
    if (FOut) {
      Flush();
      return;
    }
    FSize = std::max(FSize * 2, FUsed + n);
    std::unique_ptr<char[]> larger(new char[FSize]);
    std::memcpy(larger.get(), FBuf.get(), FUsed);
    FBuf = std::move(larger);
  }

  std::ostream *FOut;
  size_t FSize = size_t(1) << 16;
  std::unique_ptr<char[]> FBuf;
  size_t FUsed = 0;
  size_t FFlushes = 0;
};

void AppendJsonString(std::string &out, std::string_view text) {
  out += '"';
  for (unsigned char c : text) {
    switch (c) {
    case '"': out += "\\\""; break;
    case '\\': out += "\\\\"; break;
    case '\n': out += "\\n"; break;
    case '\r': out += "\\r"; break;
    case '\t': out += "\\t"; break;
    default:
      if (c < 0x20) {
        char buf[8];
        std::snprintf(buf, sizeof buf, "\\u%04x", c);
        out += buf;
      } else {
        out += static_cast<char>(c);
      }
    }
  }
  out += '"';
}

// A column or cell kind (below 256): most have one or two digits, written without the general
// conversion.
[[gnu::always_inline]] inline char *SmallNumber(char *p, unsigned v) {
  if (v < 10) {
    *p = static_cast<char>('0' + v);
    return p + 1;
  }
  if (v < 100) {
    p[0] = static_cast<char>('0' + v / 10);
    p[1] = static_cast<char>('0' + v % 10);
    return p + 2;
  }
  return std::to_chars(p, p + 3, v).ptr;
}

// The number of a cell whose text and variant text are both the number text of one double.
bool NumberOf(const xls::TCell *cell, double &v) {
  switch (cell->CellKind()) {
  case xls::ckFloat: v = static_cast<const xls::TFloatCell *>(cell)->Value(); return true;
  case xls::ckNumberFormula:
    v = static_cast<const xls::TNumberFormulaCell *>(cell)->FormulaValue();
    return true;
  case xls::ckArrayFormula:
    v = static_cast<const xls::TArrayFormulaCell *>(cell)->FormulaValue();
    return true;
  default: return false;
  }
}

// Writes cells as elements of a sheet's "cells" array. The common kinds, numbers and strings,
// take their texts from the cell's value or string entry alone and read nothing else of the
// workbook, so a writer of its own on another thread may write them.
class TCellWriter {
public:
  TCellWriter(TJsonOut &out, bool formulaText, char textSep, char localeSep)
      : FOut(out), FFormulaText(formulaText), FTextSep(textSep), FLocaleSep(localeSep) {}

  bool Standalone(const xls::TCell *cell) const {
    switch (cell->CellKind()) {
    case xls::ckFloat:
    case xls::ckString: return true;
    case xls::ckNumberFormula:
    case xls::ckArrayFormula: return !FFormulaText;
    default: return false;
    }
  }

  // Texts up to this many characters go out in one piece with their cell.
  static constexpr size_t ShortText = 64;

  // Writes the start of a cell, "[row, col, kind, " after a comma unless first; returns where
  // its texts go, with room for a number or a short text twice.
  [[gnu::always_inline]] char *Head(const xls::TCell *cell, bool first) {
    // The row's part is kept while the row lasts, so most cells copy it instead of formatting it.
    if (cell->Key() >> 8 != FRow) {
      FRow = cell->Key() >> 8;
      char *end = std::to_chars(FRowText, FRowText + 16, FRow).ptr;
      *end++ = ',';
      *end++ = ' ';
      FRowLength = static_cast<size_t>(end - FRowText);
    }
    char *p = FOut.Room(64 + 2 * std::max(common::kFloatTextMax, ShortText) + 8);
    if (!first)
      *p++ = ',';
    *p++ = '\n';
    *p++ = '[';
    std::memcpy(p, FRowText, 16); // fixed size: a few moves instead of a call
    p += FRowLength;
    p = SmallNumber(p, cell->Key() & 0xFF);
    *p++ = ',';
    *p++ = ' ';
    p = SmallNumber(p, cell->CellKind());
    *p++ = ',';
    *p++ = ' ';
    return p;
  }

  // Writes a cell for which Standalone holds.
  [[gnu::always_inline]] void WriteStandalone(const xls::TCell *cell, bool first) {
    char *p = Head(cell, first);
    double v;
    if (NumberOf(cell, v)) {
      // Formatted once for both columns.
      *p++ = '"';
      char *const text = p;
      p = common::FloatToText(v, FTextSep, p);
      const size_t length = static_cast<size_t>(p - text);
      *p++ = '"', *p++ = ',', *p++ = ' ', *p++ = '"';
      if (FTextSep == FLocaleSep) {
        // Fixed size, as above, through a copy because the ends overlap.
        char copy[common::kFloatTextMax];
        std::memcpy(copy, text, sizeof copy);
        std::memcpy(p, copy, sizeof copy);
        p += length;
      } else {
        p = common::FloatToText(v, FLocaleSep, p);
      }
      *p++ = '"';
      *p++ = ']';
      FOut.Done(p);
      return;
    }
    const xls::SSTEntry *entry = static_cast<const xls::TStringCell *>(cell)->Entry();
    // Most text is short, 8-bit and has nothing to escape: both columns go out in one piece.
    if (entry && !entry->Wide() && entry->CharCount <= ShortText &&
        TJsonOut::Plain(entry->Chars(), entry->CharCount, true)) {
      const size_t n = entry->CharCount;
      *p++ = '"';
      common::CopyShort(p, entry->Chars(), n);
      p += n;
      std::memcpy(p, "\", \"", 4);
      p += 4;
      common::CopyShort(p, entry->Chars(), n);
      p += n;
      *p++ = '"';
      *p++ = ']';
      FOut.Done(p);
      return;
    }
    FOut.Done(p);
    auto text = [&] {
      if (entry && !entry->Wide())
        FOut.Latin1String(entry->Chars(), entry->CharCount);
      else
        FOut.String(common::Utf16ToUtf8(xls::TSST2::EntryText(entry)));
    };
    text();
    FOut.Append(", ");
    text();
    FOut.Put(']');
  }

private:
  TJsonOut &FOut;
  const bool FFormulaText; // formulas show their formula text
  const char FTextSep, FLocaleSep;
  uint32_t FRow = UINT32_MAX;
  char FRowText[32] = {};
  size_t FRowLength = 0;
};

// Writes blocks of standalone cells on a thread of its own, one block at a time, into memory,
// while the caller writes the block before.
class TBlockWriter {
public:
  TBlockWriter(bool formulaText, char textSep, char localeSep)
      : FOut(nullptr), FWriter(FOut, formulaText, textSep, localeSep) {
    FThread = std::thread([this] { Run(); }); // throws when no thread can be had
  }
  ~TBlockWriter() {
    {
      std::lock_guard<std::mutex> lock(FMutex);
      FStop = true;
    }
    FWork.notify_one();
    FThread.join();
  }
  TBlockWriter(const TBlockWriter &) = delete;
  TBlockWriter &operator=(const TBlockWriter &) = delete;

  // Starts writing cells, none first in its sheet; they stay untouched until Finish.
  void Start(const std::vector<const xls::TCell *> &cells) {
    {
      std::lock_guard<std::mutex> lock(FMutex);
      FCells = &cells;
    }
    FWork.notify_one();
  }
  // Waits for the block and writes its text to out; rethrows its failure.
  void Finish(std::ostream &out) {
    std::unique_lock<std::mutex> lock(FMutex);
    FDone.wait(lock, [this] { return FCells == nullptr; });
    if (FError)
      std::rethrow_exception(std::exchange(FError, nullptr));
    out.write(FOut.Text().data(), static_cast<std::streamsize>(FOut.Text().size()));
    FOut.Clear();
  }

private:
  void Run() {
    std::unique_lock<std::mutex> lock(FMutex);
    for (;;) {
      FWork.wait(lock, [this] { return FStop || FCells; });
      if (FStop)
        return;
      lock.unlock();
      try {
        for (const xls::TCell *cell : *FCells)
          FWriter.WriteStandalone(cell, false);
      } catch (...) {
        FError = std::current_exception();
      }
      lock.lock();
      FCells = nullptr;
      FDone.notify_one();
    }
  }

  TJsonOut FOut; // keeps the block's text
  TCellWriter FWriter;
  std::mutex FMutex;
  std::condition_variable FWork, FDone;                    // a block to write, a block written
  const std::vector<const xls::TCell *> *FCells = nullptr; // the block being written
  bool FStop = false;
  std::exception_ptr FError;
  std::thread FThread;
};

} // namespace

void WriteJsonString(std::ostream &out, std::string_view text) {
  std::string s;
  AppendJsonString(s, text);
  out << s;
}

void DumpWorkbook(std::ostream &out, xls::TXLSWorkbook &workbook, bool parallel) {
  TJsonOut json(&out);
  json.Append("{\"version\": \"");
  json.Append(VersionName(workbook.Version()));
  json.Append("\", \"sheets\": [");
  xls::TSheets &sheets = workbook.Sheets();
  const xls::TCellTextSettings &settings = sheets.Settings;
  const char localeSep = common::LocaleDecimalSeparator();
  const char textSep = settings.DecimalSeparator ? settings.DecimalSeparator : localeSep;
  const bool formulaText = settings.ShowFormulas && settings.FormulaText;
  TCellWriter writer(json, formulaText, textSep, localeSep);
  // Formatting numbers is most of the work for large sheets: the cells go in blocks, and every
  // other block of standalone cells, at least half of them numbers, is written on a second
  // thread.
  constexpr size_t BlockCells = 8192;
  std::vector<const xls::TCell *> blocks[2];
  std::unique_ptr<TBlockWriter> helper; // ends before the blocks it may be reading
  for (int i = 0; i < sheets.Count(); ++i) {
    xls::TSheet &sheet = sheets.Items(i);
    json.Append(i ? ",\n" : "\n");
    json.Append("{\"name\": ");
    json.String(common::Utf16ToUtf8(sheet.Name()));
    json.Append(", \"hidden\": ");
    json.Int(sheet.Hidden);
    json.Append(", \"kind\": ");
    json.Int(sheet.Kind());
    json.Append(", \"rows\": ");
    json.Int(sheet.Rows.Count());
    json.Append(", \"cells\": [");
    xls::TCellStorage &cells = sheet.Cells();
    cells.ResetIteration();
    std::string known[3]; // blank, FALSE, TRUE
    auto writeOther = [&](const xls::TCell *cell, bool first) {
      char *p = writer.Head(cell, first);
      // Blanks and booleans have one text per value in a sheet: formatted once, then
      // copied.
      int slot = -1;
      if (cell->CellKind() == xls::ckBlank)
        slot = 0;
      else if (cell->CellKind() == xls::ckBoolean)
        slot = static_cast<const xls::TBooleanCell *>(cell)->Value() ? 2 : 1;
      if (slot >= 0 && !known[slot].empty()) {
        const std::string &text = known[slot];
        if (text.size() <= TCellWriter::ShortText) { // in the room Head left, with the cell's start
          common::CopyShort(p, text.data(), text.size());
          p += text.size();
          *p++ = ']';
          json.Done(p);
          return;
        }
        json.Done(p);
        json.Append(text);
        json.Put(']');
        return;
      }
      json.Done(p);
      if (cell->CellKind() == xls::ckStringFormula && !formulaText) {
        const std::string text = common::Utf16ToUtf8(sheet.CellText(cell));
        json.String(text);
        json.Append(", ");
        json.String(text);
      } else {
        const TJsonOut::TMark mark = json.Mark();
        json.String(common::Utf16ToUtf8(sheet.CellText(cell)));
        json.Append(", ");
        json.String(xls::TSheet::CellVariant(cell).ToText());
        if (slot >= 0)
          known[slot] = json.Since(mark);
      }
      json.Put(']');
    };
    auto write = [&](const xls::TCell *cell, bool first) __attribute__((always_inline)) {
      if (writer.Standalone(cell))
        writer.WriteStandalone(cell, first);
      else
        writeOther(cell, first);
    };
    // A text cell's entry lies apart from the cells, so it is fetched a few cells ahead.
    constexpr size_t Ahead = 8;
    auto prefetchEntry = [](const xls::TCell *cell) {
      if (cell->CellKind() == xls::ckString)
        if (const xls::SSTEntry *entry = static_cast<const xls::TStringCell *>(cell)->Entry())
          common::Prefetch(entry);
    };
    auto writeBlock = [&](const std::vector<const xls::TCell *> &block, bool first) {
      for (size_t k = 0; k < block.size(); ++k) {
        if (k + Ahead < block.size())
          prefetchEntry(block[k + Ahead]);
        write(block[k], first && k == 0);
      }
    };
    // Short texts are copied faster than a block of them is handed over and written back; the
    // second thread keeps its block's text whole, so long texts stay here.
    auto worthHandingOff = [&](const std::vector<const xls::TCell *> &block) {
      size_t texts = 0, chars = 0;
      for (const xls::TCell *cell : block) {
        if (!writer.Standalone(cell))
          return false;
        if (cell->CellKind() != xls::ckString)
          continue;
        if (++texts * 2 > block.size())
          return false;
        if (const xls::SSTEntry *entry = static_cast<const xls::TStringCell *>(cell)->Entry())
          chars += entry->CharCount;
      }
      return chars <= 16 * block.size();
    };
    auto gather = [&](std::vector<const xls::TCell *> &block) {
      block.clear();
      while (block.size() < BlockCells)
        if (const xls::TCell *cell = cells.NextCell())
          block.push_back(cell);
        else
          break;
    };
    // Cells go in pairs of blocks while the second block of each pair is worth handing off, and
    // from the first pair whose second block is not (the first of a sheet of texts) cell by cell.
    bool first = true;
    for (bool inBlocks = parallel; inBlocks;) {
      gather(blocks[0]);
      if (blocks[0].empty())
        break;
      gather(blocks[1]);
      inBlocks = false;
      if (blocks[1].size() == BlockCells && worthHandingOff(blocks[1])) {
        try {
          if (!helper)
            helper = std::make_unique<TBlockWriter>(formulaText, textSep, localeSep);
          helper->Start(blocks[1]);
          inBlocks = true;
        } catch (const std::system_error &) {
          parallel = false; // no second thread: all on this one
        }
      }
      writeBlock(blocks[0], first);
      first = false;
      if (inBlocks) {
        json.Flush();
        helper->Finish(out);
      } else {
        writeBlock(blocks[1], false);
      }
    }
    // The rest cell by cell, each taken from the store Ahead cells before it is written.
    const xls::TCell *ring[Ahead];
    size_t fetched = 0, written = 0;
    auto fetch = [&] {
      const xls::TCell *cell = cells.NextCell(); // stays nullptr once the cells are exhausted
      if (cell) {
        prefetchEntry(cell);
        ring[fetched++ % Ahead] = cell;
      }
      return cell != nullptr;
    };
    while (fetched < Ahead && fetch()) {
    }
    for (; written < fetched; first = false) {
      write(ring[written++ % Ahead], first);
      fetch(); // into the place just written
    }
    json.Append("]}");
  }
  json.Append("]}\n");
  json.Flush();
}

} // namespace xlsdump
