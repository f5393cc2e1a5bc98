// Workbooks whose records are edited as records: the mutator takes the workbook stream out of
// the compound file (or takes a plain BIFF2-4 file as it is), splits it into records, changes
// record ids, body lengths and the fields readers trust (counts, lengths, cce, row and column
// numbers, option flags), repeats, drops or swaps records, and writes the compound file back. So
// inputs stay workbooks that reach the record handlers, and a record repeated thousands of times
// finds the costs that grow faster than the file.

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <random>
#include <string>
#include <unistd.h>
#include <vector>

#include "common/text.h"
#include "xls/compound_file.h"
#include "xls/workbook.h"
#include "xls_fuzz.h"

extern "C" size_t LLVMFuzzerMutate(uint8_t *Data, size_t Size, size_t MaxSize);

namespace {

struct TRecord {
  uint16_t Id;
  std::vector<uint8_t> Body;
};

struct TBook {
  bool Compound = false;
  std::u16string StreamName = u"Workbook";
  std::vector<TRecord> Records;
};

bool IsCompound(const uint8_t *data, size_t size) {
  return xls::TCompoundFile::HasSignature(data, size);
}

TBook Parse(const uint8_t *data, size_t size) {
  TBook book;
  std::vector<uint8_t> stream(data, data + size);
  if (IsCompound(data, size)) {
    try {
      xls::TCompoundFile file{std::vector<uint8_t>(data, data + size)};
      int at = file.Find(u"Workbook");
      if (at < 0) {
        at = file.Find(u"Book");
        book.StreamName = u"Book";
      }
      if (at < 0)
        return book;
      stream = file.ReadStream(at);
      book.Compound = true;
    } catch (const std::exception &) {
      return book;
    }
  }
  for (size_t at = 0; at + 4 <= stream.size();) {
    const uint16_t id = static_cast<uint16_t>(stream[at] | stream[at + 1] << 8);
    const size_t length = std::min<size_t>(stream[at + 2] | stream[at + 3] << 8, stream.size() - at - 4);
    book.Records.push_back({id, std::vector<uint8_t>(stream.begin() + long(at) + 4,
                                                     stream.begin() + long(at + 4 + length))});
    at += 4 + length;
  }
  return book;
}

std::vector<uint8_t> Write(const TBook &book) {
  std::vector<uint8_t> stream;
  for (const TRecord &r : book.Records) {
    const size_t length = std::min<size_t>(r.Body.size(), 0xFFFF);
    stream.push_back(static_cast<uint8_t>(r.Id));
    stream.push_back(static_cast<uint8_t>(r.Id >> 8));
    stream.push_back(static_cast<uint8_t>(length));
    stream.push_back(static_cast<uint8_t>(length >> 8));
    stream.insert(stream.end(), r.Body.begin(), r.Body.begin() + long(length));
  }
  if (!book.Compound)
    return stream;
  return xls_fuzz::CompoundFile(stream.data(), stream.size(), book.StreamName.c_str());
}

// Ids of the records whose handlers read fields, and values that sit at the edges of fields.
const uint16_t Ids[] = {0x0006, 0x04BC, 0x00BC, 0x0221, 0x0207, 0x0200, 0x0000, 0x0208, 0x0809, 0x000A,
                        0x00FC, 0x003C, 0x00FD, 0x0204, 0x00D6, 0x0085, 0x00BD, 0x00BE, 0x027E, 0x0203,
                        0x0201, 0x0205, 0x00E0, 0x0031, 0x041E, 0x0018, 0x0017, 0x01AE, 0x0023, 0x0059,
                        0x00EB, 0x00EC, 0x001C, 0x00E5, 0x007D, 0x0041, 0x01B0, 0x01B2, 0x01B8, 0x0092,
                        0x0042, 0x002F, 0x023E, 0x0206, 0x0406, 0x0001, 0x0002, 0x0003, 0x0004, 0x0005};
const uint16_t Edges[] = {0, 1, 2, 7, 8, 0x7F, 0x80, 0xFF, 0x100, 0x3FFF, 0x7FFF, 0x8000, 0xFFFE, 0xFFFF};

void Put16(std::vector<uint8_t> &body, size_t at, uint16_t v) {
  if (at + 2 > body.size())
    body.resize(at + 2);
  body[at] = static_cast<uint8_t>(v);
  body[at + 1] = static_cast<uint8_t>(v >> 8);
}

// Offsets of the fields that a record's handler trusts, by record id.
std::vector<size_t> Fields(uint16_t id) {
  switch (id) {
  case 0x0006: return {0, 2, 4, 12, 14, 20, 22, 23, 25}; // FORMULA: row, col, xf, result, flags, cce, ref
  case 0x04BC:
  case 0x00BC: return {0, 2, 4, 8};                  // SHRFMLA: range, cce
  case 0x0221: return {0, 2, 4, 12};                 // ARRAY
  case 0x00FC: return {0, 4, 8, 10};                 // SST: counts, first string's count and options
  case 0x0200: return {0, 4, 8, 10};                 // DIMENSIONS
  case 0x0208: return {0, 2, 4, 12, 14};             // ROW
  case 0x0204:
  case 0x00D6: return {0, 2, 4, 6, 8};               // LABEL, RSTRING: cell, count, options
  case 0x0207: return {0, 2};                        // STRING: count, options
  case 0x00BD:
  case 0x00BE: return {0, 2, 4};                     // MULRK, MULBLANK
  case 0x0085: return {4, 6, 7};                     // BOUNDSHEET: flags, count, options
  default: return {0, 2, 4, 6};
  }
}

void MutateRecord(TRecord &r, std::mt19937 &rng, size_t maxBody) {
  auto pick = [&](size_t n) { return std::uniform_int_distribution<size_t>(0, n - 1)(rng); };
  switch (pick(6)) {
  case 0: r.Id = pick(4) ? Ids[pick(std::size(Ids))] : static_cast<uint16_t>(rng()); break;
  case 1: { // a field to an edge value, or a step off its value
    const std::vector<size_t> fields = Fields(r.Id);
    const size_t at = pick(3) ? fields[pick(fields.size())] : pick(r.Body.size() + 1);
    uint16_t v = Edges[pick(std::size(Edges))];
    if (pick(3) == 0 && at + 2 <= r.Body.size())
      v = static_cast<uint16_t>((r.Body[at] | r.Body[at + 1] << 8) + (pick(2) ? 1 : -1));
    Put16(r.Body, at, v);
    break;
  }
  case 2: // a flag bit
    if (!r.Body.empty())
      r.Body[pick(r.Body.size())] ^= static_cast<uint8_t>(1u << pick(8));
    break;
  case 3: // shorter or longer than the fields it should hold
    if (pick(2) && !r.Body.empty())
      r.Body.resize(pick(r.Body.size()));
    else
      r.Body.resize(std::min(maxBody, r.Body.size() + 1 + pick(64)), static_cast<uint8_t>(pick(2) ? 0 : 0xFF));
    break;
  default: { // bytes of the body
    const size_t size = r.Body.size();
    r.Body.resize(std::min<size_t>(maxBody, size + 64));
    r.Body.resize(LLVMFuzzerMutate(r.Body.data(), size, r.Body.size()));
    break;
  }
  }
}

} // namespace

