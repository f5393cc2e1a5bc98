#include "xls_test_writer.h"

#include <algorithm>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <stdexcept>
#include <unistd.h>

#include "xls/block_hash.h"
#include "xls/compound_file.h"
#include "xls/rc4.h"
#include "xls/stream_cipher.h"

namespace xls_test {

ByteWriter &ByteWriter::U8(uint8_t v) {
  FData.push_back(v);
  return *this;
}

ByteWriter &ByteWriter::U16(uint16_t v) {
  FData.push_back(static_cast<uint8_t>(v));
  FData.push_back(static_cast<uint8_t>(v >> 8));
  return *this;
}

ByteWriter &ByteWriter::U32(uint32_t v) {
  for (int i = 0; i < 4; ++i)
    FData.push_back(static_cast<uint8_t>(v >> (8 * i)));
  return *this;
}

ByteWriter &ByteWriter::F64(double v) {
  uint64_t bits;
  std::memcpy(&bits, &v, sizeof bits);
  for (int i = 0; i < 8; ++i)
    FData.push_back(static_cast<uint8_t>(bits >> (8 * i)));
  return *this;
}

ByteWriter &ByteWriter::Raw(const void *data, size_t n) {
  const auto *p = static_cast<const uint8_t *>(data);
  FData.insert(FData.end(), p, p + n);
  return *this;
}

ByteWriter &ByteWriter::Fill(uint8_t value, size_t n) {
  FData.insert(FData.end(), n, value);
  return *this;
}

ByteWriter &ByteWriter::ByteString8(const std::string &text) {
  U8(static_cast<uint8_t>(text.size()));
  return Text8(text);
}

ByteWriter &ByteWriter::ByteString16(const std::string &text) {
  U16(static_cast<uint16_t>(text.size()));
  return Text8(text);
}

ByteWriter &ByteWriter::UnicodeChars(const std::u16string &text, bool forceWide) {
  const bool wide = forceWide || std::any_of(text.begin(), text.end(), [](char16_t c) { return c > 0xFF; });
  U8(wide ? 1 : 0);
  for (char16_t c : text) {
    if (wide)
      U16(c);
    else
      U8(static_cast<uint8_t>(c));
  }
  return *this;
}

ByteWriter &ByteWriter::UnicodeString16(const std::u16string &text, bool forceWide) {
  U16(static_cast<uint16_t>(text.size()));
  return UnicodeChars(text, forceWide);
}

ByteWriter &ByteWriter::UnicodeString8(const std::u16string &text, bool forceWide) {
  U8(static_cast<uint8_t>(text.size()));
  return UnicodeChars(text, forceWide);
}

BiffWriter &BiffWriter::Record(uint16_t id, const Bytes &body) {
  RawHeader(id, static_cast<uint16_t>(body.size()));
  FData.insert(FData.end(), body.begin(), body.end());
  return *this;
}

BiffWriter &BiffWriter::RawHeader(uint16_t id, uint16_t length) {
  ByteWriter h;
  h.U16(id).U16(length);
  FData.insert(FData.end(), h.Data().begin(), h.Data().end());
  return *this;
}

BiffWriter &BiffWriter::Raw(const Bytes &bytes) {
  FData.insert(FData.end(), bytes.begin(), bytes.end());
  return *this;
}

BiffWriter &BiffWriter::Bof(xls::TExcelVersion version, uint16_t type) {
  ByteWriter b;
  switch (version) {
  case xls::xvExcel21: return Record(0x0009, b.U16(0x0002).U16(type));
  case xls::xvExcel30: return Record(0x0209, b.U16(0x0003).U16(type).U16(0));
  case xls::xvExcel40: return Record(0x0409, b.U16(0x0004).U16(type).U16(0));
  case xls::xvExcel50: return Record(0x0809, b.U16(0x0500).U16(type).U16(0x0DBB).U16(0x07CC));
  default: return Record(0x0809, b.U16(0x0600).U16(type).U16(0x0DBB).U16(0x07CC).U32(0).U32(0x06));
  }
}

// ---------------------------------------------------------------------------------------------
// Compound files

namespace {

constexpr uint32_t EndOfChain = 0xFFFFFFFE;
constexpr uint32_t FreeSect = 0xFFFFFFFF;
constexpr uint32_t FatSect = 0xFFFFFFFD;
constexpr uint32_t DifSect = 0xFFFFFFFC;
constexpr uint32_t NoStream = 0xFFFFFFFF;
constexpr uint32_t MiniCutoff = 4096;

void Put16(Bytes &b, size_t at, uint16_t v) {
  b[at] = static_cast<uint8_t>(v);
  b[at + 1] = static_cast<uint8_t>(v >> 8);
}

void Put32(Bytes &b, size_t at, uint32_t v) {
  for (int i = 0; i < 4; ++i)
    b[at + i] = static_cast<uint8_t>(v >> (8 * i));
}

uint32_t Ceil(uint64_t a, uint64_t b) { return static_cast<uint32_t>((a + b - 1) / b); }

char16_t Upper(char16_t c) { return (c >= u'a' && c <= u'z') ? static_cast<char16_t>(c - 32) : c; }

// Directory siblings are ordered by name length, then by upper-cased name.
bool NameLess(const std::u16string &a, const std::u16string &b) {
  if (a.size() != b.size())
    return a.size() < b.size();
  for (size_t i = 0; i < a.size(); ++i)
    if (Upper(a[i]) != Upper(b[i]))
      return Upper(a[i]) < Upper(b[i]);
  return false;
}

} // namespace

CompoundFileBuilder::CompoundFileBuilder(uint32_t sectorSize) : FSectorSize(sectorSize) {
  if (sectorSize != 512 && sectorSize != 4096)
    throw std::invalid_argument("sector size must be 512 or 4096");
}

CompoundFileBuilder &CompoundFileBuilder::AddStream(const std::u16string &name, const Bytes &content) {
  FElements.push_back({name, false, content});
  return *this;
}

CompoundFileBuilder &CompoundFileBuilder::AddStorage(const std::u16string &name) {
  FElements.push_back({name, true, {}});
  return *this;
}

Bytes CompoundFileBuilder::Build() const {
  const uint32_t ss = FSectorSize;
  const uint32_t perSector = ss / 4;
  std::vector<Element> elements = FElements;
  std::stable_sort(elements.begin(), elements.end(),
                   [](const Element &a, const Element &b) { return NameLess(a.Name, b.Name); });
  const size_t n = elements.size();

  // Mini stream layout.
  std::vector<uint32_t> miniStart(n, EndOfChain);
  uint32_t miniSectors = 0;
  for (size_t i = 0; i < n; ++i) {
    const Element &e = elements[i];
    if (!e.Storage && !e.Content.empty() && e.Content.size() < MiniCutoff) {
      miniStart[i] = miniSectors;
      miniSectors += Ceil(e.Content.size(), 64);
    }
  }
  const uint64_t miniBytes = uint64_t(miniSectors) * 64;
  const uint32_t miniStreamSectors = Ceil(miniBytes, ss);
  const uint32_t miniFatSectors = Ceil(uint64_t(miniSectors) * 4, ss);
  const uint32_t dirSectors = Ceil((n + 1) * 128, ss);
  uint32_t bigSectors = 0;
  for (const Element &e : elements)
    if (!e.Storage && e.Content.size() >= MiniCutoff)
      bigSectors += Ceil(e.Content.size(), ss);
  const uint32_t other = dirSectors + miniFatSectors + miniStreamSectors + bigSectors;
  uint32_t fatSectors = 1, difatSectors = 0;
  for (;;) {
    uint32_t fat = Ceil(uint64_t(other) + fatSectors + difatSectors, perSector);
    uint32_t difat = fat > 109 ? Ceil(fat - 109, perSector - 1) : 0;
    if (fat == fatSectors && difat == difatSectors)
      break;
    fatSectors = fat;
    difatSectors = difat;
  }
  const uint32_t total = fatSectors + difatSectors + other;

  Bytes image(size_t(ss) * (1 + total), 0);
  auto sectorAt = [&](uint32_t s) { return size_t(s + 1) * ss; };
  std::vector<uint32_t> fat(size_t(fatSectors) * perSector, FreeSect);
  uint32_t next = 0;
  auto allocate = [&](uint32_t count) {
    uint32_t first = count ? next : EndOfChain;
    for (uint32_t i = 0; i < count; ++i, ++next)
      fat[next] = i + 1 < count ? next + 1 : EndOfChain;
    return first;
  };
  const uint32_t firstFat = next;
  for (uint32_t i = 0; i < fatSectors; ++i)
    fat[next++] = FatSect;
  const uint32_t firstDifat = difatSectors ? next : EndOfChain;
  for (uint32_t i = 0; i < difatSectors; ++i)
    fat[next++] = DifSect;
  const uint32_t firstDir = allocate(dirSectors);
  const uint32_t firstMiniFat = allocate(miniFatSectors);
  const uint32_t firstMini = allocate(miniStreamSectors);
  std::vector<uint32_t> start(n, EndOfChain);
  for (size_t i = 0; i < n; ++i) {
    const Element &e = elements[i];
    if (e.Storage)
      start[i] = 0;
    else if (e.Content.size() >= MiniCutoff)
      start[i] = allocate(Ceil(e.Content.size(), ss));
    else
      start[i] = miniStart[i];
  }

  // Header.
  std::memcpy(image.data(), xls::CompoundFileSignature, 8);
  Put16(image, 24, 0x003E);
  Put16(image, 26, ss == 512 ? 3 : 4);
  Put16(image, 28, 0xFFFE);
  Put16(image, 30, ss == 512 ? 9 : 12);
  Put16(image, 32, 6);
  Put32(image, 40, ss == 512 ? 0 : dirSectors);
  Put32(image, 44, fatSectors);
  Put32(image, 48, firstDir);
  Put32(image, 56, MiniCutoff);
  Put32(image, 60, firstMiniFat);
  Put32(image, 64, miniFatSectors);
  Put32(image, 68, firstDifat);
  Put32(image, 72, difatSectors);
  for (uint32_t i = 0; i < 109; ++i)
    Put32(image, 76 + 4 * i, i < fatSectors ? firstFat + i : FreeSect);
  // DIFAT sectors: the FAT sector ids beyond the first 109, chained by their last entry.
  for (uint32_t d = 0; d < difatSectors; ++d) {
    const size_t at = sectorAt(firstDifat + d);
    for (uint32_t k = 0; k < perSector - 1; ++k) {
      const uint32_t index = 109 + d * (perSector - 1) + k;
      Put32(image, at + 4 * k, index < fatSectors ? firstFat + index : FreeSect);
    }
    Put32(image, at + 4 * (perSector - 1), d + 1 < difatSectors ? firstDifat + d + 1 : EndOfChain);
  }
  for (size_t i = 0; i < fat.size(); ++i)
    Put32(image, sectorAt(firstFat) + 4 * i, fat[i]); // FAT sectors are contiguous

  // Directory: root, then the elements as a balanced tree of siblings (all black).
  const size_t dir = sectorAt(firstDir);
  for (size_t e = 0; e < size_t(dirSectors) * ss / 128; ++e) {
    Put32(image, dir + e * 128 + 68, NoStream);
    Put32(image, dir + e * 128 + 72, NoStream);
    Put32(image, dir + e * 128 + 76, NoStream);
  }
  auto writeEntry = [&](size_t index, const std::u16string &name, uint8_t type, uint32_t first,
                        uint64_t size) {
    const size_t at = dir + index * 128;
    const size_t chars = std::min<size_t>(name.size(), 31);
    for (size_t k = 0; k < chars; ++k)
      Put16(image, at + 2 * k, name[k]);
    Put16(image, at + 64, static_cast<uint16_t>((chars + 1) * 2));
    image[at + 66] = type;
    image[at + 67] = 1;
    Put32(image, at + 116, first);
    Put32(image, at + 120, static_cast<uint32_t>(size));
    Put32(image, at + 124, static_cast<uint32_t>(size >> 32));
  };
  writeEntry(0, u"Root Entry", 5, miniBytes ? firstMini : EndOfChain, miniBytes);
  for (size_t i = 0; i < n; ++i)
    writeEntry(i + 1, elements[i].Name, elements[i].Storage ? 1 : 2, start[i],
               elements[i].Storage ? 0 : elements[i].Content.size());
  std::function<uint32_t(size_t, size_t)> tree = [&](size_t lo, size_t hi) -> uint32_t {
    if (lo >= hi)
      return NoStream;
    const size_t mid = (lo + hi) / 2;
    Put32(image, dir + (mid + 1) * 128 + 68, tree(lo, mid));
    Put32(image, dir + (mid + 1) * 128 + 72, tree(mid + 1, hi));
    return static_cast<uint32_t>(mid + 1);
  };
  Put32(image, dir + 76, tree(0, n));

  // Mini FAT and mini stream.
  for (size_t i = 0; i < n; ++i) {
    const Element &e = elements[i];
    if (miniStart[i] == EndOfChain)
      continue;
    const uint32_t count = Ceil(e.Content.size(), 64);
    for (uint32_t k = 0; k < count; ++k) {
      const uint32_t m = miniStart[i] + k;
      Put32(image, sectorAt(firstMiniFat) + 4 * m, k + 1 < count ? m + 1 : EndOfChain);
    }
  }
  for (uint32_t m = miniSectors; m < miniFatSectors * perSector; ++m)
    Put32(image, sectorAt(firstMiniFat) + 4 * m, FreeSect);
  for (size_t i = 0; i < n; ++i) {
    const Element &e = elements[i];
    if (miniStart[i] != EndOfChain)
      std::memcpy(image.data() + sectorAt(firstMini) + size_t(miniStart[i]) * 64, e.Content.data(),
                  e.Content.size()); // the mini stream's sectors are contiguous
    else if (!e.Storage && !e.Content.empty())
      std::memcpy(image.data() + sectorAt(start[i]), e.Content.data(), e.Content.size());
  }
  return image;
}

Bytes MakeCompoundFile(const Bytes &stream, const std::u16string &name, uint32_t sectorSize) {
  return CompoundFileBuilder(sectorSize).AddStream(name, stream).Build();
}

// ---------------------------------------------------------------------------------------------
// Encryption

namespace {

std::array<uint8_t, 5> PasswordSeed(const std::u16string &password, const Salt &salt) {
  Bytes utf16;
  for (char16_t c : password.substr(0, 31)) {
    utf16.push_back(static_cast<uint8_t>(c));
    utf16.push_back(static_cast<uint8_t>(c >> 8));
  }
  const xls::TMD5Digest h0 = xls::Md5(utf16.data(), utf16.size());
  Bytes buffer;
  for (int i = 0; i < 16; ++i) {
    buffer.insert(buffer.end(), h0.begin(), h0.begin() + 5);
    buffer.insert(buffer.end(), salt.begin(), salt.end());
  }
  const xls::TMD5Digest h1 = xls::Md5(buffer.data(), buffer.size());
  std::array<uint8_t, 5> seed;
  std::copy(h1.begin(), h1.begin() + 5, seed.begin());
  return seed;
}

xls::TRC4 BlockCipher(const std::array<uint8_t, 5> &seed, uint32_t block) {
  uint8_t key[9];
  std::copy(seed.begin(), seed.end(), key);
  for (int i = 0; i < 4; ++i)
    key[5 + i] = static_cast<uint8_t>(block >> (8 * i));
  const xls::TMD5Digest digest = xls::Md5(key, sizeof key);
  return xls::TRC4(digest.data(), digest.size());
}

uint16_t Get16(const Bytes &b, size_t at) { return static_cast<uint16_t>(b[at] | b[at + 1] << 8); }

} // namespace

Bytes MakeFilePass(const std::u16string &password, const Salt &salt) {
  uint8_t verifier[32];
  for (int i = 0; i < 16; ++i)
    verifier[i] = static_cast<uint8_t>(i * 37 + 5);
  const xls::TMD5Digest hash = xls::Md5(verifier, 16);
  std::copy(hash.begin(), hash.end(), verifier + 16);
  xls::TRC4 rc4 = BlockCipher(PasswordSeed(password, salt), 0);
  rc4.Process(verifier, sizeof verifier);
  ByteWriter w;
  w.U16(1).U16(1).U16(1).Raw(salt.data(), salt.size()).Raw(verifier, sizeof verifier);
  return w.Data();
}

namespace {

// The bytes of one cipher's key stream, by stream position, for the test writer.
struct Encryptor {
  CipherScheme Scheme;
  std::array<uint8_t, 5> Rc4Seed{};
  xls::TSHA1Digest H0{};
  size_t KeyBytes = 16;
  std::array<uint8_t, 16> XorArray{};

