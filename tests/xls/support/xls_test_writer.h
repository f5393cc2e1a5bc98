#pragma once

// Test-only builders of BIFF record streams, compound-file images and encrypted BIFF8 streams,
// so tests can make exact workbooks byte by byte.

#include <array>
#include <cstdint>
#include <exception>
#include <functional>
#include <initializer_list>
#include <string>
#include <vector>

#include "xls/xls_stream.h"

namespace xls_test {

using Bytes = std::vector<uint8_t>;

// Little-endian field builder for record bodies.
class ByteWriter {
public:
  ByteWriter() = default;
  ByteWriter(std::initializer_list<uint8_t> bytes) : FData(bytes) {}

  ByteWriter &U8(uint8_t v);
  ByteWriter &U16(uint16_t v);
  ByteWriter &U32(uint32_t v);
  ByteWriter &I32(int32_t v) { return U32(static_cast<uint32_t>(v)); }
  ByteWriter &F64(double v);
  ByteWriter &Raw(const void *data, size_t n);
  ByteWriter &Raw(const Bytes &data) { return Raw(data.data(), data.size()); }
  ByteWriter &Fill(uint8_t value, size_t n);
  // 8-bit bytes as they are.
  ByteWriter &Text8(const std::string &text) { return Raw(text.data(), text.size()); }
  // BIFF2-5 byte strings: an 8-bit or 16-bit length, then the bytes.
  ByteWriter &ByteString8(const std::string &text);
  ByteWriter &ByteString16(const std::string &text);
  // BIFF8 unicode strings: a 16-bit (or 8-bit) character count, the option byte, then the
  // characters, stored compressed (one byte each) when all are below 256 unless forced wide.
  ByteWriter &UnicodeString16(const std::u16string &text, bool forceWide = false);
  ByteWriter &UnicodeString8(const std::u16string &text, bool forceWide = false);
  // Only the option byte and the characters (no count), as a continued string piece stores them.
  ByteWriter &UnicodeChars(const std::u16string &text, bool forceWide = false);

  const Bytes &Data() const { return FData; }
  size_t Size() const { return FData.size(); }
  operator const Bytes &() const { return FData; }

private:
  Bytes FData;
};

// BOF substream types.
constexpr uint16_t BofGlobals = 0x0005;
constexpr uint16_t BofWorksheet = 0x0010;
constexpr uint16_t BofChart = 0x0020;
constexpr uint16_t BofMacro = 0x0040;

// A BIFF record stream: each Record appends a 4-byte header and the body.
class BiffWriter {
public:
  BiffWriter &Record(uint16_t id, const Bytes &body);
  BiffWriter &Record(uint16_t id, std::initializer_list<uint8_t> body) { return Record(id, Bytes(body)); }
  // A header whose length field says `length` whatever body follows (for broken records).
  BiffWriter &RawHeader(uint16_t id, uint16_t length);
  BiffWriter &Raw(const Bytes &bytes);
  // BOF of the given version and substream type: id 0x0009/0x0209/0x0409/0x0809 with the body
  // length of that version (4, 6, 6, 8 or 16 bytes).
  BiffWriter &Bof(xls::TExcelVersion version, uint16_t type);
  BiffWriter &Eof() { return Record(0x000A, Bytes{}); }

  const Bytes &Data() const { return FData; }
  size_t Size() const { return FData.size(); }
  operator const Bytes &() const { return FData; }

private:
  Bytes FData;
};

// Builds compound-file images holding top-level streams and (empty) storages. Streams below
// 4096 bytes go into the mini stream. Sector size 512 (version 3) or 4096 (version 4).
class CompoundFileBuilder {
public:
  explicit CompoundFileBuilder(uint32_t sectorSize = 512);
  CompoundFileBuilder &AddStream(const std::u16string &name, const Bytes &content);
  CompoundFileBuilder &AddStorage(const std::u16string &name);
  Bytes Build() const;

private:
  struct Element {
    std::u16string Name;
    bool Storage;
    Bytes Content;
  };
  uint32_t FSectorSize;
  std::vector<Element> FElements;
};

// Convenience: a compound file with one stream named "Workbook" (or any name).
Bytes MakeCompoundFile(const Bytes &stream, const std::u16string &name = u"Workbook",
                       uint32_t sectorSize = 512);

// A FILEPASS body (RC4, version 1.1, 54 bytes) for the password, with a fixed or given salt.
using Salt = std::array<uint8_t, 16>;
constexpr Salt DefaultSalt = {0x11, 0x22, 0x33, 0x44, 0x55, 0x66, 0x77, 0x88,
                              0x99, 0xAA, 0xBB, 0xCC, 0xDD, 0xEE, 0xF0, 0x01};
Bytes MakeFilePass(const std::u16string &password, const Salt &salt = DefaultSalt);

// Encrypts a BIFF8 record stream with the password. When the stream has no FILEPASS record, one
// is inserted right after the first BOF. Every body after the FILEPASS is encrypted by its stream
// position except BOF bodies; headers never are.
Bytes EncryptBiff8(const Bytes &stream, const std::u16string &password, const Salt &salt = DefaultSalt);

// The same with any scheme: RC4, RC4 CryptoAPI (version 4.2, 128-bit or 40-bit key) or XOR
// obfuscation (biff8 false: the BIFF5 FILEPASS of key and verifier alone).
enum class CipherScheme { Rc4, CryptoApi, CryptoApi40, Xor };
Bytes EncryptStream(const Bytes &stream, const std::u16string &password, CipherScheme scheme,
                    bool biff8 = true, const Salt &salt = DefaultSalt);

// Writes bytes to a file (plain BIFF2-4 files are just the record stream); throws on failure.
void WriteFile(const std::string &path, const Bytes &bytes);
// A path for a scratch file in the temporary folder, unique to this process.
std::string TempPath(const std::string &name);

// The message of the exception that f throws, or "(no exception)".
inline std::string ExceptionText(const std::function<void()> &f) {
  try {
    f();
  } catch (const std::exception &e) {
    return e.what();
  }
  return "(no exception)";
}

} // namespace xls_test
