#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <memory>
#include <random>
#include <string>
#include <utility>
#include <vector>

#include "cells/crc32.h"
#include "cells/formats.h"
#include "cells/sst.h"
#include "common/exception.h"
#include "common/text.h"
#include "xls/xls_stream.h"
#include "xls_test_writer.h"

using namespace xls;
using xls_test::BiffWriter;
using xls_test::Bytes;
using xls_test::ByteWriter;
using xls_test::ExceptionText;

namespace {

constexpr uint16_t SST = 0x00FC;
constexpr uint16_t CONTINUE = 0x003C;

// A stream holding a BOF and the given records, positioned at the body of the first of them;
// returns that record's body length. In memory, or from a file at Path (removed at the end),
// which is read through a window.
struct SSTStream {
  TXLSStream Stream;
  int Length = 0;
  std::string Path;

  explicit SSTStream(const BiffWriter &records, std::string path = {}) : Path(std::move(path)) {
    BiffWriter w;
    w.Bof(xvExcel97, xls_test::BofGlobals).Raw(records.Data());
    if (Path.empty()) {
      Stream.SetSourceStream(xls_test::MakeCompoundFile(w.Data()));
      Stream.OpenWorkbook(u"");
    } else {
      xls_test::WriteFile(Path, xls_test::MakeCompoundFile(w.Data()));
      Stream.OpenWorkbook(common::Utf8ToUtf16(Path));
    }
    uint8_t h[4];
    Stream.ReadHeader(h);
    std::vector<uint8_t> bof(size_t(h[2] | h[3] << 8));
    Stream.ReadData(bof.data(), static_cast<int>(bof.size()));
    Stream.ReadHeader(h);
    Length = h[2] | h[3] << 8;
  }
  ~SSTStream() {
    Stream.Close();
    if (!Path.empty())
      std::remove(Path.c_str());
  }
};

Bytes SSTBody(uint32_t total, uint32_t unique, const Bytes &strings) {
  return ByteWriter().U32(total).U32(unique).Raw(strings);
}

} // namespace

TEST(SSTHash, EmptyKeyAndStandardCrcRelation) {
  EXPECT_EQ(TSSTHashTrie::KeyHash(nullptr, 0), 0xFFFFFFFFu);
  const char *check = "123456789";
  // The interning hash is the CRC register before the final inversion.
  EXPECT_EQ(TSSTHashTrie::KeyHash(reinterpret_cast<const uint8_t *>(check), 9), ~0xCBF43926u);
}

TEST(SSTRead, StringsOfBothWidthsAndDuplicatesShareOneEntry) {
  ByteWriter strings;
  const std::u16string texts[] = {u"alpha", u"", u"\u0394elta", u"dup", u"caf\u00e9", u"x", u"y", u"dup"};
  for (const auto &t : texts)
    strings.UnicodeString16(t);
  SSTStream in(BiffWriter().Record(SST, SSTBody(12, 8, strings)).Eof());
  TXLSFonts fonts;
  TSST2 sst(&fonts);
  sst.ReadSST(in.Stream, in.Length);

  EXPECT_EQ(sst.Total(), 12);
  ASSERT_EQ(sst.IndexCount(), 8);
  EXPECT_EQ(sst.EntryCount(), 7u);
  for (int i = 0; i < 8; ++i)
    EXPECT_EQ(TSST2::EntryText(sst.EntryByIndex(i)), texts[i]) << i;
  EXPECT_FALSE(sst.EntryByIndex(0)->Wide());
  EXPECT_TRUE(sst.EntryByIndex(2)->Wide());
  EXPECT_FALSE(sst.EntryByIndex(4)->Wide()); // é fits in 8 bits and stays narrow
  EXPECT_EQ(sst.EntryByIndex(1)->CharCount, 0);
  EXPECT_EQ(TSSTHashTrie::KeyHash(sst.EntryByIndex(1)->Key(), 0), 0xFFFFFFFFu);

  SSTEntry *dup = sst.EntryByIndex(3);
  EXPECT_EQ(sst.EntryByIndex(7), dup);
  EXPECT_EQ(dup->RefCount, 1);
  EXPECT_EQ(dup->SSTIndex(), 3);
  EXPECT_EQ(sst.EntryByIndex(0)->RefCount, 0);

  // The stream stands at the next record.
  EXPECT_EQ(in.Stream.PeekRecordId(), 0x000A);

  sst.DropIndex();
  EXPECT_THROW(sst.EntryByIndex(0), common::Exception);
  EXPECT_EQ(sst.EntryCount(), 7u); // entries outlive the index
  EXPECT_EQ(ExceptionText([&] { sst.EntryByIndex(8); }), "List index out of bounds (8)");
}

