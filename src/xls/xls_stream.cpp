#include "xls/xls_stream.h"

#include <algorithm>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <limits>

#include "common/bytes.h"
#include "common/exception.h"
#include "common/text.h"
#include "xls/compound_file.h"

namespace xls {

using common::Get16;

// How much of a workbook stream on disk is held at a time.
constexpr size_t WindowSize = 64 * 1024;

TXLSStream::TXLSStream() = default;
TXLSStream::~TXLSStream() = default;
TXLSStream &TXLSStream::operator=(TXLSStream &&) = default;

TExcelVersion TXLSStream::OpenWorkbook(const std::u16string &FileName) {
  Close(); // the opens below start from a new stream's state
  const std::string path = common::Utf16ToUtf8(FileName);
  FVersion =
      !FSourceStream.empty() || TCompoundFile::IsCompoundFile(path) ? OpenCompound(path) : OpenPlain(path);
  return FVersion;
}

TExcelVersion TXLSStream::OpenCompound(const std::string &path) {
  TCompoundFile file = FSourceStream.empty() ? TCompoundFile::FromFile(path)
                                             : TCompoundFile(std::vector<uint8_t>(FSourceStream));
  const int book = file.Find(u"Book"), workbook = file.Find(u"Workbook");
  const auto &elements = file.Elements();
  const bool vbaProject = std::any_of(elements.begin(), elements.end(), [](const TStorageElement &e) {
    return e.Kind == TStorageKind::Storage && e.Name == u"_VBA_PROJECT_CUR";
  });
  if (book < 0 && workbook < 0)
    throw common::Exception("The file is not an Excel workbook");
  const int index = workbook >= 0 ? workbook : book;
  try {
    if (FSourceStream.empty() && file.StreamChain(index, FChain)) {
      FStreamSize = static_cast<uint32_t>(
          std::min<uint64_t>(elements[size_t(index)].Size, std::numeric_limits<uint32_t>::max()));
      FFile = std::make_unique<TCompoundFile>(std::move(file));
    } else {
      FData = file.ReadStream(index);
      if (FData.size() > std::numeric_limits<uint32_t>::max())
        FData.resize(std::numeric_limits<uint32_t>::max());
      FStreamSize = static_cast<uint32_t>(FData.size());
    }
  } catch (const common::Exception &e) {
    // A workbook stream that is there but cannot be read must stop the read, not look empty.
    throw common::Exception(std::string("The workbook stream cannot be read: ") + e.what());
  }
  FHasVbaProject = vbaProject;
  if (workbook >= 0)
    return xvExcel97;
  // Some writers put a BIFF8 stream under the name "Book"; its first BOF says which it is.
  uint8_t bof[6];
  const int n = RawRead(bof, sizeof bof);
  FPosition = 0;
  return n == 6 && Get16(bof) == 0x0809 && Get16(bof + 4) == 0x0600 ? xvExcel97 : xvExcel50;
}

TExcelVersion TXLSStream::OpenPlain(const std::string &path) {
  std::error_code ec;
  std::ifstream in;
  if (std::filesystem::is_regular_file(path, ec))
    in.open(path, std::ios::binary);
  const auto size = std::filesystem::file_size(path, ec);
  if (!in.is_open() || !in || ec)
    throw common::Exception(common::Format("Cannot open file %s", path.c_str()));
  // The 32-bit stream size cannot describe more; such a file is no BIFF2-4 workbook anyway.
  FData.resize(static_cast<size_t>(std::min<uintmax_t>(size, std::numeric_limits<uint32_t>::max())));
  in.read(reinterpret_cast<char *>(FData.data()), static_cast<std::streamsize>(FData.size()));
  if (in.bad())
    throw common::Exception(common::Format("Cannot open file %s", path.c_str()));
  FData.resize(static_cast<size_t>(in.gcount()));
  FStreamSize = static_cast<uint32_t>(FData.size());
  FPlain = true;
  if (FData.size() < 4 || FData[0] != 0x09)
    return xvNone;
  switch (FData[1]) {
  case 0x00: return xvExcel21;
  case 0x02: return xvExcel30;
  case 0x04: return xvExcel40;
  default: return xvNone;
  }
}

void TXLSStream::Close() {
  // All back to how a new stream starts, but for the source image the next open is to read.
  std::vector<uint8_t> source = std::move(FSourceStream);
  *this = TXLSStream();
  FSourceStream = std::move(source);
}

bool TXLSStream::Fill(uint32_t offset) {
  // Makes the window start at offset; false at the end of the stream.
  if (offset >= FStreamSize)
    return false;
  const size_t size = std::min<size_t>(WindowSize, FStreamSize - offset);
  FData.resize(size);
  FWindowStart = offset;
  FFile->ReadStreamPart(FChain, offset, FData.data(), size);
  return true;
}

int TXLSStream::RawRead(uint8_t *buffer, int count) {
  int done = 0;
  while (done < count) {
    // A stream read from its file moves the window on; one held whole simply ends.
    if (!InWindow(1) && !(FFile && Fill(FPosition)))
      break;
    const size_t offset = FPosition - FWindowStart;
    const size_t n = std::min<size_t>(static_cast<size_t>(count - done), FData.size() - offset);
    std::memcpy(buffer + done, FData.data() + offset, n);
    FPosition += static_cast<uint32_t>(n);
    done += static_cast<int>(n);
  }
  return done;
}

int TXLSStream::ReadPiece(uint8_t *buffer, int count) {
  const uint32_t start = FPosition;
  const int n = RawRead(buffer, count);
  if (FEncrypted && n > 0)
    FCipher.Decrypt(buffer, static_cast<size_t>(n), start, FRecordLength);
  return n;
}

int TXLSStream::ReadHeaderSlow(uint8_t header[4]) {
  const int n = RawRead(header, 4);
  FRecordLength = n == 4 ? Get16(header + 2) : 0;
  if (FEncrypted && n > 0)
    FCipher.SkipTo(FPosition);
  return n;
}

int TXLSStream::ReadDataSlow(void *buffer, int count) {
  auto *out = static_cast<uint8_t *>(buffer);
  if (count <= 0)
    return 0;
  if (!FContinuedRead || FPlain)
    return ReadPiece(out, count);
  int total = 0;
  for (;;) {
    const int take = std::min(ContinuedPieceSize - FContinuedCount, count - total);
    const int n = ReadPiece(out + total, take);
    total += n;
    FContinuedCount += n;
    if (total == count || n < take)
      return total;
    // The piece is full: the body goes on in the next record.
    uint8_t header[4];
    if (ReadHeader(header) < 4)
      return total;
    const uint16_t id = Get16(header);
    if (id != BIFF_CONTINUE && id != BIFF_MSODRAWINGGROUP && id != BIFF_GELFRAME)
      throw common::Exception("CONTINUE record is missing");
    FContinuedCount = 0;
  }
}

int TXLSStream::ReadNoDecrypt(void *buffer, int count) {
  struct Restore {
    bool &flag;
    bool saved;
    ~Restore() { flag = saved; }
  } restore{FEncrypted, FEncrypted};
  FEncrypted = false;
  return ReadData(buffer, count);
}

int TXLSStream::ReadNoDecryptAdvance(void *buffer, int count) {
  const int n = ReadNoDecrypt(buffer, count);
  if (FEncrypted && n > 0)
    FCipher.SkipTo(FPosition);
  return n;
}

uint16_t TXLSStream::PeekRecordId() {
  const uint32_t at = FPosition;
  uint8_t header[4];
  const int n = RawRead(header, 4);
  FPosition = at;
  return n == 4 ? Get16(header) : 0;
}

int64_t TXLSStream::Seek(int32_t offset, int origin) {
  if (origin < 0 || origin > 2)
    return 0;
  const int64_t base = origin == 0 ? 0 : origin == 1 ? FPosition : FStreamSize;
  // Kept inside the stream: a record length that runs past the end simply ends the stream.
  const int64_t target = std::clamp<int64_t>(base + offset, 0, FStreamSize);
  FPosition = static_cast<uint32_t>(target);
  return target;
}

void TXLSStream::BeginContinuedRead() {
  FContinuedRead = true;
  FContinuedCount = 0;
}

void TXLSStream::EndContinuedRead() {
  FContinuedRead = false;
  FContinuedCount = 0;
}

bool TXLSStream::StartDecryption(const uint8_t *filePass, int filePassLength,
                                 const std::u16string &Password) {
  if (!FCipher.Start(filePass, filePassLength, FVersion == xvExcel97, Password))
    return false;
  FEncrypted = true;
  FCipher.SkipTo(FPosition);
  return true;
}

} // namespace xls
