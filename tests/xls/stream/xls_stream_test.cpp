#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <vector>

#include "common/exception.h"
#include "common/text.h"
#include "xls/xls_stream.h"
#include "xls_test_writer.h"

using namespace xls;
using xls_test::BiffWriter;
using xls_test::Bytes;
using xls_test::ByteWriter;
using xls_test::CompoundFileBuilder;

namespace {

Bytes Pattern(size_t n, uint8_t seed) {
  Bytes b(n);
  for (size_t i = 0; i < n; ++i)
    b[i] = static_cast<uint8_t>(seed + i * 13 + (i >> 7));
  return b;
}

struct Header {
  uint16_t Id, Length;
};

Header ReadHeader(TXLSStream &s) {
  uint8_t h[4];
  EXPECT_EQ(s.ReadHeader(h), 4);
  return {static_cast<uint16_t>(h[0] | h[1] << 8), static_cast<uint16_t>(h[2] | h[3] << 8)};
}

Bytes ReadBody(TXLSStream &s, int n) {
  Bytes b(n);
  EXPECT_EQ(s.ReadData(b.data(), n), n);
  return b;
}

Bytes Biff8Stream() {
  return BiffWriter().Bof(xvExcel97, xls_test::BofGlobals).Record(0x0042, {0xE4, 0x04}).Eof();
}

TExcelVersion OpenImage(TXLSStream &s, Bytes image) {
  s.SetSourceStream(std::move(image));
  return s.OpenWorkbook(u"ignored.xls");
}

// A plain file on disk, removed at the end of the test.
struct TempFile {
  TempFile(const std::string &name, const Bytes &content) : Path(xls_test::TempPath(name)) {
    xls_test::WriteFile(Path, content);
  }
  ~TempFile() { std::remove(Path.c_str()); }
  std::u16string Name() const { return common::Utf8ToUtf16(Path); }
  std::string Path;
};

TEST(XLSStreamOpen, ChoosesTheWorkbookStreamByName) {
  const Bytes book = BiffWriter().Bof(xvExcel50, xls_test::BofGlobals).Eof();
  const Bytes workbook = Biff8Stream();
  TXLSStream s;

  // Both present: "Workbook" wins.
  EXPECT_EQ(
      OpenImage(s, CompoundFileBuilder().AddStream(u"Book", book).AddStream(u"Workbook", workbook).Build()),
      xvExcel97);
  EXPECT_EQ(s.StreamSize(), workbook.size());
  EXPECT_EQ(ReadHeader(s).Length, 16);

  // Names match in any case.
  EXPECT_EQ(OpenImage(s, CompoundFileBuilder().AddStream(u"BOOK", book).Build()), xvExcel50);
  EXPECT_EQ(s.StreamSize(), book.size());
  EXPECT_EQ(ReadHeader(s).Length, 8);
  EXPECT_EQ(OpenImage(s, CompoundFileBuilder().AddStream(u"WORKBOOK", workbook).Build()), xvExcel97);

  // A BIFF8 stream under the BIFF5 name is read as what its first BOF says, from its start.
  EXPECT_EQ(OpenImage(s, CompoundFileBuilder().AddStream(u"BOOK", workbook).Build()), xvExcel97);
  EXPECT_EQ(s.Position(), 0u);
  EXPECT_EQ(ReadHeader(s).Length, 16);
  const TempFile onDisk("biff8_book.xls", xls_test::MakeCompoundFile(workbook, u"Book"));
  TXLSStream disk;
  EXPECT_EQ(disk.OpenWorkbook(onDisk.Name()), xvExcel97);
  EXPECT_EQ(ReadHeader(disk).Length, 16);
  // A BIFF5 BOF, or a BOF too short to say, leaves it BIFF5.
  EXPECT_EQ(
      OpenImage(s, CompoundFileBuilder().AddStream(u"Book", BiffWriter().Record(0x0809, {0x00})).Build()),
      xvExcel50);

  // Neither.
  try {
    OpenImage(s, CompoundFileBuilder().AddStream(u"Workbook1", workbook).Build());
    FAIL() << "no exception";
  } catch (const common::Exception &e) {
    EXPECT_STREQ(e.what(), "The file is not an Excel workbook");
  }
}

TEST(XLSStreamOpen, RecognisesTheMacroStorageOnlyByItsExactName) {
  TXLSStream s;
  OpenImage(
      s, CompoundFileBuilder().AddStream(u"Workbook", Biff8Stream()).AddStorage(u"_VBA_PROJECT_CUR").Build());
  EXPECT_TRUE(s.HasVbaProject());
  OpenImage(
      s, CompoundFileBuilder().AddStream(u"Workbook", Biff8Stream()).AddStorage(u"_vba_project_cur").Build());
  EXPECT_FALSE(s.HasVbaProject());
}

TEST(XLSStreamOpen, CompoundFileFromDiskAnd4096ByteSectors) {
  const TempFile file("stream_v4.xls", xls_test::MakeCompoundFile(Biff8Stream(), u"Workbook", 4096));
  TXLSStream s;
  EXPECT_EQ(s.OpenWorkbook(file.Name()), xvExcel97);
  EXPECT_EQ(ReadHeader(s).Id, 0x0809);
}

TEST(XLSStreamOpen, AWorkbookStreamThatCannotBeReadEndsTheRead) {
  Bytes image = xls_test::MakeCompoundFile(Pattern(6000, 1));
  // Point the stream's first sector far outside the file.
  const size_t dir = (size_t(image[48] | image[49] << 8) + 1) * 512;
  for (size_t e = dir; e < dir + 512; e += 128)
    if (image[e] == 'W')
      image[e + 116] = image[e + 117] = image[e + 118] = 0x7F;
  TXLSStream s;
  try {
    OpenImage(s, image);
    FAIL() << "no exception";
  } catch (const common::Exception &e) {
    EXPECT_EQ(std::string(e.what()).rfind("The workbook stream cannot be read: ", 0), 0u) << e.what();
  }
  uint8_t h[4];
  EXPECT_EQ(s.ReadHeader(h), 0);
}

TEST(XLSStreamOpen, PlainFilesByTheirFirstBof) {
  struct Case {
    uint16_t Id;
    TExcelVersion Expected;
  } cases[] = {{0x0009, xvExcel21}, {0x0209, xvExcel30}, {0x0409, xvExcel40},
               {0x0809, xvNone},    {0x0109, xvNone},    {0x0406, xvNone}};
  for (const Case &c : cases) {
    const Bytes content = BiffWriter().Record(c.Id, {0, 0, 0x10, 0, 0, 0}).Eof();
    const TempFile file("plain.xls", content);
    TXLSStream s;
    EXPECT_EQ(s.OpenWorkbook(file.Name()), c.Expected) << std::hex << c.Id;
    EXPECT_EQ(s.StreamSize(), content.size());
    EXPECT_EQ(s.Position(), 0u);
    EXPECT_EQ(ReadHeader(s).Id, c.Id);
  }
}

TEST(XLSStreamOpen, TinyAndMissingFiles) {
  TXLSStream s;
  {
    const TempFile empty("empty.xls", {});
    EXPECT_EQ(s.OpenWorkbook(empty.Name()), xvNone);
    uint8_t h[4];
    EXPECT_EQ(s.ReadHeader(h), 0);
    EXPECT_EQ(s.PeekRecordId(), 0);
  }
  {
    const TempFile four("four.xls", {0x09, 0x04, 0x00, 0x00});
    EXPECT_EQ(s.OpenWorkbook(four.Name()), xvExcel40);
    EXPECT_EQ(ReadHeader(s).Length, 0);
    uint8_t h[4];
    EXPECT_EQ(s.ReadHeader(h), 0);
  }
  {
    // Half a signature is no compound file; it is read as a plain file.
    const TempFile half("half.xls", {0xD0, 0xCF, 0x11, 0xE0});
    EXPECT_EQ(s.OpenWorkbook(half.Name()), xvNone);
  }
  {
    // The whole signature with nothing after it is a broken compound file.
    const TempFile sig("sig.xls", {0xD0, 0xCF, 0x11, 0xE0, 0xA1, 0xB1, 0x1A, 0xE1});
    EXPECT_THROW(s.OpenWorkbook(sig.Name()), common::Exception);
  }
  const std::string missing = xls_test::TempPath("does_not_exist.xls");
  try {
    s.OpenWorkbook(common::Utf8ToUtf16(missing));
    FAIL() << "no exception";
  } catch (const common::Exception &e) {
    EXPECT_EQ(std::string(e.what()), "Cannot open file " + missing);
  }
}

TEST(XLSStreamRead, HeadersBodiesPeekAndSeek) {
  const Bytes stream = BiffWriter()
                           .Bof(xvExcel97, xls_test::BofGlobals)
                           .Record(0x0042, {0xE4, 0x04})
                           .Record(0x00E0, Pattern(20, 3))
                           .Eof();
  TXLSStream s;
  OpenImage(s, xls_test::MakeCompoundFile(stream));
  EXPECT_EQ(s.PeekRecordId(), 0x0809);
  EXPECT_EQ(s.Position(), 0u); // peeking does not move
  EXPECT_EQ(ReadHeader(s).Id, 0x0809);
  EXPECT_EQ(s.Seek(16, 1), 20);
  EXPECT_EQ(s.PeekRecordId(), 0x0042);
  EXPECT_EQ(ReadHeader(s).Length, 2);
  EXPECT_EQ(ReadBody(s, 2), (Bytes{0xE4, 0x04}));
  EXPECT_EQ(ReadHeader(s).Id, 0x00E0);
  EXPECT_EQ(ReadBody(s, 20), Pattern(20, 3));
  EXPECT_EQ(ReadHeader(s).Id, 0x000A);
  EXPECT_EQ(s.PeekRecordId(), 0);
  uint8_t h[4];
  EXPECT_EQ(s.ReadHeader(h), 0);

  EXPECT_EQ(s.Seek(-4, 2), static_cast<int64_t>(stream.size() - 4));
  EXPECT_EQ(s.PeekRecordId(), 0x000A);
  EXPECT_EQ(s.Seek(1, 1), static_cast<int64_t>(stream.size() - 3));
  EXPECT_EQ(s.PeekRecordId(), 0); // fewer than 4 bytes left
  EXPECT_EQ(s.Seek(0, 7), 0);     // unknown origin: nothing moves
  EXPECT_EQ(s.Position(), stream.size() - 3);
  EXPECT_EQ(s.Seek(1, 2), static_cast<int64_t>(stream.size()));
  // A record length running past the end leaves the position at the end, not beyond it.
  EXPECT_EQ(s.Seek(60000, 1), static_cast<int64_t>(stream.size()));
  EXPECT_EQ(s.Seek(-100000, 1), 0);
  uint8_t big[100];
  s.Seek(-5, 2);
  EXPECT_EQ(s.ReadData(big, 100), 5);

  s.Close();
  EXPECT_EQ(s.StreamSize(), 0u);
  EXPECT_EQ(s.ReadData(big, 4), 0);
}

// A drawing-group record of 8224 bytes and its CONTINUE records.
Bytes ContinuedStream(uint16_t continuationId = BIFF_CONTINUE) {
  const Bytes data = Pattern(8224 + 8224 + 500, 9);
  return BiffWriter()
      .Bof(xvExcel97, xls_test::BofGlobals)
      .Record(BIFF_MSODRAWINGGROUP, Bytes(data.begin(), data.begin() + 8224))
      .Record(continuationId, Bytes(data.begin() + 8224, data.begin() + 16448))
      .Record(BIFF_CONTINUE, Bytes(data.begin() + 16448, data.end()))
      .Eof();
}

TEST(XLSStreamContinued, ReadsCrossIntoContinueRecords) {
  const Bytes all = Pattern(8224 + 8224 + 500, 9);
  TXLSStream s;
  OpenImage(s, xls_test::MakeCompoundFile(ContinuedStream()));
  s.Seek(20, 0);
  EXPECT_EQ(ReadHeader(s).Id, BIFF_MSODRAWINGGROUP);
  s.BeginContinuedRead();
  EXPECT_EQ(ReadBody(s, 100), Bytes(all.begin(), all.begin() + 100));
  EXPECT_EQ(s.ContinuedCount(), 100);
  EXPECT_EQ(ReadBody(s, 10000), Bytes(all.begin() + 100, all.begin() + 10100));
  EXPECT_EQ(s.ContinuedCount(), 10100 - 8224);
  // The rest of the second piece, then the third record.
  EXPECT_EQ(ReadBody(s, 8224 - 1876 + 300), Bytes(all.begin() + 10100, all.begin() + 16748));
  EXPECT_EQ(s.ContinuedCount(), 300);
  s.EndContinuedRead();
  EXPECT_EQ(s.ContinuedCount(), 0);
  EXPECT_EQ(ReadBody(s, 200), Bytes(all.begin() + 16748, all.end()));
  EXPECT_EQ(ReadHeader(s).Id, 0x000A);
}

TEST(XLSStreamContinued, TenThousandBytesFromTheStartOfARecord) {
  const Bytes all = Pattern(8224 + 8224 + 500, 9);
  for (uint16_t id : {BIFF_CONTINUE, BIFF_MSODRAWINGGROUP, BIFF_GELFRAME}) {
    TXLSStream s;
    OpenImage(s, xls_test::MakeCompoundFile(ContinuedStream(id)));
    s.Seek(24, 0);
    s.BeginContinuedRead();
    EXPECT_EQ(ReadBody(s, 10000), Bytes(all.begin(), all.begin() + 10000));
    EXPECT_EQ(s.ContinuedCount(), 1776);
  }
}

TEST(XLSStreamContinued, AnythingButAContinuationIsAnError) {
  TXLSStream s;
  OpenImage(s, xls_test::MakeCompoundFile(ContinuedStream(0x0042)));
  s.Seek(24, 0);
  s.BeginContinuedRead();
  Bytes buffer(10000);
  try {
    s.ReadData(buffer.data(), 10000);
    FAIL() << "no exception";
  } catch (const common::Exception &e) {
    EXPECT_STREQ(e.what(), "CONTINUE record is missing");
  }

  // The stream ending inside a continued read gives a short count, not an error.
  const Bytes shortStream =
      BiffWriter().Record(BIFF_MSODRAWINGGROUP, Pattern(8224, 1)).Record(BIFF_CONTINUE, Pattern(10, 2));
  OpenImage(s, xls_test::MakeCompoundFile(shortStream));
  s.Seek(4, 0);
  s.BeginContinuedRead();
  EXPECT_EQ(s.ReadData(buffer.data(), 10000), 8234);
  s.Seek(4, 0);
  s.BeginContinuedRead();
  EXPECT_EQ(s.ReadData(buffer.data(), 8224), 8224);
  EXPECT_EQ(s.ReadData(buffer.data(), 10000), 10); // the header of the CONTINUE is taken in between
}

// ---------------------------------------------------------------------------------------------
// Decryption

// Records whose plain bodies are known, laid out so that bodies and one header cross the
// 1024-byte blocks of the key stream.
struct PlainRecord {
  uint16_t Id;
  Bytes Body;
};

std::vector<PlainRecord> PlainRecords() {
  std::vector<PlainRecord> records;
  records.push_back({0x0042, {0xE4, 0x04}});
  records.push_back({0x00E0, Pattern(3000, 1)}); // spans several blocks
  records.push_back({0x0031, Pattern(10, 2)});
  // BOF 20 + FILEPASS 58 + 6 + 3004 + 14 = 3102 so far; a filler puts the next header at 4094,
  // two bytes before the block boundary.
  records.push_back({0x003C, Pattern(4094 - 3102 - 4, 3)});
  records.push_back({0x0085, Pattern(30, 4)});
  records.push_back({0x0809, Pattern(16, 5)}); // a second BOF: its body is left plain
  records.push_back({0x0203, Pattern(14, 6)});
  records.push_back({0x000A, {}});
  return records;
}

Bytes EncryptedStream(const std::u16string &password) {
  BiffWriter w;
  w.Bof(xvExcel97, xls_test::BofGlobals);
  for (const PlainRecord &r : PlainRecords())
    w.Record(r.Id, r.Body);
  return xls_test::EncryptBiff8(w.Data(), password);
}

// Reads the BOF and FILEPASS as the record reader does and returns the FILEPASS body.
Bytes OpenEncrypted(TXLSStream &s, const std::u16string &password) {
  OpenImage(s, xls_test::MakeCompoundFile(EncryptedStream(password)));
  Header bof = ReadHeader(s);
  Bytes body(bof.Length);
  s.ReadNoDecryptAdvance(body.data(), bof.Length);
  Header filePass = ReadHeader(s);
  EXPECT_EQ(filePass.Id, BIFF_FILEPASS);
  return ReadBody(s, filePass.Length);
}

void ExpectPlainRecords(TXLSStream &s) {
  for (const PlainRecord &r : PlainRecords()) {
    const Header h = ReadHeader(s);
    ASSERT_EQ(h.Id, r.Id);
    ASSERT_EQ(h.Length, r.Body.size());
    Bytes body(h.Length);
    if ((r.Id & 0xFF) == 0x09)
      s.ReadNoDecryptAdvance(body.data(), h.Length);
    else
      s.ReadData(body.data(), h.Length);
    EXPECT_EQ(body, r.Body) << std::hex << r.Id;
  }
}

TEST(XLSStreamDecryption, RightPasswordDecryptsEveryBodyByPosition) {
  for (const std::u16string password : {u"secret", u"VelvetSweatshop", u"", u"\u00e9t\u00e9 \u4e2d\u6587"}) {
    TXLSStream s;
    const Bytes filePass = OpenEncrypted(s, password);
    EXPECT_FALSE(s.Encrypted());
    ASSERT_TRUE(s.StartDecryption(filePass.data(), static_cast<int>(filePass.size()), password));
    EXPECT_TRUE(s.Encrypted());
    ExpectPlainRecords(s);
  }
}

TEST(XLSStreamDecryption, CryptoApiAndXorObfuscationDecryptByPosition) {
  using xls_test::CipherScheme;
  struct Case {
    CipherScheme Scheme;
    TExcelVersion Version;
  };
  for (const Case c : {Case{CipherScheme::CryptoApi, xvExcel97}, Case{CipherScheme::CryptoApi40, xvExcel97},
                       Case{CipherScheme::Xor, xvExcel97}, Case{CipherScheme::Xor, xvExcel50}}) {
    SCOPED_TRACE(static_cast<int>(c.Scheme) * 10 + c.Version);
    BiffWriter w;
    w.Bof(c.Version, xls_test::BofGlobals);
    for (const PlainRecord &r : PlainRecords())
      w.Record(r.Id, r.Body);
    const Bytes image = xls_test::MakeCompoundFile(
        xls_test::EncryptStream(w.Data(), u"p\u00e4ss", c.Scheme, c.Version == xvExcel97),
        c.Version == xvExcel97 ? u"Workbook" : u"Book");
    TXLSStream s;
    ASSERT_EQ(OpenImage(s, image), c.Version);
    const Header bof = ReadHeader(s);
    Bytes body(bof.Length);
    s.ReadNoDecryptAdvance(body.data(), bof.Length);
    const Bytes filePass = ReadBody(s, ReadHeader(s).Length);
    EXPECT_FALSE(s.StartDecryption(filePass.data(), static_cast<int>(filePass.size()), u"pass"));
    EXPECT_FALSE(s.Encrypted());
    ASSERT_TRUE(s.StartDecryption(filePass.data(), static_cast<int>(filePass.size()), u"p\u00e4ss"));
    // Each body is read in two pieces: a piece decrypts by its own position in the record.
    for (const PlainRecord &r : PlainRecords()) {
      const Header h = ReadHeader(s);
      ASSERT_EQ(h.Id, r.Id);
      Bytes got(h.Length);
      if ((r.Id & 0xFF) == 0x09) {
        s.ReadNoDecryptAdvance(got.data(), h.Length);
      } else {
        const int half = h.Length / 2;
        s.ReadData(got.data(), half);
        s.ReadData(got.data() + half, h.Length - half);
      }
      EXPECT_EQ(got, r.Body) << std::hex << r.Id;
    }
  }
}

TEST(XLSStreamDecryption, XorKeysAndVerifiersOfRealWorkbooks) {
  // Key and verifier words from the FILEPASS records of workbooks written by spreadsheet programs.
  EXPECT_EQ(XorKeyOf("abc"), 0x514A);
  EXPECT_EQ(XorVerifierOf("abc"), 0xCC1A);
  EXPECT_EQ(XorKeyOf("password"), 0x147A);
  EXPECT_EQ(XorVerifierOf("password"), 0x83AF);
  EXPECT_EQ(XorKeyOf("VelvetSweatshop"), 0xB359);
  EXPECT_EQ(XorVerifierOf("VelvetSweatshop"), 0x9A0A);
  // At most 15 characters count; a character's high byte stands in for a zero low byte.
  EXPECT_EQ(XorPasswordBytes(u"VelvetSweatshop and more"), "VelvetSweatshop");
  EXPECT_EQ(XorPasswordBytes(u"a\u0100\u00e9"), "a\x01\xe9");
  // No array is made of an empty or overlong password: it would index past the pad.
  EXPECT_EQ(XorArrayOf(""), (std::array<uint8_t, 16>{}));
  EXPECT_EQ(XorArrayOf(std::string(16, 'x')), (std::array<uint8_t, 16>{}));
}

TEST(XLSStreamDecryption, WrongPasswordChangesNothing) {
  TXLSStream s;
  const Bytes filePass = OpenEncrypted(s, u"secret");
  const uint32_t position = s.Position();
  EXPECT_FALSE(s.StartDecryption(filePass.data(), static_cast<int>(filePass.size()), u"Secret"));
  EXPECT_FALSE(s.Encrypted());
  EXPECT_EQ(s.Position(), position);
  // Only the first 31 characters of a password count.
  const std::u16string longPassword = u"0123456789012345678901234567890-tail";
  TXLSStream t;
  const Bytes longPass = OpenEncrypted(t, longPassword);
  EXPECT_TRUE(t.StartDecryption(longPass.data(), static_cast<int>(longPass.size()),
                                longPassword.substr(0, 31) + u"-other tail"));
  // Unknown encryption types and versions and short bodies are refused.
  Bytes otherType = filePass;
  otherType[0] = 2;
  EXPECT_FALSE(s.StartDecryption(otherType.data(), static_cast<int>(otherType.size()), u"secret"));
  Bytes otherVersion = filePass;
  otherVersion[2] = 5;
  EXPECT_FALSE(s.StartDecryption(otherVersion.data(), static_cast<int>(otherVersion.size()), u"secret"));
  EXPECT_FALSE(s.StartDecryption(filePass.data(), 53, u"secret"));
  EXPECT_FALSE(s.StartDecryption(nullptr, 0, u"secret"));
  EXPECT_FALSE(s.Encrypted());
}

TEST(XLSStreamDecryption, SkippedAndUndecryptedBodiesKeepTheKeyStreamInStep) {
  TXLSStream s;
  const Bytes filePass = OpenEncrypted(s, u"pw");
  ASSERT_TRUE(s.StartDecryption(filePass.data(), static_cast<int>(filePass.size()), u"pw"));
  const std::vector<PlainRecord> records = PlainRecords();
  for (size_t i = 0; i < records.size(); ++i) {
    const Header h = ReadHeader(s);
    ASSERT_EQ(h.Id, records[i].Id);
    Bytes body(h.Length);
    if (i % 3 == 1) {
      s.Seek(h.Length, 1); // skipped, as the reader skips oversized records
      continue;
    }
    if (i % 3 == 2) {
      // Read raw: the key stream is not advanced, yet later bodies still decrypt.
      s.ReadNoDecrypt(body.data(), h.Length);
      EXPECT_TRUE(s.Encrypted());
      if (!body.empty() && (h.Id & 0xFF) != 0x09) {
        EXPECT_NE(body, records[i].Body);
      }
      continue;
    }
    s.ReadData(body.data(), h.Length);
    if ((h.Id & 0xFF) != 0x09) {
      EXPECT_EQ(body, records[i].Body) << i;
    }
  }
}

TEST(XLSStreamDecryption, ContinuedReadsDecryptEachPieceOnce) {
  const Bytes data = Pattern(8224 + 3000, 7);
  const Bytes plain = BiffWriter()
                          .Bof(xvExcel97, xls_test::BofGlobals)
                          .Record(BIFF_MSODRAWINGGROUP, Bytes(data.begin(), data.begin() + 8224))
                          .Record(BIFF_CONTINUE, Bytes(data.begin() + 8224, data.end()))
                          .Eof();
  TXLSStream s;
  OpenImage(s, xls_test::MakeCompoundFile(xls_test::EncryptBiff8(plain, u"draw")));
  Header bof = ReadHeader(s);
  Bytes body(bof.Length);
  s.ReadNoDecryptAdvance(body.data(), bof.Length);
  const Bytes filePass = ReadBody(s, ReadHeader(s).Length);
  ASSERT_TRUE(s.StartDecryption(filePass.data(), static_cast<int>(filePass.size()), u"draw"));
  EXPECT_EQ(ReadHeader(s).Id, BIFF_MSODRAWINGGROUP);
  s.BeginContinuedRead();
  EXPECT_EQ(ReadBody(s, 1000), Bytes(data.begin(), data.begin() + 1000));
  EXPECT_EQ(ReadBody(s, 10224), Bytes(data.begin() + 1000, data.end()));
  s.EndContinuedRead();
  EXPECT_EQ(ReadHeader(s).Id, 0x000A);
}

} // namespace