TEST(SSTRead, LargeTableOverManyRecordsReleasesAndRereadsCleanly) {
  // Enough strings to fill several allocation chunks, in whole strings per record, every tenth
  // repeating an earlier one and every seventh wide. From memory, and from disk, where records
  // also straddle the edges of the stream's read window.
  constexpr int Count = 12000;
  // The position whose string position i repeats (itself for a first occurrence).
  auto source = [](int i) {
    if (i % 10 != 9)
      return i;
    int n = i / 3;
    return n % 10 == 9 ? n - 1 : n;
  };
  auto text = [&](int i) {
    int n = source(i);
    std::u16string t = u"entry-" + common::Utf8ToUtf16(std::to_string(n));
    if (n % 7 == 0)
      t += u"\u0416";
    return t;
  };
  BiffWriter records;
  ByteWriter body;
  body.U32(Count + 5).U32(Count);
  bool first = true;
  for (int i = 0; i < Count; ++i) {
    body.UnicodeString16(text(i));
    if (body.Data().size() > 8000 || i == Count - 1) {
      records.Record(first ? SST : CONTINUE, body.Data());
      body = ByteWriter();
      first = false;
    }
  }
  records.Eof();
  for (const bool fromDisk : {false, true}) {
    SSTStream in(records, fromDisk ? xls_test::TempPath("sst_large.xls") : std::string());
    TXLSFonts fonts;
    TSST2 sst(&fonts);
    for (int round = 0; round < 2; ++round) {
      sst.ReadSST(in.Stream, in.Length);
      ASSERT_EQ(sst.IndexCount(), Count);
      std::vector<SSTEntry *> distinct;
      for (int i = 0; i < Count; ++i) {
        SSTEntry *e = sst.EntryByIndex(i);
        ASSERT_EQ(TSST2::EntryText(e), text(i)) << i;
        if (source(i) != i)
          EXPECT_EQ(e, sst.EntryByIndex(source(i))) << i;
        else
          distinct.push_back(e);
      }
      EXPECT_EQ(sst.EntryCount(), distinct.size());
      EXPECT_EQ(in.Stream.PeekRecordId(), 0x000A);
      if (round == 1)
        break;
      // Every reference released: the table empties down to its root.
      for (SSTEntry *e : distinct)
        for (int r = std::max(e->RefCount, 1); r > 0; --r)
          sst.ReleaseEntry(e);
      EXPECT_EQ(sst.EntryCount(), 0u);
      EXPECT_EQ(sst.NodeCount(), 1u);
      sst.ClearSST();
      in.Stream.Seek(0, 0);
      uint8_t h[4];
      in.Stream.ReadHeader(h);
      in.Stream.Seek(h[2] | h[3] << 8, 1); // past the BOF
      in.Stream.ReadHeader(h);
    }
  }
}

TEST(SSTRead, LongStringSwitchesTo16BitInContinue) {
  // 5000 characters: the first 100 as 8-bit bytes at the end of the SST record, the other 4900
  // as 16-bit units in a CONTINUE record whose option byte is 1.
  std::u16string expected;
  // A padding string first, so the long one's characters start 100 bytes before the record end.
  std::u16string pad(8224 - 8 - 3 - 3 - 100, u'p');
  ByteWriter body;
  body.U32(2).U32(2).UnicodeString16(pad).U16(5000).U8(0);
  for (int i = 0; i < 100; ++i) {
    body.U8(static_cast<uint8_t>(0x80 + i));
    expected.push_back(static_cast<char16_t>(0x80 + i));
  }
  ASSERT_EQ(body.Size(), 8224u);
  ByteWriter cont;
  cont.U8(1);
  for (int i = 0; i < 4900; ++i) {
    char16_t c = static_cast<char16_t>(0x0400 + i % 200);
    cont.U16(c);
    expected.push_back(c);
  }
  // 9801 bytes do not fit one CONTINUE: the rest goes to a second one, again with an option byte.
  Bytes c(cont.Data());
  Bytes c1(c.begin(), c.begin() + 8001), c2(c.begin() + 8000, c.end());
  c2[0] = 1; // the option byte in place of the byte c1 ends with
  SSTStream in(BiffWriter().Record(SST, body).Record(CONTINUE, c1).Record(CONTINUE, c2).Eof());
  TSST2 sst;
  sst.ReadSST(in.Stream, in.Length);
  SSTEntry *e = sst.EntryByIndex(1);
  EXPECT_TRUE(e->Wide());
  EXPECT_EQ(e->CharCount, 5000);
  EXPECT_EQ(TSST2::EntryText(e), expected);
  EXPECT_EQ(TSST2::EntryText(sst.EntryByIndex(0)), pad);
  EXPECT_EQ(in.Stream.PeekRecordId(), 0x000A);
}

TEST(SSTRead, PiecesNarrowAfterWideAndStringHeaderAtRecordStart) {
  // "ab" 16-bit, then "cd" 8-bit after a CONTINUE with option byte 0; then a second string whose
  // header begins a CONTINUE of its own.
  Bytes body = ByteWriter().U32(2).U32(2).U16(4).U8(1).U16(u'a').U16(u'b');
  Bytes cont1 = ByteWriter().U8(0).Text8("cd");
  Bytes cont2 = ByteWriter().UnicodeString16(u"next");
  SSTStream in(BiffWriter().Record(SST, body).Record(CONTINUE, cont1).Record(CONTINUE, cont2).Eof());
  TSST2 sst;
  sst.ReadSST(in.Stream, in.Length);
  EXPECT_EQ(TSST2::EntryText(sst.EntryByIndex(0)), u"abcd");
  EXPECT_TRUE(sst.EntryByIndex(0)->Wide());
  EXPECT_EQ(TSST2::EntryText(sst.EntryByIndex(1)), u"next");
}

