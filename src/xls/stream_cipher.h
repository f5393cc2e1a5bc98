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
  void Clear() { FKind = TCipherKind::None; }
  TCipherKind Kind() const { return FKind; }

  // RC4 schemes: keys rc4 for the 1024-byte block number `block` of the stream.
  void KeyBlock(TRC4 &rc4, uint32_t block) const;
  // XOR obfuscation: deobfuscates n bytes that start at stream offset `offset` inside the body of
  // a record of `recordLength` bytes.
  void Unxor(uint8_t *data, size_t n, uint32_t offset, uint32_t recordLength) const;

private:
  bool StartRc4(const uint8_t *filePass, int length, const std::u16string &password);
  bool StartCryptoApi(const uint8_t *filePass, int length, const std::u16string &password);
  bool StartXor(const uint8_t *keyAndVerifier, const std::u16string &password);

  TCipherKind FKind = TCipherKind::None;
  std::array<uint8_t, 20> FSeed{}; // RC4: the first 5 bytes of H1; CryptoAPI: H0
  size_t FKeyLength = 16;          // CryptoAPI: the key bytes taken from each block's hash
  std::array<uint8_t, 16> FXorArray{};
};

// The published XOR obfuscation derivations, over the password's 8-bit form (at most 15 bytes).
std::string XorPasswordBytes(const std::u16string &password);
uint16_t XorKeyOf(const std::string &password);
uint16_t XorVerifierOf(const std::string &password);
std::array<uint8_t, 16> XorArrayOf(const std::string &password);

} // namespace xls
