// The SST record of a .xls workbook and its CONTINUE records, read into the shared string table.
#include "cells/sst.h"

#include <algorithm>
#include <cstring>

#include "cells/formats.h"
#include "common/bytes.h"
#include "common/exception.h"
#include "xls/xls_stream.h"

namespace xls {

using common::Get16;
using common::Get32;

namespace {

// 16-bit characters, a phonetic block and runs are the only options.
bool KnownOptions(uint8_t options) { return (options & ~0x0D) == 0; }

[[noreturn]] void MissingContinue() { throw common::Exception("CONTINUE record is missing in SST"); }
[[noreturn]] void Corrupt() { throw common::Exception("Corrupt SST record"); }

} // namespace

// Reads inside the SST record and its CONTINUE records; Remaining counts what is left of the
// current record, so nothing is ever read past a record the table does not own.
class SSTReader {
public:
  SSTReader(TXLSStream &stream, int length) : FStream(stream) { Load(length); }

  void Exact(void *buffer, int count) {
    if (count > Remaining || count > FAvail) // FAvail: the file may end inside the record
      Corrupt();
    if (count > 0)
      std::memcpy(buffer, FBody.data() + FAt, size_t(count));
    FAt += count;
    FAvail -= count;
    Remaining -= count;
  }
  // Appends count bytes to out.
  void Append(std::vector<uint8_t> &out, size_t count) {
    const size_t at = out.size();
    out.resize(at + count);
    Exact(out.data() + at, static_cast<int>(count));
  }
  // A little-endian number of 1, 2 or 4 bytes.
  uint32_t UInt(int bytes) {
    uint8_t b[4] = {};
    Exact(b, bytes);
    return Get32(b);
  }
  void NextContinue() {
    uint8_t header[4];
    if (FStream.ReadHeader(header) < 4 || Get16(header) != BIFF_CONTINUE)
      MissingContinue();
    Load(Get16(header + 2));
  }
  // Data that may cross into CONTINUE records without an option byte (runs, phonetic block).
  void Raw(std::vector<uint8_t> &out, size_t count) {
    while (count > 0) {
      if (Remaining == 0)
        NextContinue();
      const size_t piece = std::min<size_t>(count, size_t(Remaining));
      Append(out, piece);
      count -= piece;
    }
  }
  // The body is read whole by Load; skipping its rest only checks that the file holds it.
  void Skip() {
    if (Remaining > FAvail)
      Corrupt(); // the file ends inside the record
    Remaining = 0;
  }

  int Remaining = 0;

private:
  void Load(int length) {
    FAt = 0;
    Remaining = length;
    FBody.resize(size_t(std::max(length, 0)));
    FAvail = length > 0 ? FStream.ReadData(FBody.data(), length) : 0;
  }

  TXLSStream &FStream;
  std::vector<uint8_t> FBody; // the current record's body
  int FAt = 0;
  int FAvail = 0; // bytes of the body actually read (fewer when the file ends early)
};

// Reads one string into FKey after room for its header (characters in their final width, runs,
// phonetic block) and its run fonts into FRunFonts.
void TSST2::ReadEntry(SSTReader &In, TShape &Shape) {
  if (In.Remaining < 3)
    Corrupt();
  Shape.CharCount = static_cast<uint16_t>(In.UInt(2));
  const auto options = static_cast<uint8_t>(In.UInt(1));
  if (!KnownOptions(options))
    throw common::Exception(common::Format("STT: Unhandled string type in Read (%.2X)", options));
  Shape.RunCount = (options & 0x08) ? static_cast<uint16_t>(In.UInt(2)) : 0;
  Shape.ExtSize = 0;
  if (options & 0x04) {
    Shape.ExtSize = static_cast<int32_t>(In.UInt(4));
    if (Shape.ExtSize < 0)
      Corrupt();
  }

  // Characters: pieces of either width; the entry is 16-bit when any piece is. Bytes are kept
  // as stored in the file (16-bit units are little-endian there too), so they are the key.
  FKey.assign(SSTEntry::HeaderBytes(options), 0);
  const size_t header = FKey.size();
  // 8-bit characters from at to the end become 16-bit units of the same value.
  auto widen = [this](size_t at) {
    const size_t n = FKey.size() - at;
    FKey.resize(at + n * 2);
    for (size_t i = n; i-- > 0;) {
      FKey[at + 2 * i] = FKey[at + i];
      FKey[at + 2 * i + 1] = 0;
    }
  };
  bool wide = (options & 0x01) != 0;
  bool anyWide = wide;
  size_t wanted = Shape.CharCount;
  for (bool first = true; first || wanted > 0; first = false) {
    if (!first) {
      In.NextContinue();
      wide = In.UInt(1) == 1;
      if (wide && !anyWide)
        widen(header);
      anyWide = anyWide || wide;
    }
    const size_t bytes = std::min(wide ? wanted * 2 : wanted, size_t(In.Remaining));
    if (wide && bytes % 2)
      Corrupt(); // a character cut by the record end
    const size_t at = FKey.size();
    In.Append(FKey, bytes);
    if (!wide && anyWide)
      widen(at);
    wanted -= wide ? bytes / 2 : bytes;
  }
  Shape.Options = anyWide ? static_cast<uint8_t>(options | 0x01) : options;

  const size_t runsAt = FKey.size();
  In.Raw(FKey, size_t(Shape.RunCount) * 4);
  FRunFonts.clear();
  for (int i = 0; i < Shape.RunCount; ++i) {
    const int fontIndex = Get16(FKey.data() + runsAt + size_t(i) * 4 + 2);
    if (!FFonts)
      common::ListIndexError(fontIndex);
    FRunFonts.push_back(&FFonts->Items(fontIndex));
  }
  In.Raw(FKey, size_t(Shape.ExtSize));
}

void TSST2::ReadSST(TXLSStream &Stream, int Length) {
  SSTReader in(Stream, Length);
  if (Length < 8)
    Corrupt();
  FTotal = static_cast<int32_t>(in.UInt(4));
  const uint32_t unique = in.UInt(4);
  // Each string takes at least three bytes of the stream, which bounds a false count.
  FIndex.reserve(FIndex.size() + std::min<size_t>(unique, Stream.StreamSize() / 3));
  TShape shape;
  for (uint32_t i = 0; i < unique; ++i) {
    if (in.Remaining == 0)
      in.NextContinue();
    ReadEntry(in, shape);
    for (TXLSFont *font : FRunFonts)
      ++font->UseCount;
    FIndex.push_back(nullptr);
    FIndex.back() = Intern(shape, static_cast<int32_t>(FIndex.size() - 1), 0);
  }
  // Bytes the counts did not cover would otherwise be taken for the next record header.
  in.Skip();
}

} // namespace xls