TEST(SSTRead, StringCutByTheRecordEndAtEveryCharacter) {
  // "hello" in either width, its first Cut characters in the SST record and the rest after the
  // CONTINUE's option byte (none are left for it at Cut 5), then "next" in the CONTINUE.
  for (int wide = 0; wide < 2; ++wide) {
    for (int cut = 0; cut <= 5; ++cut) {
      SCOPED_TRACE(testing::Message() << "wide " << wide << " cut " << cut);
      const std::u16string hello = u"hello";
      ByteWriter body, cont;
      body.U32(2).U32(2).U16(5).U8(uint8_t(wide));
      for (int i = 0; i < 5; ++i) {
        ByteWriter &w = i < cut ? body : cont;
        if (i == cut)
          w.U8(uint8_t(wide));
        wide ? w.U16(hello[size_t(i)]) : w.U8(uint8_t(hello[size_t(i)]));
      }
      cont.UnicodeString16(u"next");
      SSTStream in(BiffWriter().Record(SST, body.Data()).Record(CONTINUE, cont.Data()).Eof());
      TSST2 sst;
      sst.ReadSST(in.Stream, in.Length);
      EXPECT_EQ(TSST2::EntryText(sst.EntryByIndex(0)), hello);
      EXPECT_EQ(sst.EntryByIndex(0)->Wide(), wide == 1);
      EXPECT_EQ(TSST2::EntryText(sst.EntryByIndex(1)), u"next");
    }
  }
}

TEST(SSTRead, RunsAndPhoneticBlockCrossRecordsAndFormPartOfTheKey) {
  TXLSFonts fonts;
  for (int i = 0; i < 7; ++i)
    fonts.Add();
  fonts.SetFixedCount(5);
  // "rich" with two runs (fonts 5 and 6), phonetic block of 6 bytes split over a CONTINUE;
  // "rich" plain, a different entry.
  Bytes body =
      ByteWriter().U32(2).U32(2).U16(4).U8(0x0C).U16(2).U32(6).Text8("rich").U16(0).U16(5).U16(2).U16(6).Raw(
          Bytes{1, 2, 3});
  Bytes cont = ByteWriter().Raw(Bytes{4, 5, 6}).UnicodeString16(u"rich");
  SSTStream in(BiffWriter().Record(SST, body).Record(CONTINUE, cont).Eof());
  TSST2 sst(&fonts);
  sst.ReadSST(in.Stream, in.Length);
  SSTEntry *rich = sst.EntryByIndex(0);
  SSTEntry *plain = sst.EntryByIndex(1);
  ASSERT_NE(rich, plain);
  EXPECT_EQ(TSST2::EntryText(rich), u"rich");
  ASSERT_EQ(rich->RunCount(), 2);
  EXPECT_EQ(rich->RunFirstChar(1), 2);
  EXPECT_EQ(rich->RunFont(0), &fonts.Items(5));
  EXPECT_EQ(rich->RunFont(1), &fonts.Items(6));
  EXPECT_EQ(rich->ExtSize(), 6);
  EXPECT_EQ(Bytes(rich->Phonetic(), rich->Phonetic() + 6), (Bytes{1, 2, 3, 4, 5, 6}));
  EXPECT_EQ(fonts.Items(5).UseCount, 1);

  // Releasing the last reference lowers the fonts' counts; unused fonts above the fixed part go.
  fonts.Items(6).UseCount = 2;
  TXLSFont *six = &fonts.Items(6);
  rich->RefCount = 1;
  sst.ReleaseEntry(rich);
  EXPECT_EQ(fonts.Count(), 6); // font 5 dropped to 0 and left the list
  EXPECT_EQ(&fonts.Items(5), six);
  EXPECT_EQ(six->UseCount, 1);
  EXPECT_EQ(sst.EntryCount(), 1u);
  EXPECT_THROW(sst.EntryByIndex(0), common::Exception); // no dangling position
  EXPECT_EQ(sst.EntryByIndex(1), plain);
}

