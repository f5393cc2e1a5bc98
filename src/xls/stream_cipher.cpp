#include "xls/stream_cipher.h"

#include <algorithm>
#include <cstring>
#include <vector>

#include "common/bytes.h"
#include "xls/block_hash.h"

namespace xls {

using common::Get16;
using common::Get32;

namespace {

constexpr uint32_t BlockSize = 1024;

std::vector<uint8_t> Utf16Bytes(std::u16string_view text) {
  std::vector<uint8_t> bytes;
  for (char16_t c : text) {
    bytes.push_back(static_cast<uint8_t>(c & 0xFF));
    bytes.push_back(static_cast<uint8_t>(c >> 8));
  }
  return bytes;
}

} // namespace

bool TStreamCipher::Start(const uint8_t *filePass, int length, bool biff8, const std::u16string &password) {
  if (!filePass)
    return false;
  if (!biff8)
    return length >= 4 && StartXor(filePass, password);
  if (length < 2)
    return false;
  const uint16_t type = Get16(filePass);
  if (type == 0)
    return length >= 6 && StartXor(filePass + 2, password);
  if (type != 1 || length < 6)
    return false;
  const uint16_t major = Get16(filePass + 2), minor = Get16(filePass + 4);
  if (major == 1 && minor == 1)
    return StartRc4(filePass, length, password);
  if (major >= 2 && major <= 4 && minor == 2)
    return StartCryptoApi(filePass, length, password);
  return false;
}

bool TStreamCipher::StartRc4(const uint8_t *filePass, int length, const std::u16string &password) {
  // Salt at 6, encrypted verifier at 22 and its encrypted MD5 at 38.
  if (length < 54)
    return false;
  const std::vector<uint8_t> utf16 = Utf16Bytes(std::u16string_view(password).substr(0, 31));
  const TMD5Digest h0 = Md5(utf16.data(), utf16.size());
  uint8_t buffer[336];
  for (int i = 0; i < 16; ++i) {
    std::memcpy(buffer + i * 21, h0.data(), 5);
    std::memcpy(buffer + i * 21 + 5, filePass + 6, 16);
  }
  const TMD5Digest h1 = Md5(buffer, sizeof buffer);
  TStreamCipher candidate;
  candidate.FKind = TCipherKind::Rc4;
  std::memcpy(candidate.FSeed.data(), h1.data(), 5);
  // The verifier and its hash are encrypted as the first bytes of a stream.
  uint8_t verifier[32];
  std::memcpy(verifier, filePass + 22, 32);
  candidate.Decrypt(verifier, sizeof verifier, 0, 0);
  if (std::memcmp(Md5(verifier, 16).data(), verifier + 16, 16) != 0)
    return false;
  *this = candidate;
  return true;
}

bool TStreamCipher::StartCryptoApi(const uint8_t *filePass, int length, const std::u16string &password) {
  // After the type and version: flags at 6, the header's size at 10, the header from 14 (its
  // key size in bits at 14 + 16), then the verifier: salt size, salt, encrypted verifier,
  // verifier hash size, encrypted SHA-1 of the verifier.
  if (length < 14 + 20)
    return false;
  const uint32_t headerSize = Get32(filePass + 10);
  if (headerSize < 20 || headerSize > uint32_t(length) - 14 || uint32_t(length) - 14 - headerSize < 60)
    return false;
  const uint8_t *verifierAt = filePass + 14 + headerSize;
  if (Get32(verifierAt) != 16 || Get32(verifierAt + 36) != 20)
    return false;
  uint32_t keyBits = Get32(filePass + 14 + 16);
  if (keyBits == 0)
    keyBits = 40;
  if (keyBits < 40 || keyBits > 128 || keyBits % 8 != 0)
    return false;
  std::vector<uint8_t> salted(verifierAt + 4, verifierAt + 20);
  const std::vector<uint8_t> utf16 = Utf16Bytes(std::u16string_view(password).substr(0, 255));
  salted.insert(salted.end(), utf16.begin(), utf16.end());
  TStreamCipher candidate;
  candidate.FKind = TCipherKind::CryptoApi;
  candidate.FSeed = Sha1(salted.data(), salted.size());
  candidate.FKeyLength = keyBits / 8;
  uint8_t verifier[36];
  std::memcpy(verifier, verifierAt + 20, 16);
  std::memcpy(verifier + 16, verifierAt + 40, 20);
  candidate.Decrypt(verifier, sizeof verifier, 0, 0);
  if (std::memcmp(Sha1(verifier, 16).data(), verifier + 16, 20) != 0)
    return false;
  *this = candidate;
  return true;
}

bool TStreamCipher::StartXor(const uint8_t *keyAndVerifier, const std::u16string &password) {
  const std::string bytes = XorPasswordBytes(password);
  if (bytes.empty() || XorKeyOf(bytes) != Get16(keyAndVerifier) ||
      XorVerifierOf(bytes) != Get16(keyAndVerifier + 2))
    return false;
  FKind = TCipherKind::Xor;
  FXorArray = XorArrayOf(bytes);
  return true;
}

void TStreamCipher::KeyBlock(uint32_t block) {
  FBlock = block;
  FKeyPosition = block * BlockSize;
  // The key hashes the seed followed by the block number.
  const size_t seedSize = FKind == TCipherKind::Rc4 ? 5 : 20;
  uint8_t seed[24];
  std::memcpy(seed, FSeed.data(), seedSize);
  for (size_t i = 0; i < 4; ++i)
    seed[seedSize + i] = static_cast<uint8_t>(block >> (8 * i));
  if (FKind == TCipherKind::Rc4) {
    const TMD5Digest key = Md5(seed, seedSize + 4);
    FRC4.SetKey(key.data(), key.size());
    return;
  }
  const TSHA1Digest hash = Sha1(seed, seedSize + 4);
  // A 40-bit key is used as 128 bits, its last 88 zero.
  uint8_t key[16] = {};
  std::memcpy(key, hash.data(), FKeyLength);
  FRC4.SetKey(key, FKeyLength == 5 ? 16 : FKeyLength);
}

void TStreamCipher::SkipTo(uint32_t offset) {
  if (FKind == TCipherKind::Xor)
    return; // no key stream: each byte depends on its offset alone
  if (offset / BlockSize != FBlock || offset < FKeyPosition)
    KeyBlock(offset / BlockSize);
  FRC4.Skip(offset - FKeyPosition);
  FKeyPosition = offset;
}

void TStreamCipher::Decrypt(uint8_t *data, size_t n, uint32_t offset, uint32_t recordLength) {
  if (FKind == TCipherKind::Xor) {
    // The array index of a record's first body byte is its stream offset plus the record's length.
    uint32_t index = offset + recordLength;
    for (size_t i = 0; i < n; ++i, ++index) {
      const uint8_t v = static_cast<uint8_t>(data[i] ^ FXorArray[index % 16]);
      data[i] = static_cast<uint8_t>(v >> 5 | v << 3);
    }
    return;
  }
  SkipTo(offset);
  while (n > 0) {
    const size_t take = std::min<size_t>(n, (FBlock + 1) * BlockSize - FKeyPosition);
    FRC4.Process(data, take);
    data += take;
    n -= take;
    FKeyPosition += static_cast<uint32_t>(take);
    if (n > 0)
      KeyBlock(FBlock + 1);
  }
}

// ---------------------------------------------------------------------------------------------
// XOR obfuscation

std::string XorPasswordBytes(const std::u16string &password) {
  // Each character's low byte, or its high byte when the low one is zero.
  std::string bytes;
  for (char16_t c : password.substr(0, 15)) {
    const auto low = static_cast<uint8_t>(c & 0xFF);
    bytes.push_back(static_cast<char>(low ? low : static_cast<uint8_t>(c >> 8)));
  }
  return bytes;
}

uint16_t XorKeyOf(const std::string &password) {
  static constexpr uint16_t InitialCode[15] = {0xE1F0, 0x1D0F, 0xCC9C, 0x84C0, 0x110C, 0x0E10, 0xF1CE, 0x313E,
                                               0x1872, 0xE139, 0xD40F, 0x84F9, 0x280C, 0xA96A, 0x4EC3};
  static constexpr uint16_t XorMatrix[105] = {
      0xAEFC, 0x4DD9, 0x9BB2, 0x2745, 0x4E8A, 0x9D14, 0x2A09, 0x7B61, 0xF6C2, 0xFDA5, 0xEB6B, 0xC6F7,
      0x9DCF, 0x2BBF, 0x4563, 0x8AC6, 0x05AD, 0x0B5A, 0x16B4, 0x2D68, 0x5AD0, 0x0375, 0x06EA, 0x0DD4,
      0x1BA8, 0x3750, 0x6EA0, 0xDD40, 0xD849, 0xA0B3, 0x5147, 0xA28E, 0x553D, 0xAA7A, 0x44D5, 0x6F45,
      0xDE8A, 0xAD35, 0x4A4B, 0x9496, 0x390D, 0x721A, 0xEB23, 0xC667, 0x9CEF, 0x29FF, 0x53FE, 0xA7FC,
      0x5FD9, 0x47D3, 0x8FA6, 0x0F6D, 0x1EDA, 0x3DB4, 0x7B68, 0xF6D0, 0xB861, 0x60E3, 0xC1C6, 0x93AD,
      0x377B, 0x6EF6, 0xDDEC, 0x45A0, 0x8B40, 0x06A1, 0x0D42, 0x1A84, 0x3508, 0x6A10, 0xAA51, 0x4483,
      0x8906, 0x022D, 0x045A, 0x08B4, 0x1168, 0x76B4, 0xED68, 0xCAF1, 0x85C3, 0x1BA7, 0x374E, 0x6E9C,
      0x3730, 0x6E60, 0xDCC0, 0xA9A1, 0x4363, 0x86C6, 0x1DAD, 0x3331, 0x6662, 0xCCC4, 0x89A9, 0x0373,
      0x06E6, 0x0DCC, 0x1021, 0x2042, 0x4084, 0x8108, 0x1231, 0x2462, 0x48C4};
  if (password.empty() || password.size() > 15)
    return 0;
  uint16_t key = InitialCode[password.size() - 1];
  int element = 104;
  for (size_t i = password.size(); i-- > 0;) {
    uint8_t c = static_cast<uint8_t>(password[i]);
    for (int bit = 0; bit < 7; ++bit, --element, c = static_cast<uint8_t>(c << 1))
      if (c & 0x40)
        key ^= XorMatrix[element];
  }
  return key;
}

uint16_t XorVerifierOf(const std::string &password) {
  uint16_t verifier = 0;
  std::string bytes(1, static_cast<char>(password.size()));
  bytes += password;
  for (size_t i = bytes.size(); i-- > 0;) {
    const uint16_t carry = (verifier & 0x4000) ? 1 : 0;
    verifier = static_cast<uint16_t>(((verifier << 1) & 0x7FFF) | carry);
    verifier ^= static_cast<uint8_t>(bytes[i]);
  }
  return verifier ^ 0xCE4B;
}

std::array<uint8_t, 16> XorArrayOf(const std::string &password) {
  static constexpr uint8_t Pad[15] = {0xBB, 0xFF, 0xFF, 0xBA, 0xFF, 0xFF, 0xB9, 0x80,
                                      0x00, 0xBE, 0x0F, 0x00, 0xBF, 0x0F, 0x00};
  if (password.empty() || password.size() > 15)
    return {};
  // The password, then the pad, fill the 16 bytes; even ones are mixed with the key's low byte,
  // odd ones with its high byte, and rotated right by one.
  const uint16_t key = XorKeyOf(password);
  std::array<uint8_t, 16> out{};
  for (size_t i = 0; i < out.size(); ++i) {
    const auto byte = i < password.size() ? static_cast<uint8_t>(password[i]) : Pad[i - password.size()];
    const auto v = static_cast<uint8_t>(byte ^ (i % 2 ? key >> 8 : key & 0xFF));
    out[i] = static_cast<uint8_t>(v >> 1 | v << 7);
  }
  return out;
}

} // namespace xls
