#include "xls/compound_file.h"

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <fstream>
#include <memory>
#include <utility>

#include "common/bytes.h"
#include "common/exception.h"

namespace xls {

using common::Get16;
using common::Get32;
using common::Utf16Text;

const uint8_t CompoundFileSignature[8] = {0xD0, 0xCF, 0x11, 0xE0, 0xA1, 0xB1, 0x1A, 0xE1};

namespace {

constexpr uint32_t EndOfChain = 0xFFFFFFFE;
constexpr uint32_t NoStream = 0xFFFFFFFF;
constexpr uint32_t FreeSector = 0xFFFFFFFF;
constexpr size_t HeaderSize = 512;
constexpr size_t EntrySize = 128;
constexpr uint32_t MiniSectorSize = 64;
constexpr size_t Unbounded = SIZE_MAX;

[[noreturn]] void Damaged(const char *reason) {
  throw common::Exception(common::Format("The compound file is damaged: %s", reason));
}

uint64_t Get64(const uint8_t *p) { return uint64_t(Get32(p)) | uint64_t(Get32(p + 4)) << 32; }

char16_t AsciiLower(char16_t c) { return (c >= u'A' && c <= u'Z') ? static_cast<char16_t>(c + 32) : c; }

} // namespace

bool TCompoundFile::HasSignature(const uint8_t *data, size_t size) {
  return size >= sizeof CompoundFileSignature &&
         std::memcmp(data, CompoundFileSignature, sizeof CompoundFileSignature) == 0;
}

bool TCompoundFile::IsCompoundFile(const std::string &path) {
  std::ifstream in(path, std::ios::binary); // a file that does not open reads nothing
  uint8_t head[8];
  in.read(reinterpret_cast<char *>(head), sizeof head);
  return in.gcount() == sizeof head && HasSignature(head, sizeof head);
}

TCompoundFile TCompoundFile::FromFile(const std::string &path) {
  // The file is read sector by sector as needed rather than held whole, so a stream read from
  // it is the only copy of its bytes in memory.
  auto file = std::make_unique<std::ifstream>(path, std::ios::binary);
  const std::streamoff size = *file && file->seekg(0, std::ios::end) ? std::streamoff(file->tellg()) : -1;
  if (size < 0)
    throw common::Exception(common::Format("Cannot open file %s", path.c_str()));
  TCompoundFile result;
  result.FFile = std::move(file);
  result.FSize = static_cast<uint64_t>(size);
  result.Parse();
  return result;
}

TCompoundFile::TCompoundFile(std::vector<uint8_t> image) : FImage(std::move(image)), FSize(FImage.size()) {
  Parse();
}

void TCompoundFile::ReadAt(uint64_t offset, uint8_t *out, size_t count) const {
  // Bytes past the end of the file read as zeros (a last sector may be cut short).
  size_t present = offset < FSize ? static_cast<size_t>(std::min<uint64_t>(count, FSize - offset)) : 0;
  if (present && FFile) {
    const bool seek = offset != FFileAt;
    FFileAt = UINT64_MAX; // unknown until the read succeeds
    FFile->clear();
    if ((seek && !FFile->seekg(static_cast<std::streamoff>(offset))) ||
        !FFile->read(reinterpret_cast<char *>(out), static_cast<std::streamsize>(present)))
      Damaged("the file cannot be read");
    FFileAt = offset + present;
  } else if (present) {
    std::memcpy(out, FImage.data() + offset, present);
  }
  if (present < count)
    std::memset(out + present, 0, count - present);
}

std::vector<uint32_t> TCompoundFile::Chain(uint32_t start, const std::vector<uint32_t> &fat,
                                           uint64_t limit) const {
  // `limit` is the number of sectors wanted (Unbounded: up to the end of the chain). A visited set
  // stops loops, so no chain passes the size reserved here and a long one is not grown by copying.
  std::vector<uint32_t> chain;
  chain.reserve(static_cast<size_t>(std::min<uint64_t>(limit, fat.size())));
  std::vector<bool> seen(fat.size(), false);
  uint32_t sector = start;
  while (chain.size() < limit && sector != EndOfChain) {
    if (sector >= fat.size())
      Damaged("a sector id is out of range");
    if (seen[sector])
      Damaged("a sector chain loops");
    seen[sector] = true;
    chain.push_back(sector);
    sector = fat[sector];
  }
  if (limit != Unbounded && chain.size() < limit)
    Damaged("a sector chain is shorter than its stream");
  return chain;
}

std::vector<uint32_t> TCompoundFile::StreamSectors(uint32_t start, uint64_t size) const {
  uint64_t needed = (size + FSectorSize - 1) / FSectorSize;
  if (needed > FSectorCount)
    Damaged("a stream is larger than the file");
  std::vector<uint32_t> chain = Chain(start, FFat, needed);
  for (uint32_t sector : chain)
    if (sector >= FSectorCount)
      Damaged("a sector id is out of range");
  return chain;
}

std::vector<uint8_t> TCompoundFile::ReadChain(uint32_t start, uint64_t size) const {
  std::vector<uint32_t> chain = StreamSectors(start, size);
  std::vector<uint8_t> data(static_cast<size_t>(size));
  ReadStreamPart(chain, 0, data.data(), data.size());
  return data;
}

void TCompoundFile::ReadStreamPart(const std::vector<uint32_t> &chain, uint64_t offset, uint8_t *out,
                                   size_t count) const {
  size_t i = static_cast<size_t>(offset / FSectorSize);
  size_t skip = static_cast<size_t>(offset % FSectorSize);
  // Runs of consecutive sectors are contiguous in the file too and are read in one piece; a run
  // is followed only as far as the read goes, not to the end of a long stream each time.
  while (count > 0) {
    if (i >= chain.size())
      Damaged("a read runs past the end of a stream");
    size_t run = 1;
    while (size_t(FSectorSize) * run - skip < count && i + run < chain.size() &&
           chain[i + run] == chain[i] + run)
      ++run;
    size_t take = std::min<size_t>(size_t(FSectorSize) * run - skip, count);
    ReadAt(SectorOffset(chain[i]) + skip, out, take);
    out += take;
    count -= take;
    i += run;
    skip = 0;
  }
}

const TCompoundFile::TDirEntry &TCompoundFile::StreamEntry(int index) const {
  if (index < 0 || static_cast<size_t>(index) >= FElements.size())
    throw common::Exception(common::Format("The compound file has no element #%d", index));
  const TDirEntry &entry = FDir[FElementEntries[index]];
  if (entry.Type != 2)
    throw common::Exception("The compound-file element is not a stream");
  if (entry.Size > FSize)
    Damaged("a stream is larger than the file");
  return entry;
}

bool TCompoundFile::StreamChain(int index, std::vector<uint32_t> &chain) const {
  const TDirEntry &entry = StreamEntry(index);
  if (entry.Size < FMiniCutoff)
    return false;
  chain = StreamSectors(entry.Start, entry.Size);
  return true;
}

void TCompoundFile::Parse() {
  uint8_t h[HeaderSize];
  ReadAt(0, h, HeaderSize);
  if (!HasSignature(h, std::min<uint64_t>(FSize, HeaderSize)))
    throw common::Exception("The file is not a compound file");
  if (FSize < HeaderSize)
    Damaged("the header is truncated");
  if (Get16(h + 28) != 0xFFFE)
    Damaged("the byte order mark is wrong");
  uint16_t sectorShift = Get16(h + 30);
  if (sectorShift != 9 && sectorShift != 12)
    Damaged("the sector size is not supported");
  FSectorSize = 1u << sectorShift;
  if (Get16(h + 32) != 6) // 64-byte mini sectors
    Damaged("the mini sector size is not supported");
  FMiniCutoff = Get32(h + 56);
  // The sectors after the header's own, the last one perhaps cut short.
  FSectorCount = static_cast<uint32_t>(std::min<uint64_t>((FSize - 1) / FSectorSize, UINT32_MAX));
  FMiniFatStart = Get32(h + 60);
  FMiniFatSectors = Get32(h + 64);

  // FAT sector ids: 109 in the header, the rest in the DIFAT chain. A free or end id ends the
  // ids of its sector only.
  const uint32_t fatSectors = Get32(h + 44);
  if (fatSectors > FSectorCount)
    Damaged("the header claims more FAT sectors than the file holds");
  std::vector<uint32_t> fatIds;
  auto takeIds = [&](const uint8_t *ids, uint32_t count) {
    for (uint32_t i = 0; i < count && fatIds.size() < fatSectors; ++i) {
      const uint32_t id = Get32(ids + 4 * i);
      if (id == FreeSector || id == EndOfChain)
        return;
      fatIds.push_back(id);
    }
  };
  takeIds(h + 76, 109);
  uint32_t difat = Get32(h + 68);
  std::vector<bool> seenDifat(FSectorCount, false);
  const uint32_t perDifat = FSectorSize / 4 - 1;
  while (fatIds.size() < fatSectors && difat != EndOfChain && difat != FreeSector) {
    const std::vector<uint8_t> sector = ReadSector(difat, "a DIFAT sector id is out of range");
    if (seenDifat[difat])
      Damaged("the DIFAT chain loops");
    seenDifat[difat] = true;
    takeIds(sector.data(), perDifat);
    difat = Get32(sector.data() + 4 * perDifat);
  }
  FFat.reserve(fatIds.size() * (FSectorSize / 4));
  for (uint32_t id : fatIds)
    AppendSectorIds(id, FFat, "a FAT sector id is out of range");

  for (uint32_t id : Chain(Get32(h + 48), FFat, Unbounded)) {
    const std::vector<uint8_t> sector = ReadSector(id, "a directory sector id is out of range");
    for (size_t off = 0; off + EntrySize <= FSectorSize; off += EntrySize) {
      const uint8_t *e = sector.data() + off;
      TDirEntry entry;
      // The name's length counts its closing zero; the name ends at its first zero in any case.
      entry.Name = Utf16Text(e, std::min<size_t>(Get16(e + 64) / 2, 32));
      entry.Name.erase(std::min(entry.Name.find(u'\0'), entry.Name.size()));
      entry.Type = e[66];
      entry.Left = Get32(e + 68);
      entry.Right = Get32(e + 72);
      entry.Child = Get32(e + 76);
      entry.Start = Get32(e + 116);
      // Version 3 files keep only 32 bits of size; old writers leave garbage in the high half.
      entry.Size = FSectorSize == 512 ? Get32(e + 120) : Get64(e + 120);
      FDir.push_back(std::move(entry));
    }
  }
  if (FDir.empty() || FDir[0].Type != 5)
    Damaged("the root entry is missing");

  // Top-level elements: the children of the root, a red-black tree walked in order.
  std::vector<bool> visited(FDir.size(), false);
  std::vector<uint32_t> stack;
  uint32_t node = FDir[0].Child;
  while (node != NoStream || !stack.empty()) {
    while (node != NoStream) {
      if (node >= FDir.size())
        Damaged("a directory link is out of range");
      if (visited[node] || node == 0)
        Damaged("the directory tree loops");
      visited[node] = true;
      stack.push_back(node);
      node = FDir[node].Left;
    }
    uint32_t id = stack.back();
    stack.pop_back();
    const TDirEntry &entry = FDir[id];
    if (entry.Type == 1 || entry.Type == 2) {
      FElements.push_back({entry.Name, entry.Type == 1 ? TStorageKind::Storage : TStorageKind::Stream,
                           entry.Type == 2 ? entry.Size : 0});
      FElementEntries.push_back(id);
    }
    node = entry.Right;
  }
}

std::vector<uint8_t> TCompoundFile::ReadSector(uint32_t sector, const char *outOfRange) const {
  if (sector >= FSectorCount)
    Damaged(outOfRange);
  std::vector<uint8_t> data(FSectorSize, 0);
  ReadAt(SectorOffset(sector), data.data(), FSectorSize);
  return data;
}

void TCompoundFile::AppendSectorIds(uint32_t sector, std::vector<uint32_t> &ids,
                                    const char *outOfRange) const {
  const std::vector<uint8_t> data = ReadSector(sector, outOfRange);
  for (uint32_t i = 0; i < FSectorSize / 4; ++i)
    ids.push_back(Get32(data.data() + 4 * i));
}

void TCompoundFile::LoadMiniStream() const {
  if (FMiniLoaded)
    return;
  // The mini FAT and mini stream are only needed for small streams, so a broken one does not
  // stop the reading of large streams.
  FMiniStream = ReadChain(FDir[0].Start, FDir[0].Size);
  FMiniFat.clear();
  if (FMiniFatSectors != 0 && FMiniFatStart != EndOfChain)
    for (uint32_t id : Chain(FMiniFatStart, FFat, Unbounded))
      AppendSectorIds(id, FMiniFat, "a mini FAT sector id is out of range");
  FMiniLoaded = true;
}

std::vector<uint8_t> TCompoundFile::ReadMini(uint32_t start, uint64_t size) const {
  LoadMiniStream();
  uint64_t miniSectors = FMiniStream.size() / MiniSectorSize;
  uint64_t needed = (size + MiniSectorSize - 1) / MiniSectorSize;
  if (needed > miniSectors)
    Damaged("a stream is larger than the mini stream");
  std::vector<uint32_t> chain = Chain(start, FMiniFat, needed);
  std::vector<uint8_t> data(static_cast<size_t>(size));
  size_t done = 0;
  for (uint32_t sector : chain) {
    if (sector >= miniSectors)
      Damaged("a mini sector id is out of range");
    size_t take = std::min<size_t>(MiniSectorSize, data.size() - done);
    std::memcpy(data.data() + done, FMiniStream.data() + size_t(sector) * MiniSectorSize, take);
    done += take;
  }
  return data;
}

int TCompoundFile::Find(const std::u16string &name) const {
  auto same = [](char16_t a, char16_t b) { return AsciiLower(a) == AsciiLower(b); };
  for (size_t i = 0; i < FElements.size(); ++i)
    if (std::equal(FElements[i].Name.begin(), FElements[i].Name.end(), name.begin(), name.end(), same))
      return static_cast<int>(i);
  return -1;
}

std::vector<uint8_t> TCompoundFile::ReadStream(int index) const {
  const TDirEntry &entry = StreamEntry(index);
  if (entry.Size == 0)
    return {};
  return entry.Size < FMiniCutoff ? ReadMini(entry.Start, entry.Size) : ReadChain(entry.Start, entry.Size);
}

std::vector<uint8_t> TCompoundFile::ReadStream(const std::u16string &name) const {
  int index = Find(name);
  if (index < 0)
    throw common::Exception("The compound file has no stream of that name");
  return ReadStream(index);
}

} // namespace xls
