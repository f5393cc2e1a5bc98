// Files written by independent programs (see tests/data/xls/make_fixtures.py) open and yield
// sound record streams.
#include <gtest/gtest.h>

#include <algorithm>
#include <fstream>
#include <iterator>
#include <sstream>

#include "cells/crc32.h"
#include "common/text.h"
#include "xls/compound_file.h"
#include "xls/xls_stream.h"

using namespace xls;

namespace {

std::string Fixture(const char *name) { return std::string(XE_TEST_DATA) + "/xls/" + name; }

struct Walk {
  int Records = 0, Bofs = 0, Eofs = 0;
  bool SawText = false; // the cell text "alpha" appeared in some body
  std::vector<uint16_t> GlobalIds;
};

// Reads every record from the current position, checking ids and lengths as a reader would.
Walk WalkRecords(TXLSStream &s, int maxRecordSize) {
  Walk w;
  uint8_t h[4];
  std::vector<uint8_t> body;
  while (s.ReadHeader(h) == 4) {
    const uint16_t id = static_cast<uint16_t>(h[0] | h[1] << 8),
                   length = static_cast<uint16_t>(h[2] | h[3] << 8);
    EXPECT_LT(id, 0x1200) << "record #" << w.Records;
    EXPECT_LE(length, maxRecordSize) << "record #" << w.Records;
    body.resize(length);
    const int got =
        (id & 0xFF) == 0x09 ? s.ReadNoDecryptAdvance(body.data(), length) : s.ReadData(body.data(), length);
    EXPECT_EQ(got, length) << "record #" << w.Records;
    if (w.Eofs == 0)
      w.GlobalIds.push_back(id);
    w.Bofs += (id & 0xFF) == 0x09;
    w.Eofs += id == 0x000A;
    const std::string text(body.begin(), body.end());
    w.SawText = w.SawText || text.find("alpha") != std::string::npos;
    ++w.Records;
    if (::testing::Test::HasFailure())
      break;
  }
  EXPECT_EQ(s.Position(), s.StreamSize());
  return w;
}

bool Has(const std::vector<uint16_t> &ids, uint16_t id) {
  return std::find(ids.begin(), ids.end(), id) != ids.end();
}

struct PlainFixture {
  const char *Name;
  TExcelVersion Version;
};

class PlainFixtures : public ::testing::TestWithParam<PlainFixture> {};

TEST_P(PlainFixtures, OpenAndYieldTheirRecords) {
  TXLSStream s;
  ASSERT_EQ(s.OpenWorkbook(common::Utf8ToUtf16(Fixture(GetParam().Name))), GetParam().Version);
  EXPECT_EQ(s.PeekRecordId(), 0x0809);
  const Walk w = WalkRecords(s, GetParam().Version == xvExcel97 ? 8224 : 2080);
  EXPECT_GE(w.Bofs, 2); // globals and at least one sheet
  EXPECT_EQ(w.Bofs, w.Eofs);
  EXPECT_TRUE(Has(w.GlobalIds, 0x0085)) << "BOUNDSHEET in the globals";
  EXPECT_TRUE(w.SawText);
  if (GetParam().Version == xvExcel97) {
    EXPECT_TRUE(Has(w.GlobalIds, 0x00FC)) << "SST in the globals";
  }
}

INSTANTIATE_TEST_SUITE_P(Files, PlainFixtures,
                         ::testing::Values(PlainFixture{"lo_biff8.xls", xvExcel97},
                                           PlainFixture{"gnumeric_biff7.xls", xvExcel50},
                                           PlainFixture{"gnumeric_biff8.xls", xvExcel97},
                                           PlainFixture{"gnumeric_dsf.xls", xvExcel97},
                                           PlainFixture{"xlwt_biff8.xls", xvExcel97}),
                         [](const auto &info) {
                           std::string name = info.param.Name;
                           return name.substr(0, name.find('.'));
                         });

// streams.txt lists each fixture's workbook streams with the size and CRC-32 that an independent
// reader found.
TEST(Fixtures, StreamsMatchAnIndependentReader) {
  std::ifstream list(Fixture("streams.txt"));
  std::string line;
  int checked = 0;
  while (std::getline(list, line)) {
    std::istringstream fields(line);
    std::string file, stream;
    size_t size = 0;
    uint32_t crc = 0;
    fields >> file >> stream >> size >> std::hex >> crc;
    const TCompoundFile doc = TCompoundFile::FromFile(Fixture(file.c_str()));
    const std::vector<uint8_t> data = doc.ReadStream(common::Utf8ToUtf16(stream));
    EXPECT_EQ(data.size(), size) << line;
    EXPECT_EQ(Crc32(data.data(), data.size()), crc) << line;
    ++checked;
  }
  EXPECT_GE(checked, 8);
}

TEST(Fixtures, BothStreamsFileHoldsBookAndWorkbook) {
  const TCompoundFile file = TCompoundFile::FromFile(Fixture("gnumeric_dsf.xls"));
  EXPECT_GE(file.Find(u"Book"), 0);
  EXPECT_GE(file.Find(u"Workbook"), 0);
}

TEST(Fixtures, SourceStreamGivesTheSameRecordsAsTheFile) {
  std::ifstream in(Fixture("xlwt_biff8.xls"), std::ios::binary);
  std::vector<uint8_t> image{std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
  TXLSStream fromFile, fromMemory;
  fromFile.OpenWorkbook(common::Utf8ToUtf16(Fixture("xlwt_biff8.xls")));
  fromMemory.SetSourceStream(image);
  ASSERT_EQ(fromMemory.OpenWorkbook(u"no such file.xls"), xvExcel97);
  ASSERT_EQ(fromMemory.StreamSize(), fromFile.StreamSize());
  std::vector<uint8_t> a(fromFile.StreamSize()), b(fromMemory.StreamSize());
  fromFile.ReadData(a.data(), static_cast<int>(a.size()));
  fromMemory.ReadData(b.data(), static_cast<int>(b.size()));
  EXPECT_EQ(a, b);
}

class EncryptedFixtures : public ::testing::TestWithParam<std::pair<const char *, std::u16string>> {};

TEST_P(EncryptedFixtures, DecryptWithTheirPassword) {
  TXLSStream s;
  ASSERT_EQ(s.OpenWorkbook(common::Utf8ToUtf16(Fixture(GetParam().first))), xvExcel97);
  uint8_t h[4];
  ASSERT_EQ(s.ReadHeader(h), 4);
  ASSERT_EQ(h[0] | h[1] << 8, 0x0809);
  std::vector<uint8_t> body(h[2] | h[3] << 8);
  s.ReadNoDecryptAdvance(body.data(), static_cast<int>(body.size()));
  // Records before FILEPASS are plain.
  std::vector<uint16_t> before;
  for (;;) {
    ASSERT_EQ(s.ReadHeader(h), 4);
    const uint16_t id = static_cast<uint16_t>(h[0] | h[1] << 8);
    body.resize(h[2] | h[3] << 8);
    s.ReadData(body.data(), static_cast<int>(body.size()));
    if (id == BIFF_FILEPASS)
      break;
    before.push_back(id);
  }
  ASSERT_EQ(body.size(), 54u);
  EXPECT_EQ(body[0] | body[1] << 8, 1); // RC4
  EXPECT_FALSE(s.StartDecryption(body.data(), 54, u"wrong"));
  ASSERT_TRUE(s.StartDecryption(body.data(), 54, GetParam().second));
  const Walk w = WalkRecords(s, 8224);
  EXPECT_GE(w.Bofs, 1);
  EXPECT_EQ(w.Bofs + 1, w.Eofs); // the globals BOF was read above
  EXPECT_TRUE(Has(w.GlobalIds, 0x0085));
  EXPECT_TRUE(Has(w.GlobalIds, 0x00FC));
  EXPECT_TRUE(w.SawText) << "the shared strings decrypt to the cell texts";
}

INSTANTIATE_TEST_SUITE_P(
    Files, EncryptedFixtures,
    ::testing::Values(std::make_pair("lo_password_secret.xls", std::u16string(u"secret")),
                      std::make_pair("lo_password_velvet.xls", std::u16string(u"VelvetSweatshop"))),
    [](const auto &info) { return info.index == 0 ? "Secret" : "Velvet"; });

} // namespace