TEST(XLSStreamRead, RecordsAcrossManyWindowBoundaries) {
  // Bodies of 1 to 37 bytes put record headers at every offset around the edges of the 64 KB
  // read window, including headers split by an edge.
  BiffWriter w;
  w.Bof(xvExcel97, xls_test::BofGlobals);
  std::vector<Bytes> bodies;
  for (size_t total = 0, i = 0; total < 3 * 65536 + 1000; ++i) {
    bodies.push_back(Pattern(1 + i % 37, static_cast<uint8_t>(i)));
    w.Record(static_cast<uint16_t>(0x0100 + i % 200), bodies.back());
    total += 4 + bodies.back().size();
  }
  // From disk, where the stream is read through its window.
  const TempFile file("stream_windows.xls", xls_test::MakeCompoundFile(w.Eof()));
  TXLSStream s;
  ASSERT_EQ(s.OpenWorkbook(file.Name()), xvExcel97);
  const Header bof = ReadHeader(s);
  ReadBody(s, bof.Length);
  for (size_t i = 0; i < bodies.size(); ++i) {
    const Header h = ReadHeader(s);
    ASSERT_EQ(h.Id, 0x0100 + i % 200) << i;
    ASSERT_EQ(h.Length, bodies[i].size()) << i;
    ASSERT_EQ(ReadBody(s, h.Length), bodies[i]) << i;
  }
  EXPECT_EQ(ReadHeader(s).Id, 0x000A);
}