TEST(SSTRead, CorruptTablesFailCleanly) {
  TXLSFonts fonts;
  fonts.Add();
  auto readFails = [&](const BiffWriter &records) {
    SSTStream in(records);
    TSST2 sst(&fonts);
    return ExceptionText([&] { sst.ReadSST(in.Stream, in.Length); });
  };
  // More strings claimed than present: the next record is not a CONTINUE.
  EXPECT_EQ(readFails(BiffWriter().Record(SST, SSTBody(3, 3, ByteWriter().UnicodeString16(u"one"))).Eof()),
            "CONTINUE record is missing in SST");
  // Characters running past the record with no CONTINUE.
  EXPECT_EQ(readFails(BiffWriter().Record(SST, ByteWriter().U32(1).U32(1).U16(10).U8(0).Text8("abc")).Eof()),
            "CONTINUE record is missing in SST");
  // The stream ends inside the record header that should follow.
  EXPECT_EQ(readFails(BiffWriter().Record(SST, ByteWriter().U32(1).U32(1).U16(10).U8(0).Text8("abc"))),
            "CONTINUE record is missing in SST");
  EXPECT_EQ(readFails(BiffWriter().Record(SST, SSTBody(1, 1, ByteWriter().U16(1).U8(0x02).Text8("a"))).Eof()),
            "STT: Unhandled string type in Read (02)");
  // A run naming a font the workbook does not have.
  EXPECT_EQ(
      readFails(BiffWriter()
                    .Record(SST, SSTBody(1, 1, ByteWriter().U16(1).U8(0x08).U16(1).Text8("a").U16(0).U16(9)))
                    .Eof()),
      "List index out of bounds (9)");
  // A string header cut by the record end, and a header claiming more bytes than the file has.
  EXPECT_EQ(readFails(BiffWriter().Record(SST, SSTBody(1, 1, Bytes{1, 0})).Eof()), "Corrupt SST record");
  EXPECT_EQ(readFails(BiffWriter().RawHeader(SST, 400).Raw(SSTBody(1, 1, Bytes{1}))), "Corrupt SST record");
  EXPECT_EQ(readFails(BiffWriter().Record(SST, Bytes{1, 0, 0})), "Corrupt SST record");
  // A phonetic block of 2 GB announced in a tiny file: fails without trying to allocate it.
  EXPECT_EQ(readFails(BiffWriter()
                          .Record(SST, SSTBody(1, 1, ByteWriter().U16(1).U8(0x04).U32(0x7FFFFFF0).Text8("a")))
                          .Record(CONTINUE, Bytes(100, 0))
                          .Eof()),
            "CONTINUE record is missing in SST");
  // A 16-bit character split by the record end.
  EXPECT_EQ(readFails(BiffWriter()
                          .Record(SST, SSTBody(1, 1, ByteWriter().U16(2).U8(1).U8('a')))
                          .Record(CONTINUE, Bytes{1, 0, 'b', 0})
                          .Eof()),
            "Corrupt SST record");
  // A unique count of four billion with no data is bounded by the data, not reserved.
  EXPECT_EQ(readFails(BiffWriter().Record(SST, SSTBody(0xFFFFFFFF, 0xFFFFFFFF, Bytes{})).Eof()),
            "CONTINUE record is missing in SST");
}

TEST(SSTRead, TableOfAnIndependentWriterMatchesAnIndependentReader) {
  // sst_xlwt.xls and the expected table come from make_sst_fixture.py (python3-xlwt and -xlrd).
  const std::string folder = std::string(XE_TEST_DATA) + "/xls/cells/";
  std::ifstream expectedFile(folder + "sst_xlwt.txt", std::ios::binary);
  ASSERT_TRUE(expectedFile) << folder;
  std::vector<std::u16string> expected;
  for (std::string line; std::getline(expectedFile, line);)
    expected.push_back(common::Utf8ToUtf16(line));

  TXLSStream stream;
  ASSERT_EQ(stream.OpenWorkbook(common::Utf8ToUtf16(folder + "sst_xlwt.xls")), xvExcel97);
  TSST2 sst;
  uint8_t h[4];
  while (stream.ReadHeader(h) == 4) {
    int length = h[2] | h[3] << 8;
    if ((h[0] | h[1] << 8) == SST) {
      sst.ReadSST(stream, length);
      break;
    }
    std::vector<uint8_t> body(size_t(length) + 1);
    stream.ReadData(body.data(), length);
  }
  ASSERT_EQ(sst.IndexCount(), static_cast<int>(expected.size()));
  for (int i = 0; i < sst.IndexCount(); ++i)
    ASSERT_EQ(TSST2::EntryText(sst.EntryByIndex(i)), expected[size_t(i)]) << i;
  EXPECT_EQ(sst.EntryCount(), expected.size());
  // The long 8-bit string crossed a record in 8-bit pieces and stays narrow.
  EXPECT_FALSE(sst.EntryByIndex(2500)->Wide());
  EXPECT_EQ(sst.EntryByIndex(2500)->CharCount, 9000);
  EXPECT_TRUE(sst.EntryByIndex(2501)->Wide());
}

TEST(SSTRead, DamagedBytesNeverReadOutOfBounds) {
  // Random byte damage to a table with runs, phonetic blocks and a width switch: every read
  // either succeeds or throws; the sanitizers catch any stray access or leak.
  TXLSFonts fonts;
  for (int i = 0; i < 8; ++i)
    fonts.Add();
  Bytes body = ByteWriter()
                   .U32(4)
                   .U32(4)
                   .UnicodeString16(u"plain")
                   .U16(3)
                   .U8(0x0D)
                   .U16(1)
                   .U32(2)
                   .U16(u'w')
                   .U16(u'i')
                   .U16(u'd')
                   .U16(0)
                   .U16(7)
                   .Raw(Bytes{9, 9})
                   .U16(6)
                   .U8(0);
  Bytes cont = ByteWriter().Text8("ab").U8(1).U16(u'c').U16(u'd');
  std::mt19937 random(7);
  for (int round = 0; round < 1500; ++round) {
    Bytes b = body, c = cont;
    for (int k = 0, n = 1 + int(random() % 4); k < n; ++k) {
      Bytes &target = random() % 3 ? b : c;
      target[random() % target.size()] = static_cast<uint8_t>(random());
    }
    SSTStream in(BiffWriter().Record(SST, b).Record(CONTINUE, c).Eof());
    TSST2 sst(&fonts);
    try {
      sst.ReadSST(in.Stream, in.Length);
      for (int i = 0; i < sst.IndexCount(); ++i)
        TSST2::EntryText(sst.EntryByIndex(i));
    } catch (const common::Exception &) {
    }
  }
}

