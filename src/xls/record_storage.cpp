#include "xls/record_storage.h"

#include <algorithm>
#include <cstring>
#include <iterator>

#include "common/bytes.h"
#include "common/exception.h"

namespace xls {

using common::Get16;

namespace {

using Body = std::vector<uint8_t>;

Body U16s(std::initializer_list<uint16_t> values) {
  Body b;
  for (uint16_t v : values) {
    b.push_back(static_cast<uint8_t>(v));
    b.push_back(static_cast<uint8_t>(v >> 8));
  }
  return b;
}

// Version, type, build, year, then the two 32-bit history and lowest-version fields.
Body Bof(uint16_t type) { return U16s({0x0600, type, 0x18AF, 0x07CD, 0x80C9, 0, 0x0106, 0}); }

Body DeltaBody() {
  Body b(8);
  double d = 0.001;
  std::memcpy(b.data(), &d, 8);
  return b;
}

// An empty user name in the BIFF8 string layout, padded with blanks as the format pads it.
Body WriteAccessBody() {
  Body b(112, 0x20);
  b[0] = b[1] = b[2] = 0;
  return b;
}

uint16_t U16At(const TRawRecord *r, size_t at, uint16_t fallback) {
  return r != nullptr && at + 2 <= r->Body.size() ? Get16(r->Body.data() + at) : fallback;
}

int16_t ReadI16(const TRawRecord *r, int16_t fallback) {
  return static_cast<int16_t>(U16At(r, 0, static_cast<uint16_t>(fallback)));
}

} // namespace

void TBaseRecordStorage::AddRaw(uint16_t id, const uint8_t *body, int length) {
  TRawRecord &rec = *FRecords.emplace_back(std::make_unique<TRawRecord>());
  rec.Id = id;
  if (length > 0)
    rec.Body.assign(body, body + length);
}

void TRecordStorageDefault::Clear() {
  TBaseRecordStorage::Clear();
  FDefaultRecords.clear();
  FSlots.clear();
}

void TRecordStorageDefault::ResetToDefaults() {
  Clear();
  for (const TRawRecord &d : DefaultList()) {
    FDefaultRecords.push_back(std::make_unique<TRawRecord>(d));
    FSlots.push_back(FDefaultRecords.back().get());
  }
}

const TRawRecord *TRecordStorageDefault::FindSlot(uint16_t id) const {
  const auto it =
      std::find_if(FSlots.begin(), FSlots.end(), [id](const TRawRecord *r) { return r->Id == id; });
  return it == FSlots.end() ? nullptr : *it;
}

bool TRecordStorageDefault::AcceptsDefault(uint16_t id) const {
  if ((id & 0xFF) == 0x09)
    return true;
  const std::vector<TRawRecord> &list = DefaultList();
  return !IsMarker(id) &&
         std::any_of(list.begin(), list.end(), [id](const TRawRecord &d) { return d.Id == id; });
}

TRawRecord *TRecordStorageDefault::FindMain(uint16_t id) const {
  // Slot records in the main list are those no longer waiting among the defaults.
  const TRawRecord *r = FindSlot(id);
  const bool waiting = std::any_of(FDefaultRecords.begin(), FDefaultRecords.end(),
                                   [r](const std::unique_ptr<TRawRecord> &d) { return d.get() == r; });
  return waiting ? nullptr : const_cast<TRawRecord *>(r);
}

TRawRecord *TRecordStorageDefault::MoveDefaultsUpTo(uint16_t id, bool marker) {
  const auto it = std::find_if(FDefaultRecords.begin(), FDefaultRecords.end(),
                               [id](const std::unique_ptr<TRawRecord> &d) { return d->Id == id; });
  if (it == FDefaultRecords.end()) {
    if (marker)
      throw common::Exception(common::Format("[int] Unknown int. default record %.4X", id));
    throw common::Exception(common::Format("Excpected default record %.4X not found.", id));
  }
  TRawRecord *target = it->get();
  std::move(FDefaultRecords.begin(), it + 1, std::back_inserter(FRecords));
  FDefaultRecords.erase(FDefaultRecords.begin(), it + 1);
  return target;
}

void TRecordStorageDefault::PutDefault(uint16_t id, const uint8_t *body, int length) {
  if (!AcceptsDefault(id))
    throw common::Exception(common::Format("[int] Unknown default record %.4X", id));
  const uint16_t slot = (id & 0xFF) == 0x09 ? 0x0809 : id; // every BOF has the one BOF slot
  TRawRecord *rec = FindMain(slot);
  if (rec == nullptr)
    rec = MoveDefaultsUpTo(slot, false);
  else if (static_cast<int>(rec->Body.size()) != length)
    throw common::Exception("Size missmatch on default record");
  rec->Body.assign(body, body + length);
}

void TRecordStorageDefault::PutMarker(uint16_t id) {
  if (!IsMarker(id))
    throw common::Exception(common::Format("[int] Unknown int. default record %.4X", id));
  if (FindMain(id) == nullptr)
    MoveDefaultsUpTo(id, true);
}

const std::vector<TRawRecord> &TRecordStorageGlobals::DefaultList() const {
  static const std::vector<TRawRecord> list = {
      {0x0809, Bof(0x0005)},
      {0x005C, WriteAccessBody()},
      {0x0042, U16s({1200})},
      {0x0161, U16s({0})},
      {0x013D, {}},
      {0x009C, U16s({14})},
      {0x0019, U16s({0})},
      {0x0012, U16s({0})},
      {0x0013, U16s({0})},
      {0x01AF, U16s({0})},
      {0x003D, U16s({100, 100, 10000, 7000, 56, 0, 0, 1, 600})},
      {0x0040, U16s({0})},
      {0x008D, U16s({0})},
      {0x0022, U16s({0})},
      {0x000E, U16s({1})},
      {0x01B7, U16s({0})},
      {0x00DA, U16s({0})},
      {0x8001, {}},
      {0x8002, {}},
      {0x008C, U16s({1, 46})},
      {0x01C1, U16s({0x01C1, 0, 0, 0})},
      {0x8003, {}},
      {0x8004, {}},
      {0x8005, {}},
      {0x000A, {}},
  };
  return list;
}

int16_t TRecordStorageGlobals::CodePage() const { return ReadI16(FindSlot(0x0042), 1200); }
bool TRecordStorageGlobals::Date1904() const { return ReadI16(FindSlot(0x0022), 0) == 1; }
bool TRecordStorageGlobals::BookProtected() const { return ReadI16(FindSlot(0x0012), 0) == 1; }
bool TRecordStorageGlobals::Backup() const { return ReadI16(FindSlot(0x0040), 0) == 1; }
bool TRecordStorageGlobals::RefreshAll() const { return ReadI16(FindSlot(0x01B7), 0) == 1; }

uint16_t TRecordStorageGlobals::Window1(int field) const {
  return field < 0 ? 0 : U16At(FindSlot(0x003D), static_cast<size_t>(field) * 2, 0);
}

std::u16string TRecordStorageGlobals::UserName() const {
  const TRawRecord *r = FindSlot(0x005C);
  if (r == nullptr || r->Body.size() < 3)
    return {};
  const bool wide = (r->Body[2] & 1) != 0;
  // As many characters as the body holds.
  const size_t cch = std::min<size_t>(Get16(r->Body.data()), (r->Body.size() - 3) / (wide ? 2 : 1));
  const uint8_t *p = r->Body.data() + 3;
  return wide ? common::Utf16Text(p, cch) : std::u16string(p, p + cch);
}

const std::vector<TRawRecord> &TRecordStorageSheet::DefaultList() const {
  static const std::vector<TRawRecord> list = {
      {0x0809, Bof(0x0010)},
      {0x000D, U16s({1})},
      {0x000C, U16s({100})},
      {0x000F, U16s({1})},
      {0x0011, U16s({0})},
      {0x0010, DeltaBody()},
      {0x005F, U16s({1})},
      {0x002B, U16s({0})},
      {0x002A, U16s({0})},
      {0x0082, U16s({1})},
      {0x0080, U16s({0, 0, 0, 0})},
      {0x0225, U16s({0, 255})},
      {0x0081, U16s({0x04C1})},
      {0x8101, {}},
      {0x8102, {}},
      {0x8103, {}},
      {0x0083, U16s({0})},
      {0x0084, U16s({0})},
      {0x00A1, Body(34, 0)},
      {0x0012, U16s({0})},
      {0x0055, U16s({8})},
      {0x0200, Body(14, 0)},
      {0x8104, {}},
      {0x8105, {}},
      {0x023E, U16s({0x04B6, 0, 0, 64, 0, 0, 0, 0, 0})},
      {0x8106, {}},
      {0x001D, {3, 0, 0, 0, 0, 0, 0, 1, 0, 0, 0, 0, 0, 0, 0}}, // pane 3, active cell A1, one reference A1:A1
      {0x000A, {}},
  };
  return list;
}

int16_t TRecordStorageSheet::CalcMode() const { return ReadI16(FindSlot(0x000D), 1); }
uint16_t TRecordStorageSheet::CalcCount() const { return U16At(FindSlot(0x000C), 0, 100); }
int16_t TRecordStorageSheet::RefMode() const { return ReadI16(FindSlot(0x000F), 1); }
int16_t TRecordStorageSheet::Iteration() const { return ReadI16(FindSlot(0x0011), 0); }
int16_t TRecordStorageSheet::SaveRecalc() const { return ReadI16(FindSlot(0x005F), 1); }
double TRecordStorageSheet::Delta() const {
  const TRawRecord *r = FindSlot(0x0010);
  return r != nullptr && r->View().Has(0, 8) ? r->View().F64(0) : 0.001;
}

} // namespace xls