extern "C" size_t LLVMFuzzerCustomMutator(uint8_t *Data, size_t Size, size_t MaxSize, unsigned int Seed) {
  TBook book = Parse(Data, Size);
  if (book.Records.empty())
    return LLVMFuzzerMutate(Data, Size, MaxSize);
  std::mt19937 rng(Seed);
  auto pick = [&](size_t n) { return std::uniform_int_distribution<size_t>(0, n - 1)(rng); };
  auto &records = book.Records;
  for (size_t steps = 1 + pick(3); steps-- > 0;) {
    const size_t at = pick(records.size());
    switch (pick(8)) {
    case 0: { // the record many times over, where a per-record cost that grows shows
      const size_t copies = pick(4) ? 1 + pick(16) : 1000 + pick(20000);
      const TRecord copy = records[at];
      records.insert(records.begin() + long(at), copies, copy);
      break;
    }
    case 1:
      if (records.size() > 1)
        records.erase(records.begin() + long(at));
      break;
    case 2: std::swap(records[at], records[pick(records.size())]); break;
    default: MutateRecord(records[at], rng, 8224); break;
    }
  }
  std::vector<uint8_t> out = Write(book);
  if (out.size() > MaxSize)
    return LLVMFuzzerMutate(Data, Size, MaxSize);
  std::memcpy(Data, out.data(), out.size());
  return out.size();
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  xls::TXLSWorkbook wb;
  if (IsCompound(data, size)) {
    xls_fuzz::Read(wb, std::vector<uint8_t>(data, data + size));
    return 0;
  }
  // A plain BIFF2-4 file is read from disk, as the reader opens one.
  static const std::string path = "/tmp/fuzz_xls_records_" + std::to_string(getpid()) + ".xls";
  FILE *f = std::fopen(path.c_str(), "wb");
  if (f == nullptr)
    return 0;
  std::fwrite(data, 1, size, f);
  std::fclose(f);
  wb.Filename = common::Utf8ToUtf16(path);
  xls_fuzz::Read(wb, {});
  return 0;
}