TEST(SSTRead, StringsSharingHashBytesAndEntriesFromBeforeTheTable) {
  // Forty strings whose hashes share their two low bytes all go under one first-level slot,
  // deep enough for nodes below it; one string was interned before the table was read.
  // Found by searching "c<number>" for hashes ending in 0x1234.
  std::vector<std::u16string> texts = {
      u"c57723",   u"c286984",  u"c343828",  u"c705803",  u"c843341",  u"c931389",  u"c950620",  u"c959003",
      u"c1005426", u"c1027608", u"c1116147", u"c1134369", u"c1256347", u"c1274169", u"c1345626", u"c1367408",
      u"c1461623", u"c1468000", u"c1572342", u"c1632142", u"c1685026", u"c1721423", u"c1728200", u"c1796547",
      u"c1893982", u"c2105872", u"c2315894", u"c2431891", u"c2543859", u"c2621877", u"c2696913", u"c2874654",
      u"c2889694", u"c2967335", u"c3064374", u"c3090597", u"c3134192", u"c3177615", u"c3237415", u"c3274392"};
  for (const auto &t : texts) {
    const std::string s = common::Utf16ToUtf8(t);
    ASSERT_EQ(TSSTHashTrie::KeyHash(reinterpret_cast<const uint8_t *>(s.data()), s.size()) & 0xFFFF, 0x1234u);
  }
  for (int i = 0; i < 100; ++i)
    texts.push_back(u"plain" + common::Utf8ToUtf16(std::to_string(i)));
  const size_t distinct = texts.size();
  texts.push_back(texts[5]);
  texts.push_back(texts[39]);
  texts.push_back(texts[47]);

  TSST2 sst;
  SSTEntry *before = sst.AddText(texts[10]);
  ByteWriter strings;
  for (const auto &t : texts)
    strings.UnicodeString16(t);
  SSTStream in(BiffWriter().Record(SST, SSTBody(200, uint32_t(texts.size()), strings)).Eof());
  sst.ReadSST(in.Stream, in.Length);

  ASSERT_EQ(sst.IndexCount(), int(texts.size()));
  for (size_t i = 0; i < texts.size(); ++i)
    EXPECT_EQ(TSST2::EntryText(sst.EntryByIndex(int(i))), texts[i]) << i;
  EXPECT_EQ(sst.EntryCount(), distinct);
  EXPECT_EQ(sst.EntryByIndex(int(distinct)), sst.EntryByIndex(5));
  EXPECT_EQ(sst.EntryByIndex(int(distinct) + 1), sst.EntryByIndex(39));
  EXPECT_EQ(sst.EntryByIndex(int(distinct) + 2), sst.EntryByIndex(47));
  EXPECT_EQ(sst.EntryByIndex(5)->SSTIndex(), 5);
  EXPECT_EQ(sst.EntryByIndex(10), before);
  EXPECT_EQ(before->RefCount, 2);

  // Every entry is found again, and the table empties down to its root.
  std::vector<SSTEntry *> entries;
  for (size_t i = 0; i < distinct; ++i) {
    SSTEntry *e = sst.EntryByIndex(int(i));
    EXPECT_EQ(sst.AddText(texts[i]), e) << i;
    entries.push_back(e);
  }
  for (SSTEntry *e : entries)
    for (int r = std::max(e->RefCount, 1); r > 0; --r)
      sst.ReleaseEntry(e);
  EXPECT_EQ(sst.EntryCount(), 0u);
  EXPECT_EQ(sst.NodeCount(), 1u);
  // Released entries no longer resolve, whether read here or interned before.
  EXPECT_THROW(sst.EntryByIndex(5), common::Exception);
  EXPECT_THROW(sst.EntryByIndex(int(distinct)), common::Exception);
  EXPECT_THROW(sst.EntryByIndex(10), common::Exception);
}

TEST(SSTRead, FailedReadKeepsWhatWasReadAndClearFreesIt) {
  ByteWriter strings;
  strings.UnicodeString16(u"kept").UnicodeString16(u"also").UnicodeString16(u"kept");
  SSTStream in(BiffWriter().Record(SST, SSTBody(5, 5, strings)).Eof());
  TSST2 sst;
  EXPECT_THROW(sst.ReadSST(in.Stream, in.Length), common::Exception);
  EXPECT_EQ(sst.IndexCount(), 3);
  EXPECT_EQ(TSST2::EntryText(sst.EntryByIndex(1)), u"also");
  // What was read is interned all the same: the repeat shares the first entry.
  EXPECT_EQ(sst.EntryCount(), 2u);
  EXPECT_EQ(sst.EntryByIndex(2), sst.EntryByIndex(0));
  EXPECT_EQ(sst.EntryByIndex(0)->RefCount, 1);
  sst.ClearSST();
  EXPECT_EQ(sst.EntryCount(), 0u);
  EXPECT_EQ(sst.IndexCount(), 0);
  EXPECT_EQ(sst.Total(), 0);
}

