#pragma once

#include <cstddef>
#include <cstdint>
#include <fstream>
#include <memory>
#include <string>
#include <vector>

namespace xls {

// The eight bytes every compound file starts with.
extern const uint8_t CompoundFileSignature[8];

enum class TStorageKind { Storage, Stream };

struct TStorageElement {
  std::u16string Name;
  TStorageKind Kind = TStorageKind::Stream;
  uint64_t Size = 0; // streams only; 0 for storages
};

// A read-only reader of OLE2 compound files (structured storage), from a file or a memory image.
// The input is untrusted: every sector chain, sector id, size and directory link is checked and a
// broken file raises common::Exception; nothing is read out of bounds and no chain loops forever.
class TCompoundFile {
public:
  // Takes the whole file image. Throws common::Exception when it is not a sound compound file.
  explicit TCompoundFile(std::vector<uint8_t> image);
  // The file (path in UTF-8), read as needed. Throws common::Exception ("Cannot open file %s").
  static TCompoundFile FromFile(const std::string &path);

  // The structured-storage test: the data starts with the compound-file signature.
  static bool HasSignature(const uint8_t *data, size_t size);
  // The same test on a file; a missing or unreadable file is not a compound file.
  static bool IsCompoundFile(const std::string &path);

  // Top-level elements of the root storage, in directory-tree order.
  const std::vector<TStorageElement> &Elements() const { return FElements; }

  // Index into Elements() of the top-level element whose name matches ignoring ASCII case, or -1.
  int Find(const std::u16string &name) const;

  // The whole content of a top-level stream. Throws when the element is a storage or its chain
  // is broken.
  std::vector<uint8_t> ReadStream(int index) const;
  std::vector<uint8_t> ReadStream(const std::u16string &name) const;

  // A stream read piece by piece instead of whole: for a stream outside the mini stream, Chain
  // gets its sectors (checked as ReadStream checks them) and true is returned; false means the
  // stream is small and should be read with ReadStream. Throws as ReadStream does.
  bool StreamChain(int index, std::vector<uint32_t> &chain) const;
  // Count bytes of such a stream from Offset on; the caller keeps within the stream's size.
  void ReadStreamPart(const std::vector<uint32_t> &chain, uint64_t offset, uint8_t *out, size_t count) const;

private:
  struct TDirEntry {
    std::u16string Name;
    uint8_t Type = 0;
    uint32_t Left = 0, Right = 0, Child = 0;
    uint32_t Start = 0;
    uint64_t Size = 0;
  };

  TCompoundFile() = default;
  void Parse();
  // The directory entry of a stream element, checked against the file; throws otherwise.
  const TDirEntry &StreamEntry(int index) const;
  void ReadAt(uint64_t offset, uint8_t *out, size_t count) const;
  // The callers have checked sector < FSectorCount, so this stays inside the image.
  size_t SectorOffset(uint32_t sector) const { return (size_t(sector) + 1) * FSectorSize; }
  std::vector<uint8_t> ReadSector(uint32_t sector, const char *outOfRange) const;
  // Appends the sector ids that one sector of an allocation table holds.
  void AppendSectorIds(uint32_t sector, std::vector<uint32_t> &ids, const char *outOfRange) const;
  std::vector<uint32_t> Chain(uint32_t start, const std::vector<uint32_t> &fat, uint64_t limit) const;
  std::vector<uint8_t> ReadChain(uint32_t start, uint64_t size) const;
  std::vector<uint32_t> StreamSectors(uint32_t start, uint64_t size) const;
  void LoadMiniStream() const;
  std::vector<uint8_t> ReadMini(uint32_t start, uint64_t size) const;

  std::vector<uint8_t> FImage;          // a memory image, or
  std::unique_ptr<std::ifstream> FFile; // the file, read as needed
  // Where the next read of FFile goes on from, so that reads in file order (the sectors of the
  // allocation table, a stream's runs) need no seek: a seek costs a system call and empties the
  // file's read buffer.
  mutable uint64_t FFileAt = UINT64_MAX;
  uint64_t FSize = 0; // bytes in the image or file
  uint32_t FMiniFatStart = 0, FMiniFatSectors = 0;
  uint32_t FSectorSize = 512;
  uint32_t FMiniCutoff = 4096;
  uint32_t FSectorCount = 0; // sectors present after the header, the last perhaps cut short
  std::vector<uint32_t> FFat;
  mutable bool FMiniLoaded = false; // the mini stream is read when a small stream is first asked for
  mutable std::vector<uint32_t> FMiniFat;
  mutable std::vector<uint8_t> FMiniStream;
  std::vector<TDirEntry> FDir;
  std::vector<TStorageElement> FElements;
  std::vector<uint32_t> FElementEntries; // directory index of each element
};

} // namespace xls
