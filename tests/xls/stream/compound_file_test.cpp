#include <gtest/gtest.h>

#include <cstdio>
#include <functional>

#include "common/exception.h"
#include "xls/compound_file.h"
#include "xls_test_writer.h"

using xls::TCompoundFile;
using xls::TStorageKind;
using xls_test::Bytes;
using xls_test::CompoundFileBuilder;

namespace {

Bytes Pattern(size_t n, uint8_t seed) {
  Bytes b(n);
  for (size_t i = 0; i < n; ++i)
    b[i] = static_cast<uint8_t>(seed + i * 31 + (i >> 8));
  return b;
}

uint32_t Get32(const Bytes &b, size_t at) {
  return uint32_t(b[at]) | uint32_t(b[at + 1]) << 8 | uint32_t(b[at + 2]) << 16 | uint32_t(b[at + 3]) << 24;
}

void Put32(Bytes &b, size_t at, uint32_t v) {
  for (int i = 0; i < 4; ++i)
    b[at + i] = static_cast<uint8_t>(v >> (8 * i));
}

// Where things sit in an image, read from its header, so tests can damage them on purpose.
struct Layout {
  explicit Layout(const Bytes &image)
      : SectorSize(1u << (image[30] | image[31] << 8)), Fat(Offset(Get32(image, 76))),
        Dir(Offset(Get32(image, 48))), MiniFat(Offset(Get32(image, 60))) {}
  size_t Offset(uint32_t sector) const { return (size_t(sector) + 1) * SectorSize; }
  // Directory entry of the element with this name (the test writer keeps directory sectors together).
  size_t Entry(const Bytes &image, const std::u16string &name) const {
    for (size_t e = Dir; e + 128 <= image.size(); e += 128) {
      std::u16string n;
      for (size_t k = 0; k < 32 && image[e + 2 * k]; ++k)
        n.push_back(static_cast<char16_t>(image[e + 2 * k] | image[e + 2 * k + 1] << 8));
      if (n == name)
        return e;
    }
    throw std::logic_error("no such entry");
  }
  uint32_t SectorSize;
  size_t Fat, Dir, MiniFat;
};

Bytes SampleImage(uint32_t sectorSize) {
  return CompoundFileBuilder(sectorSize)
      .AddStream(u"Workbook", Pattern(5000, 1))
      .AddStream(u"Small", Pattern(300, 2))
      .AddStream(u"Empty", {})
      .AddStorage(u"Macros")
      .Build();
}

class CompoundFileSectorSize : public ::testing::TestWithParam<uint32_t> {};

TEST_P(CompoundFileSectorSize, ListsAndReadsTopLevelElements) {
  const TCompoundFile file(SampleImage(GetParam()));
  ASSERT_EQ(file.Elements().size(), 4u);
  const int workbook = file.Find(u"WORKBOOK"), small = file.Find(u"small"), empty = file.Find(u"Empty"),
            macros = file.Find(u"Macros");
  ASSERT_GE(workbook, 0);
  ASSERT_GE(small, 0);
  ASSERT_GE(empty, 0);
  ASSERT_GE(macros, 0);
  EXPECT_EQ(file.Find(u"Workbook2"), -1);
  EXPECT_EQ(file.Elements()[workbook].Name, u"Workbook");
  EXPECT_EQ(file.Elements()[workbook].Size, 5000u);
  EXPECT_EQ(file.Elements()[macros].Kind, TStorageKind::Storage);
  EXPECT_EQ(file.Elements()[small].Kind, TStorageKind::Stream);

  EXPECT_EQ(file.ReadStream(workbook), Pattern(5000, 1)); // regular sectors
  EXPECT_EQ(file.ReadStream(u"Small"), Pattern(300, 2));  // mini stream
  EXPECT_TRUE(file.ReadStream(empty).empty());
  EXPECT_THROW(file.ReadStream(macros), common::Exception);
  EXPECT_THROW(file.ReadStream(-1), common::Exception);
  EXPECT_THROW(file.ReadStream(u"missing"), common::Exception);
}

TEST_P(CompoundFileSectorSize, StreamsAroundTheMiniStreamCutoffAndManySiblings) {
  CompoundFileBuilder builder(GetParam());
  builder.AddStream(u"Below", Pattern(4095, 3)).AddStream(u"At", Pattern(4096, 4));
  for (int i = 0; i < 40; ++i) {
    char16_t name[] = {u'S', static_cast<char16_t>(u'a' + i % 26), static_cast<char16_t>(u'0' + i / 26), 0};
    builder.AddStream(name, Pattern(10 + i * 70, static_cast<uint8_t>(i)));
  }
  const TCompoundFile file(builder.Build());
  ASSERT_EQ(file.Elements().size(), 42u);
  EXPECT_EQ(file.ReadStream(u"Below"), Pattern(4095, 3));
  EXPECT_EQ(file.ReadStream(u"At"), Pattern(4096, 4));
  EXPECT_EQ(file.ReadStream(u"sZ0"), Pattern(10 + 25 * 70, 25));
  EXPECT_EQ(file.ReadStream(u"sn1"), Pattern(10 + 39 * 70, 39));
}

INSTANTIATE_TEST_SUITE_P(Both, CompoundFileSectorSize, ::testing::Values(512u, 4096u));

// Over 109 FAT sectors the FAT sector list continues in DIFAT sectors.
const Bytes &DifatImage() {
  static const Bytes image = CompoundFileBuilder(512).AddStream(u"Workbook", Pattern(7'300'000, 5)).Build();
  return image;
}

TEST(CompoundFile, ReadsFatSectorsListedInTheDifat) {
  ASSERT_GT(Get32(DifatImage(), 44), 109u);
  ASSERT_NE(Get32(DifatImage(), 68), 0xFFFFFFFEu);
  const TCompoundFile file{Bytes(DifatImage())};
  EXPECT_EQ(file.ReadStream(u"Workbook"), Pattern(7'300'000, 5));
}

TEST(CompoundFile, SignatureTestOnFiles) {
  const std::string good = xls_test::TempPath("cf_good.bin"), text = xls_test::TempPath("cf_text.bin");
  xls_test::WriteFile(good, SampleImage(512));
  xls_test::WriteFile(text, Bytes{'h', 'e', 'l', 'l', 'o'});
  EXPECT_TRUE(TCompoundFile::IsCompoundFile(good));
  EXPECT_FALSE(TCompoundFile::IsCompoundFile(text));
  EXPECT_FALSE(TCompoundFile::IsCompoundFile(xls_test::TempPath("cf_missing.bin")));
  EXPECT_EQ(TCompoundFile::FromFile(good).ReadStream(u"Small"), Pattern(300, 2));
  EXPECT_THROW(TCompoundFile::FromFile(xls_test::TempPath("cf_missing.bin")), common::Exception);
  std::remove(good.c_str());
  std::remove(text.c_str());
}

void ExpectDamaged(const Bytes &image, const std::u16string &stream, const char *what) {
  EXPECT_THROW(
      {
        const TCompoundFile file{Bytes(image)};
        file.ReadStream(stream);
      },
      common::Exception)
      << what;
}

TEST(CompoundFile, DamagedFilesRaiseClearErrors) {
  const Bytes sample = SampleImage(512);
  const Layout at(sample);
  const size_t workbook = at.Entry(sample, u"Workbook"), small = at.Entry(sample, u"Small");
  const uint32_t start = Get32(sample, workbook + 116), smallStart = Get32(sample, small + 116);
  auto damaged = [&](std::function<void(Bytes &)> change) {
    Bytes b = sample;
    change(b);
    return b;
  };

  ExpectDamaged({}, u"Workbook", "zero-length file");
  ExpectDamaged(Bytes(sample.begin(), sample.begin() + 4), u"Workbook", "4-byte file");
  ExpectDamaged(Bytes(sample.begin(), sample.begin() + 300), u"Workbook", "truncated header");
  ExpectDamaged(Bytes(sample.begin(), sample.begin() + 2000), u"Workbook", "file cut inside the stream");
  ExpectDamaged(damaged([](Bytes &b) { b[28] = 0; }), u"Workbook", "byte order mark");
  ExpectDamaged(damaged([](Bytes &b) { b[30] = 10; }), u"Workbook", "sector size");
  ExpectDamaged(damaged([](Bytes &b) { Put32(b, 44, 1'000'000); }), u"Workbook", "FAT sector count");
  ExpectDamaged(damaged([](Bytes &b) { Put32(b, 76, 0x00FFFFFF); }), u"Workbook", "FAT sector id");
  ExpectDamaged(damaged([](Bytes &b) { Put32(b, 48, 0x00FFFFFF); }), u"Workbook", "directory sector id");
  ExpectDamaged(damaged([&](Bytes &b) { Put32(b, at.Fat + 4 * start, start); }), u"Workbook",
                "FAT chain loops");
  ExpectDamaged(damaged([&](Bytes &b) { Put32(b, at.Fat + 4 * start, 0x00ABCDEF); }), u"Workbook",
                "FAT chain leaves the file");
  ExpectDamaged(damaged([&](Bytes &b) { Put32(b, at.Fat + 4 * start, 0xFFFFFFFF); }), u"Workbook",
                "free sector inside a chain");
  ExpectDamaged(damaged([&](Bytes &b) { Put32(b, workbook + 120, 0x7FFFFFF0); }), u"Workbook",
                "stream size beyond the file");
  ExpectDamaged(damaged([&](Bytes &b) { Put32(b, workbook + 120, 5000 + 512 * 3); }), u"Workbook",
                "stream larger than its chain");
  ExpectDamaged(damaged([&](Bytes &b) { Put32(b, workbook + 116, 0x0FFFFFFF); }), u"Workbook",
                "start sector out of range");
  ExpectDamaged(damaged([&](Bytes &b) { Put32(b, workbook + 68, (workbook - at.Dir) / 128); }), u"Workbook",
                "directory tree loops");
  ExpectDamaged(damaged([&](Bytes &b) { Put32(b, workbook + 72, 5000); }), u"Workbook",
                "directory link out of range");
  ExpectDamaged(damaged([&](Bytes &b) { b[at.Dir + 66] = 1; }), u"Workbook", "no root entry");
  ExpectDamaged(damaged([&](Bytes &b) { Put32(b, at.Dir + 120, 0x7FFFFFF0); }), u"Small",
                "mini stream larger than the file");
  ExpectDamaged(damaged([&](Bytes &b) { Put32(b, at.MiniFat + 4 * smallStart, smallStart); }), u"Small",
                "mini FAT chain loops");
  ExpectDamaged(damaged([&](Bytes &b) { Put32(b, small + 116, 5000); }), u"Small",
                "mini sector out of range");
  ExpectDamaged(damaged([&](Bytes &b) { Put32(b, small + 120, 3000); }), u"Small",
                "stream larger than the mini stream");

  // A broken mini stream does not stop the reading of large streams.
  const TCompoundFile file(damaged([&](Bytes &b) { Put32(b, at.Dir + 120, 0x7FFFFFF0); }));
  EXPECT_EQ(file.ReadStream(u"Workbook"), Pattern(5000, 1));
}

TEST(CompoundFile, DifatChainThatLoopsRaises) {
  Bytes image = DifatImage();
  const uint32_t difat = Get32(image, 68);
  Put32(image, (size_t(difat) + 2) * 512 - 4, difat); // the DIFAT sector names itself as next
  Put32(image, 44, Get32(image, 44) + 500);           // and more FAT sectors are claimed
  ExpectDamaged(image, u"Workbook", "DIFAT loop");
}

// Every single damaged byte either still reads or raises common::Exception; the sanitizers catch
// any read out of bounds.
TEST(CompoundFile, SingleByteDamageNeverReadsOutOfBounds) {
  for (uint32_t sectorSize : {512u, 4096u}) {
    const Bytes sample = SampleImage(sectorSize);
    const size_t step = sectorSize == 512 ? 2 : 61;
    for (size_t pos = 0; pos < sample.size(); pos += step) {
      for (uint8_t value : {uint8_t(0xFF), uint8_t(sample[pos] ^ 0x01)}) {
        Bytes image = sample;
        image[pos] = value;
        try {
          const TCompoundFile file(std::move(image));
          for (size_t i = 0; i < file.Elements().size(); ++i) {
            try {
              file.ReadStream(static_cast<int>(i));
            } catch (const common::Exception &) {
            }
          }
        } catch (const common::Exception &) {
        }
      }
    }
  }
}

} // namespace