TEST(SSTAddText, WidthCountsAndRelease) {
  TSST2 sst;
  std::u16string latin;
  for (char16_t c = 1; c < 256; ++c)
    latin.push_back(c);
  SSTEntry *narrow = sst.AddText(latin);
  EXPECT_FALSE(narrow->Wide());
  EXPECT_EQ(narrow->SSTIndex(), 65535);
  EXPECT_EQ(narrow->RefCount, 1);
  EXPECT_EQ(TSST2::EntryText(narrow), latin);

  SSTEntry *wide = sst.AddText(u"\u20ac 5");
  EXPECT_TRUE(wide->Wide());
  EXPECT_EQ(TSST2::EntryText(wide), u"\u20ac 5");

  EXPECT_EQ(sst.AddText(latin), narrow);
  EXPECT_EQ(narrow->RefCount, 2);
  EXPECT_EQ(sst.Total(), 3);

  // The empty text is an entry like any other.
  SSTEntry *empty = sst.AddText(u"");
  EXPECT_EQ(empty->KeyLength(), 0u);
  EXPECT_EQ(sst.AddText(u""), empty);

  sst.ReleaseEntry(narrow);
  EXPECT_EQ(sst.EntryCount(), 3u);
  sst.ReleaseEntry(narrow);
  EXPECT_EQ(sst.EntryCount(), 2u);
  EXPECT_EQ(sst.Total(), 4); // five AddText calls, one entry gone
  sst.ReleaseEntry(wide);
  sst.ReleaseEntry(empty);
  sst.ReleaseEntry(empty);
  EXPECT_EQ(sst.EntryCount(), 0u);
  EXPECT_EQ(sst.NodeCount(), 1u);

  EXPECT_THROW(sst.AddText(std::u16string(70000, u'a')), common::Exception);
}

TEST(SSTAddText, ReleasedEntriesMakeRoomWithoutDisturbingLiveOnes) {
  // Texts of one length, half released and then replaced by new ones that may take their
  // memory: every live entry keeps its own text and references.
  TSST2 sst;
  auto text = [](char prefix, int i) {
    std::u16string t(1, static_cast<char16_t>(prefix));
    for (int d = 1000; d > 0; d /= 10)
      t.push_back(static_cast<char16_t>(u'0' + (i / d) % 10));
    return t;
  };
  std::vector<SSTEntry *> all, kept, added;
  for (int i = 0; i < 1000; ++i)
    all.push_back(sst.AddText(text('t', i)));
  for (int i = 0; i < 1000; ++i) {
    if (i % 2)
      kept.push_back(all[size_t(i)]);
    else
      sst.ReleaseEntry(all[size_t(i)]);
  }
  for (int i = 0; i < 500; ++i)
    added.push_back(sst.AddText(text('u', i)));
  EXPECT_EQ(sst.EntryCount(), 1000u);
  EXPECT_EQ(sst.Total(), 1000);
  for (size_t i = 0; i < kept.size(); ++i) {
    EXPECT_EQ(TSST2::EntryText(kept[i]), text('t', int(2 * i + 1))) << i;
    EXPECT_EQ(kept[i]->RefCount, 1);
  }
  for (size_t i = 0; i < added.size(); ++i)
    EXPECT_EQ(TSST2::EntryText(added[i]), text('u', int(i))) << i;
  EXPECT_EQ(sst.AddText(text('t', 7)), kept[3]);
  EXPECT_EQ(kept[3]->RefCount, 2);
  EXPECT_NE(sst.AddText(text('t', 8)), nullptr); // released before, stored anew
  EXPECT_EQ(sst.EntryCount(), 1001u);
}

namespace {
// Every item hashes alike, so chains fill, split down to depth 3 and then grow there.
class CollidingTrie : public THashTrie {
public:
  ~CollidingTrie() override { ClearTrie(); }
  int Freed = 0;

protected:
  uint32_t HashOf(const void *) const override { return 0x12345678; }
  void FreeItem(void *Item) override {
    ++Freed;
    std::unique_ptr<std::string> owned(static_cast<std::string *>(Item));
  }
  size_t KeyLength(const void *Item) const override { return static_cast<const std::string *>(Item)->size(); }
  const uint8_t *KeyStart(const void *Item) const override {
    return reinterpret_cast<const uint8_t *>(static_cast<const std::string *>(Item)->data());
  }
};
} // namespace

TEST(HashTrie, CollidingHashesSplitToDepthThreeThenChainsGrow) {
  CollidingTrie trie;
  std::vector<std::string *> items;
  for (int i = 0; i < 40; ++i) {
    auto *s = new std::string("item" + std::to_string(i));
    items.push_back(s);
    EXPECT_EQ(trie.Insert(s), s);
  }
  EXPECT_EQ(trie.ItemCount(), 40u);
  EXPECT_EQ(trie.NodeCount(), 4u); // root and children at depths 1, 2, 3
  EXPECT_EQ(trie.LongestChain(), 40u);
  std::string probe = "item17";
  EXPECT_EQ(trie.Find(&probe), items[17]);
  std::string missing = "item40";
  EXPECT_EQ(trie.Find(&missing), nullptr);

  for (int i = 0; i < 40; ++i) {
    EXPECT_TRUE(trie.Remove(items[static_cast<size_t>(i)]));
    delete items[static_cast<size_t>(i)];
  }
  EXPECT_FALSE(trie.Remove(&probe));
  EXPECT_EQ(trie.ItemCount(), 0u);
  EXPECT_EQ(trie.NodeCount(), 1u); // empty children are freed, the root stays
  EXPECT_EQ(trie.Freed, 0);
}

