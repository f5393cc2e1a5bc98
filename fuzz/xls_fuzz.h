#pragma once

// What the workbook fuzz targets share: a compound file built around one stream, and the read
// of an input through the whole workbook and xlsdump's JSON.

#include <cstdint>
#include <cstring>
#include <sstream>
#include <vector>

#include "json_dump.h"
#include "xls/workbook.h"

namespace xls_fuzz {

inline void Put16(std::vector<uint8_t> &b, size_t at, uint16_t v) {
  b[at] = static_cast<uint8_t>(v);
  b[at + 1] = static_cast<uint8_t>(v >> 8);
}
inline void Put32(std::vector<uint8_t> &b, size_t at, uint32_t v) {
  Put16(b, at, static_cast<uint16_t>(v));
  Put16(b, at + 2, static_cast<uint16_t>(v >> 16));
}

// A version 3 compound file holding one stream in regular sectors (padded to the mini-stream
// cutoff so no mini stream is needed).
inline std::vector<uint8_t> CompoundFile(const uint8_t *data, size_t size, const char16_t *name) {
  constexpr uint32_t End = 0xFFFFFFFE, Free = 0xFFFFFFFF, FatSect = 0xFFFFFFFD;
  std::vector<uint8_t> stream(data, data + size);
  if (stream.size() < 4096)
    stream.resize(4096, 0);
  const uint32_t dataSectors = static_cast<uint32_t>((stream.size() + 511) / 512);
  uint32_t fatSectors = 1;
  while ((dataSectors + 1 + fatSectors) * 4 > fatSectors * 512)
    ++fatSectors;
  const uint32_t dirSector = dataSectors, firstFat = dataSectors + 1;
  const uint32_t total = dataSectors + 1 + fatSectors;
  std::vector<uint8_t> file(512 + size_t(total) * 512, 0);
  const uint8_t sig[8] = {0xD0, 0xCF, 0x11, 0xE0, 0xA1, 0xB1, 0x1A, 0xE1};
  std::memcpy(file.data(), sig, 8);
  Put16(file, 24, 0x3E);
  Put16(file, 26, 3);
  Put16(file, 28, 0xFFFE);
  Put16(file, 30, 9);
  Put16(file, 32, 6);
  Put32(file, 44, fatSectors);
  Put32(file, 48, dirSector);
  Put32(file, 56, 4096);
  Put32(file, 60, End);
  Put32(file, 68, End);
  for (uint32_t i = 0; i < 109; ++i)
    Put32(file, 76 + 4 * i, i < fatSectors ? firstFat + i : Free);
  std::memcpy(file.data() + 512, stream.data(), stream.size());
  // Directory: the root and the one stream.
  const size_t dir = 512 + size_t(dirSector) * 512;
  auto entry = [&](size_t at, const char16_t *n, uint8_t type, uint32_t child, uint32_t start, uint32_t len) {
    size_t i = 0;
    for (; n[i]; ++i)
      Put16(file, at + 2 * i, n[i]);
    Put16(file, at + 64, static_cast<uint16_t>(2 * (i + 1)));
    file[at + 66] = type;
    file[at + 67] = 1;
    Put32(file, at + 68, Free);
    Put32(file, at + 72, Free);
    Put32(file, at + 76, child);
    Put32(file, at + 116, start);
    Put32(file, at + 120, len);
  };
  entry(dir, u"Root Entry", 5, 1, End, 0);
  entry(dir + 128, name, 2, Free, 0, static_cast<uint32_t>(stream.size()));
  for (uint32_t i = 0; i < total; ++i) {
    uint32_t next = Free;
    if (i < dataSectors)
      next = i + 1 < dataSectors ? i + 1 : End;
    else if (i == dirSector)
      next = End;
    else
      next = FatSect;
    Put32(file, 512 + size_t(firstFat) * 512 + 4 * i, next);
  }
  return file;
}

inline void Read(xls::TXLSWorkbook &wb, std::vector<uint8_t> image) {
  wb.OnPassword = [](std::u16string &p) { p = u"secret"; };
  try {
    wb.LoadFromStream(std::move(image));
  } catch (const std::exception &) {
  }
  std::ostringstream out;
  xlsdump::DumpWorkbook(out, wb);
}

} // namespace xls_fuzz