  xls::TRC4 Block(uint32_t block) const {
    if (Scheme == CipherScheme::Rc4)
      return BlockCipher(Rc4Seed, block);
    uint8_t seed[24];
    std::copy(H0.begin(), H0.end(), seed);
    for (int i = 0; i < 4; ++i)
      seed[20 + i] = static_cast<uint8_t>(block >> (8 * i));
    const xls::TSHA1Digest hash = xls::Sha1(seed, sizeof seed);
    uint8_t key[16] = {};
    std::copy(hash.begin(), hash.begin() + long(KeyBytes), key);
    return xls::TRC4(key, KeyBytes == 5 ? 16 : KeyBytes);
  }
  void Encrypt(uint8_t *data, size_t body, size_t length) const {
    if (Scheme == CipherScheme::Xor) {
      for (size_t p = body; p < body + length; ++p) {
        const auto v = static_cast<uint8_t>(data[p] << 5 | data[p] >> 3);
        data[p] = static_cast<uint8_t>(v ^ XorArray[(p + length) % 16]);
      }
      return;
    }
    for (size_t p = body; p < body + length;) {
      const uint32_t block = static_cast<uint32_t>(p / 1024);
      const size_t end = std::min<size_t>(body + length, size_t(block + 1) * 1024);
      xls::TRC4 rc4 = Block(block);
      rc4.Skip(p % 1024);
      rc4.Process(data + p, end - p);
      p = end;
    }
  }
};

// The FILEPASS body of a scheme and the encryptor that goes with it.
Bytes MakeScheme(const std::u16string &password, const Salt &salt, CipherScheme scheme, bool biff8,
                 Encryptor &enc) {
  enc.Scheme = scheme;
  if (scheme == CipherScheme::Rc4) {
    enc.Rc4Seed = PasswordSeed(password, salt);
    return MakeFilePass(password, salt);
  }
  if (scheme == CipherScheme::Xor) {
    const std::string bytes = xls::XorPasswordBytes(password);
    enc.XorArray = xls::XorArrayOf(bytes);
    ByteWriter w;
    if (biff8)
      w.U16(0);
    w.U16(xls::XorKeyOf(bytes)).U16(xls::XorVerifierOf(bytes));
    return w.Data();
  }
  // RC4 CryptoAPI, version 4.2: H0 = SHA-1 of the salt and the UTF-16 password.
  Bytes salted(salt.begin(), salt.end());
  for (char16_t c : password) {
    salted.push_back(static_cast<uint8_t>(c));
    salted.push_back(static_cast<uint8_t>(c >> 8));
  }
  enc.H0 = xls::Sha1(salted.data(), salted.size());
  enc.KeyBytes = scheme == CipherScheme::CryptoApi40 ? 5 : 16;
  uint8_t verifier[36];
  for (int i = 0; i < 16; ++i)
    verifier[i] = static_cast<uint8_t>(i * 29 + 3);
  const xls::TSHA1Digest hash = xls::Sha1(verifier, 16);
  std::copy(hash.begin(), hash.end(), verifier + 16);
  xls::TRC4 rc4 = enc.Block(0);
  rc4.Process(verifier, sizeof verifier);
  const std::u16string csp = u"Test Provider";
  ByteWriter header;
  header.U32(0x04).U32(0).U32(0x6801).U32(0x8004).U32(uint32_t(enc.KeyBytes * 8)).U32(1).U32(0).U32(0);
  for (char16_t c : csp)
    header.U16(c);
  header.U16(0);
  ByteWriter w;
  w.U16(1).U16(4).U16(2).U32(0x04).U32(static_cast<uint32_t>(header.Size())).Raw(header.Data());
  w.U32(16).Raw(salt.data(), salt.size()).Raw(verifier, 16).U32(20).Raw(verifier + 16, 20);
  return w.Data();
}

} // namespace

Bytes EncryptBiff8(const Bytes &stream, const std::u16string &password, const Salt &salt) {
  return EncryptStream(stream, password, CipherScheme::Rc4, true, salt);
}

Bytes EncryptStream(const Bytes &stream, const std::u16string &password, CipherScheme scheme, bool biff8,
                    const Salt &salt) {
  Encryptor enc;
  const Bytes filePass = MakeScheme(password, salt, scheme, biff8, enc);
  // First pass: put the FILEPASS in place (replacing one that is there) so that positions are final.
  BiffWriter out;
  bool placed = false;
  for (size_t at = 0; at + 4 <= stream.size();) {
    const uint16_t id = Get16(stream, at);
    const size_t length = std::min<size_t>(Get16(stream, at + 2), stream.size() - at - 4);
    const Bytes body(stream.begin() + at + 4, stream.begin() + at + 4 + length);
    at += 4 + length;
    if (id == xls::BIFF_FILEPASS) {
      if (!placed)
        out.Record(id, filePass);
      placed = true;
      continue;
    }
    out.Record(id, body);
    if (!placed && (id & 0xFF) == 0x09) {
      const bool hasOwn = [&] {
        for (size_t p = at; p + 4 <= stream.size(); p += 4 + Get16(stream, p + 2))
          if (Get16(stream, p) == xls::BIFF_FILEPASS)
            return true;
        return false;
      }();
      if (!hasOwn) {
        out.Record(xls::BIFF_FILEPASS, filePass);
        placed = true;
      }
    }
  }
  if (!placed)
    throw std::invalid_argument("EncryptStream: the stream has no BOF");

  // Second pass: encrypt bodies after the FILEPASS by their stream position.
  Bytes data = out.Data();
  bool encrypting = false;
  for (size_t at = 0; at + 4 <= data.size();) {
    const uint16_t id = Get16(data, at);
    const size_t length = Get16(data, at + 2);
    const size_t body = at + 4;
    at = body + length;
    if (encrypting && (id & 0xFF) != 0x09)
      enc.Encrypt(data.data(), body, length);
    if (id == xls::BIFF_FILEPASS)
      encrypting = true;
  }
  return data;
}

void WriteFile(const std::string &path, const Bytes &bytes) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(reinterpret_cast<const char *>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
  if (!out)
    throw std::runtime_error("cannot write " + path);
}

std::string TempPath(const std::string &name) {
  return (std::filesystem::temp_directory_path() / ("xe_test_" + std::to_string(getpid()) + "_" + name))
      .string();
}

} // namespace xls_test