namespace {
// Items are NUL-terminated keys at any byte offset of one buffer.
class TextTrie : public THashTrie {
public:
  ~TextTrie() override { ClearTrie(); }

protected:
  void FreeItem(void *) override {}
  size_t KeyLength(const void *Item) const override { return std::strlen(static_cast<const char *>(Item)); }
  const uint8_t *KeyStart(const void *Item) const override { return static_cast<const uint8_t *>(Item); }
};
} // namespace

namespace {
// Items carry the hash they are stored under, so a test can lay out nodes and chains at will.
struct THashedItem {
  uint32_t Hash;
  std::string Key;
};
class HashedTrie : public THashTrie {
public:
  ~HashedTrie() override { ClearTrie(); }

protected:
  uint32_t HashOf(const void *Item) const override { return static_cast<const THashedItem *>(Item)->Hash; }
  void FreeItem(void *) override {}
  size_t KeyLength(const void *Item) const override {
    return static_cast<const THashedItem *>(Item)->Key.size();
  }
  const uint8_t *KeyStart(const void *Item) const override {
    return reinterpret_cast<const uint8_t *>(static_cast<const THashedItem *>(Item)->Key.data());
  }
};
} // namespace

TEST(HashTrie, SlotsAndChainsMatchOnlyWhatTheyHold) {
  // A node keeps only its filled slots, found by counting the filled ones before; a chain keeps
  // its hashes apart from its items. Whatever their fill, in any order of insertion, and after
  // removals that shift the slots and links behind, a search finds exactly the items stored.
  // Removed items are freed at once, so a stale match would read freed memory (caught under
  // AddressSanitizer).
  std::mt19937 rng(7);
  for (const bool chain : {false, true}) {
    // Slot keys: the second hash byte of items under one root slot, which fill every slot of a
    // depth-1 node, across all four words of its bitmap; or chains of up to 8 under one root slot.
    const int count = chain ? 8 : 256;
    std::vector<std::unique_ptr<THashedItem>> items(static_cast<size_t>(count));
    auto make = [&](int k) {
      return std::make_unique<THashedItem>(
          THashedItem{chain ? 0x00000100u * uint32_t(k + 1) | 0x07 : uint32_t(k) << 8 | 0x05,
                      std::string("i").append(std::to_string(k))});
    };
    HashedTrie trie;
    auto check = [&](const char *when) {
      for (int k = 0; k < count; ++k) {
        const auto probe = make(k);
        ASSERT_EQ(trie.Find(probe.get()), items[size_t(k)].get()) << when << " " << k;
      }
    };
    std::vector<int> order(static_cast<size_t>(count));
    for (int k = 0; k < count; ++k)
      order[size_t(k)] = k;
    std::shuffle(order.begin(), order.end(), rng);
    for (int k : order) {
      items[size_t(k)] = make(k);
      ASSERT_EQ(trie.Insert(items[size_t(k)].get()), items[size_t(k)].get());
      check("growing");
    }
    // Removed newest first (the last live slot or hash), then from the middle.
    for (auto it = order.rbegin(); it != order.rend(); it += 2) {
      ASSERT_TRUE(trie.Remove(items[size_t(*it)].get()));
      items[size_t(*it)].reset();
      check("shrinking");
      if (order.rend() - it < 2)
        break;
    }
    std::shuffle(order.begin(), order.end(), rng);
    for (int k : order)
      if (items[size_t(k)]) {
        ASSERT_TRUE(trie.Remove(items[size_t(k)].get()));
        items[size_t(k)].reset();
        check("emptying");
      }
    EXPECT_EQ(trie.ItemCount(), 0u);
  }
}

