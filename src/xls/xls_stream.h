#pragma once

#include <cstdint>
#include <cstring>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "xls/stream_cipher.h"

namespace xls {

class TCompoundFile;

// The workbook file version, compared by ordinal.
enum TExcelVersion { xvNone, xvExcelUnknown, xvExcel21, xvExcel30, xvExcel40, xvExcel50, xvExcel97 };

// Record ids that the stream itself knows.
constexpr uint16_t BIFF_CONTINUE = 0x003C;
constexpr uint16_t BIFF_MSODRAWINGGROUP = 0x00EB;
constexpr uint16_t BIFF_GELFRAME = 0x1066;
constexpr uint16_t BIFF_FILEPASS = 0x002F;

// The largest piece of a record body in continued-read mode.
constexpr int ContinuedPieceSize = 8224;

// The sequential BIFF record stream of a workbook: from the "Workbook" or "Book" stream of a
// compound file (on disk or a memory image) or from a plain BIFF2-4 file. Hides continued reads
// over CONTINUE records and the RC4 decryption of password-protected BIFF8 files.
class TXLSStream {
public:
  TXLSStream();
  ~TXLSStream();
  TXLSStream(const TXLSStream &) = delete;
  TXLSStream &operator=(const TXLSStream &) = delete;

  // An in-memory compound-file image used by the next OpenWorkbook instead of the file; an empty
  // vector means none.
  void SetSourceStream(std::vector<uint8_t> image) { FSourceStream = std::move(image); }

  // Closes anything open, opens the file (or the source stream) and positions at the first
  // record. Throws "The file is not an Excel workbook", "Cannot open file %s", or
  // "The workbook stream cannot be read: ..." when the compound file or its workbook stream is
  // broken. A plain file whose first record is not a BIFF2-4 BOF gives xvNone.
  TExcelVersion OpenWorkbook(const std::u16string &FileName);
  void Close();

  // The next record header, never decrypted; the key stream is advanced over it when encrypted.
  // Returns the bytes read (4, or fewer at the end of the stream).
  int ReadHeader(uint8_t header[4]) {
    // Nearly every read is of plain bytes that lie in the window; those are copied here.
    if (const uint8_t *at = InWindow(4); at && !FEncrypted) {
      std::memcpy(header, at, 4);
      FPosition += 4;
      return 4;
    }
    return ReadHeaderSlow(header);
  }
  // Body bytes; decrypted when encrypted; crosses into CONTINUE records in continued-read mode.
  // Throws "CONTINUE record is missing".
  int ReadData(void *buffer, int count) {
    if (const uint8_t *at = count > 0 ? InWindow(count) : nullptr; at && !FEncrypted && !FContinuedRead) {
      std::memcpy(buffer, at, static_cast<size_t>(count));
      FPosition += static_cast<uint32_t>(count);
      return count;
    }
    return ReadDataSlow(buffer, count);
  }
  int ReadNoDecrypt(void *buffer, int count);
  // ReadNoDecrypt, advancing the key stream over the bytes read when encrypted.
  int ReadNoDecryptAdvance(void *buffer, int count);
  // The id of the next record without consuming it; 0 when fewer than 4 bytes remain.
  uint16_t PeekRecordId();

  // origin: 0 from the start, 1 from the current position, 2 from the end. The position is kept
  // within 0..StreamSize. Any other origin does nothing and returns 0.
  int64_t Seek(int32_t offset, int origin);
  uint32_t Position() const { return FPosition; }
  uint32_t StreamSize() const { return FStreamSize; }

  int ContinuedCount() const { return FContinuedCount; }
  void BeginContinuedRead();
  void EndContinuedRead();

  // Checks the password against a FILEPASS body (RC4, RC4 CryptoAPI or XOR obfuscation); on
  // success switches decryption on from the current position and returns true. A wrong password
  // or an unknown encryption type changes nothing and returns false.
  bool StartDecryption(const uint8_t *filePass, int filePassLength, const std::u16string &Password);
  bool Encrypted() const { return FEncrypted; }

  // True when the opened compound file holds a "_VBA_PROJECT_CUR" storage.
  bool HasVbaProject() const { return FHasVbaProject; }

private:
  TXLSStream &operator=(TXLSStream &&); // for Close
  TExcelVersion OpenCompound(const std::string &path);
  TExcelVersion OpenPlain(const std::string &path);
  // Where count bytes from the position lie in FData (the window, or the whole stream, which
  // starts at 0), or nullptr when they do not all lie there.
  const uint8_t *InWindow(int count) const {
    const size_t at = static_cast<size_t>(FPosition) - FWindowStart;
    if (FPosition < FWindowStart || at > FData.size() || FData.size() - at < static_cast<size_t>(count))
      return nullptr;
    return FData.data() + at;
  }
  int ReadHeaderSlow(uint8_t header[4]);
  int ReadDataSlow(void *buffer, int count);
  int RawRead(uint8_t *buffer, int count);
  int ReadPiece(uint8_t *buffer, int count);

  bool Fill(uint32_t offset);

  std::vector<uint8_t> FSourceStream;
  std::vector<uint8_t> FData; // the whole workbook stream or plain file, or a window of it
  // A workbook stream in a compound file on disk is read through a window rather than held
  // whole: FData then holds stream bytes FWindowStart onwards.
  std::unique_ptr<TCompoundFile> FFile;
  std::vector<uint32_t> FChain;
  uint32_t FWindowStart = 0;
  bool FPlain = false;
  uint32_t FPosition = 0;
  uint32_t FStreamSize = 0;
  int FContinuedCount = 0;
  bool FContinuedRead = false;
  bool FEncrypted = false;
  bool FHasVbaProject = false;
  TExcelVersion FVersion = xvNone;
  TStreamCipher FCipher;
  uint16_t FRecordLength = 0; // of the last header read; XOR obfuscation depends on it
};

} // namespace xls
