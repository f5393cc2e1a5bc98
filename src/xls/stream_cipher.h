#pragma once

// The ciphers of password-protected workbook streams as their FILEPASS record names them: RC4
// with MD5 keys, RC4 CryptoAPI with SHA-1 keys (both re-keyed every 1024 bytes of the stream) and
// XOR obfuscation.

#include <array>
#include <cstddef>
#include <cstdint>
#include <string>

#include "xls/rc4.h"

namespace xls {

enum class TCipherKind { None, Rc4, CryptoApi, Xor };

class TStreamCipher {
public:
  // Checks the password against a FILEPASS body: in BIFF8 the encryption type comes first, before
  // BIFF8 the body is the XOR key and verifier alone. True, and ready, when the password is right;
  // a wrong password or an unknown scheme changes nothing and gives false.
  bool Start(const uint8_t *filePass, int length, bool biff8, const std::u16string &password);

  // Decrypts n bytes that start at stream offset `offset` inside the body of a record of
  // `recordLength` bytes (XOR obfuscation depends on it).
  void Decrypt(uint8_t *data, size_t n, uint32_t offset, uint32_t recordLength);
  // Moves the key stream to `offset` over bytes that are not decrypted. The key stream is a
  // function of the stream position, so it follows seeks and skipped bytes.
  void SkipTo(uint32_t offset);

private:
  bool StartRc4(const uint8_t *filePass, int length, const std::u16string &password);
  bool StartCryptoApi(const uint8_t *filePass, int length, const std::u16string &password);
  bool StartXor(const uint8_t *keyAndVerifier, const std::u16string &password);
  // RC4 schemes: keys FRC4 for the 1024-byte block number `block` of the stream.
  void KeyBlock(uint32_t block);

  TCipherKind FKind = TCipherKind::None;
  std::array<uint8_t, 20> FSeed{}; // RC4: the first 5 bytes of H1; CryptoAPI: H0
  size_t FKeyLength = 16;          // CryptoAPI: the key bytes taken from each block's hash
  std::array<uint8_t, 16> FXorArray{};
  TRC4 FRC4;
  uint32_t FBlock = UINT32_MAX; // the block FRC4 is keyed for; none at first
  uint32_t FKeyPosition = 0;    // the stream offset FRC4 stands at
};

// The published XOR obfuscation derivations, over the password's 8-bit form (at most 15 bytes).
std::string XorPasswordBytes(const std::u16string &password);
uint16_t XorKeyOf(const std::string &password);
uint16_t XorVerifierOf(const std::string &password);
std::array<uint8_t, 16> XorArrayOf(const std::string &password);

} // namespace xls