TEST(HashTrie, ANodeOfItemsChainsAndChildrenKeepsEachSlotThroughGrowthAndRemovals) {
  // One depth-1 node whose slots hold single items, chains and child nodes side by side, filled
  // and emptied in random order: every growth and shift moves each slot's hash, kind and value
  // together, so the search finds exactly what is stored and an emptied child node goes.
  std::mt19937 rng(11);
  std::vector<std::unique_ptr<THashedItem>> items;
  size_t children = 0;
  for (uint32_t k = 0; k < 256; ++k) {
    const uint32_t n = k % 11; // 0: empty slot, 1: an item, 2 to 8: a chain, 9 and 10: a child
    children += n > 8;
    for (uint32_t j = 0; j < n; ++j)
      items.push_back(std::make_unique<THashedItem>(
          THashedItem{j << 16 | k << 8 | 0x05, "k" + std::to_string(k) + "j" + std::to_string(j)}));
  }
  std::vector<size_t> order(items.size());
  for (size_t i = 0; i < order.size(); ++i)
    order[i] = i;
  std::shuffle(order.begin(), order.end(), rng);
  HashedTrie trie;
  std::vector<bool> stored(items.size(), false);
  auto check = [&](const char *when) {
    for (size_t i = 0; i < items.size(); ++i) {
      THashedItem probe = *items[i];
      ASSERT_EQ(trie.Find(&probe), stored[i] ? items[i].get() : nullptr) << when << " " << probe.Key;
    }
  };
  for (size_t n = 0; n < order.size(); ++n) {
    ASSERT_EQ(trie.Insert(items[order[n]].get()), items[order[n]].get());
    stored[order[n]] = true;
    if (n % 64 == 0)
      check("growing");
  }
  check("full");
  EXPECT_EQ(trie.NodeCount(), 2 + children); // the root, the node and the children
  EXPECT_EQ(trie.LongestChain(), 8u);
  std::shuffle(order.begin(), order.end(), rng);
  for (size_t n = 0; n < order.size(); ++n) {
    ASSERT_TRUE(trie.Remove(items[order[n]].get()));
    stored[order[n]] = false;
    if (n % 64 == 0)
      check("shrinking");
  }
  check("empty");
  EXPECT_EQ(trie.ItemCount(), 0u);
  EXPECT_EQ(trie.NodeCount(), 1u);
}

TEST(HashTrie, ItemsAtAnyAlignmentAreFoundRemovedAndReinserted) {
  // Whatever the alignment of an item pointer, it is stored, found by an equal key elsewhere
  // in memory, and removed as that very object.
  std::string buffer;
  std::vector<size_t> offsets;
  for (int i = 0; i < 5000; ++i) {
    offsets.push_back(buffer.size());
    buffer += 'k';
    buffer += std::to_string(i * 7919);
    buffer.append(size_t(i % 3), 'x');
    buffer += '\0';
  }
  auto item = [&](int i) { return buffer.data() + offsets[size_t(i)]; };
  TextTrie trie;
  for (int i = 0; i < 5000; ++i)
    ASSERT_EQ(trie.Insert(item(i)), item(i)) << i;
  EXPECT_EQ(trie.ItemCount(), 5000u);
  EXPECT_LE(trie.LongestChain(), 8u);
  for (int i = 0; i < 5000; ++i) {
    std::string probe = item(i);
    ASSERT_EQ(trie.Find(probe.data()), item(i)) << i;
    ASSERT_EQ(trie.Insert(probe.data()), item(i)) << i; // an equal key is not stored twice
  }
  for (int i = 0; i < 5000; i += 2) {
    std::string probe = item(i);
    EXPECT_FALSE(trie.Remove(probe.data())) << i; // equal key, other object
    EXPECT_TRUE(trie.Remove(item(i))) << i;
  }
  EXPECT_EQ(trie.ItemCount(), 2500u);
  for (int i = 0; i < 5000; ++i) {
    std::string probe = item(i);
    EXPECT_EQ(trie.Find(probe.data()), i % 2 ? item(i) : nullptr) << i;
  }
  for (int i = 0; i < 5000; i += 2)
    EXPECT_EQ(trie.Insert(item(i)), item(i));
  size_t visited = 0;
  trie.ForEach([&](void *) { ++visited; });
  EXPECT_EQ(visited, 5000u);
  for (int i = 0; i < 5000; ++i)
    EXPECT_TRUE(trie.Remove(item(i)));
  EXPECT_EQ(trie.NodeCount(), 1u);
}

TEST(HashTrie, StressDistinctAndRepeatedStrings) {
  // Kept small enough for a sanitizer build; the benchmark runs a million in Release.
  constexpr int Distinct = 60000;
  constexpr int Repeats = 3;
  TSST2 sst;
  std::vector<SSTEntry *> entries(Distinct);
  auto text = [](int i) {
    std::u16string t = u"s";
    t.push_back(static_cast<char16_t>(u'a' + i % 26));
    for (int v = i; v; v /= 10)
      t.push_back(static_cast<char16_t>(u'0' + v % 10));
    if (i % 7 == 0)
      t.push_back(u'\u0416'); // some wide entries
    return t;
  };
  for (int r = 0; r < Repeats; ++r)
    for (int i = 0; i < Distinct; ++i) {
      SSTEntry *e = sst.AddText(text(i));
      if (r == 0)
        entries[static_cast<size_t>(i)] = e;
      else
        ASSERT_EQ(e, entries[static_cast<size_t>(i)]) << i;
      ASSERT_EQ(TSST2::EntryText(e), text(i));
    }
  EXPECT_EQ(sst.EntryCount(), size_t(Distinct));
  size_t refs = 0;
  sst.ForEach([&](void *item) { refs += size_t(static_cast<SSTEntry *>(item)->RefCount); });
  EXPECT_EQ(refs, size_t(Distinct) * Repeats);
  EXPECT_GT(sst.NodeCount(), 1u);

  for (int r = 0; r < Repeats; ++r)
    for (SSTEntry *e : entries)
      sst.ReleaseEntry(e);
  EXPECT_EQ(sst.EntryCount(), 0u);
  EXPECT_EQ(sst.NodeCount(), 1u);
}
