#include <gtest/gtest.h>

#include "xls/record_storage.h"
#include "xls_test_writer.h"

using xls_test::ExceptionText;

using namespace xls;

namespace {

std::vector<uint16_t> MainIds(const TRecordStorageDefault &s) {
  std::vector<uint16_t> ids;
  for (int i = 0; i < s.Count(); ++i)
    ids.push_back(s.Items(i).Id);
  return ids;
}

} // namespace

TEST(RecordStorage, PutDefaultMovesEarlierDefaultsInCanonicalOrder) {
  TRecordStorageSheet s;
  const int defaults = s.DefaultCount();
  EXPECT_EQ(s.Count(), 0);
  s.AddRaw(0x1234, nullptr, 0);
  const uint8_t mode[2] = {0xFF, 0xFF};
  s.PutDefault(0x000D, mode, 2); // CALCMODE, second in the list
  EXPECT_EQ(MainIds(s), (std::vector<uint16_t>{0x1234, 0x0809, 0x000D}));
  EXPECT_EQ(s.DefaultCount(), defaults - 2);
  EXPECT_EQ(s.CalcMode(), -1);

  // Already in the main list: overwritten in place when the length matches.
  const uint8_t manual[2] = {0, 0};
  s.PutDefault(0x000D, manual, 2);
  EXPECT_EQ(s.CalcMode(), 0);
  EXPECT_EQ(s.Count(), 3);
  EXPECT_EQ(ExceptionText([&] { s.PutDefault(0x000D, manual, 1); }), "Size missmatch on default record");

  // Markers move like defaults; one already placed stays where it is.
  s.PutMarker(0x8101);
  const int count = s.Count();
  s.PutMarker(0x8101);
  s.PutMarker(0x8102);
  EXPECT_EQ(s.Items(count - 1).Id, 0x8101);
  EXPECT_EQ(s.Items(s.Count() - 1).Id, 0x8102);
}

TEST(RecordStorage, RefusesIdsOutsideItsLists) {
  TRecordStorageSheet sheet;
  TRecordStorageGlobals globals;
  const uint8_t b[2] = {0, 0};
  EXPECT_EQ(ExceptionText([&] { sheet.PutDefault(0x0000, b, 0); }), "[int] Unknown default record 0000");
  EXPECT_EQ(ExceptionText([&] { sheet.PutDefault(0x0019, b, 2); }), "[int] Unknown default record 0019");
  EXPECT_EQ(ExceptionText([&] { sheet.PutMarker(0x8001); }), "[int] Unknown int. default record 8001");
  EXPECT_EQ(ExceptionText([&] { globals.PutMarker(0x8106); }), "[int] Unknown int. default record 8106");
  // A default the canonical order has already passed by is no longer expected.
  globals.PutDefault(0x000A, nullptr, 0); // EOF moves every default
  EXPECT_EQ(globals.DefaultCount(), 0);
  // Any BOF id is taken as the BOF slot.
  uint8_t bof[16] = {};
  globals.PutDefault(0x0409, bof, 16);
  EXPECT_EQ(globals.Items(0).Id, 0x0809);
  EXPECT_TRUE(globals.AcceptsDefault(0x0209));
  EXPECT_FALSE(globals.AcceptsDefault(0x8001));
}

TEST(RecordStorage, ExpectedDefaultMissingIsReported) {
  // After PutMarker of the last marker, a marker before it that was moved stays; but a default
  // moved out by Clear (no ResetToDefaults) cannot be found.
  TRecordStorageGlobals g;
  g.Clear();
  const uint8_t b[2] = {0, 0};
  EXPECT_EQ(ExceptionText([&] { g.PutDefault(0x0012, b, 2); }), "Excpected default record 0012 not found.");
}

TEST(RecordStorage, DefaultsHoldTheDocumentedBodies) {
  TRecordStorageSheet s;
  EXPECT_EQ(s.CalcMode(), 1);
  EXPECT_EQ(s.CalcCount(), 100);
  EXPECT_EQ(s.RefMode(), 1);
  EXPECT_EQ(s.Iteration(), 0);
  EXPECT_DOUBLE_EQ(s.Delta(), 0.001);
  EXPECT_EQ(s.SaveRecalc(), 1);
  EXPECT_EQ(s.FindSlot(0x023E)->Body.size(), 18u);
  EXPECT_EQ(s.FindSlot(0x0200)->Body.size(), 14u);
  TRecordStorageGlobals g;
  EXPECT_EQ(g.Window1(0), 100);
  EXPECT_EQ(g.Window1(2), 10000);
  EXPECT_EQ(g.Window1(3), 7000);
  EXPECT_EQ(g.Window1(4), 56);
  EXPECT_EQ(g.CodePage(), 1200);
  EXPECT_EQ(g.FindSlot(0x005C)->Body.size(), 112u);
  g.PutDefault(0x000A, nullptr, 0); // the last default: every other one comes before it
  EXPECT_EQ(g.DefaultCount(), 0);
  EXPECT_EQ(g.Items(g.Count() - 1).Id, 0x000A);
}
