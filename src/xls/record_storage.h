#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "xls/record_body.h"

namespace xls {

// One kept record: its id and body as read (the length is the body's size).
struct TRawRecord {
  uint16_t Id = 0;
  std::vector<uint8_t> Body;
  TRecordBody View() const { return TRecordBody(Id, Body.data(), static_cast<int>(Body.size())); }
};

// Records the reader does not understand, kept in file order so a writer can put them back.
class TBaseRecordStorage {
public:
  virtual ~TBaseRecordStorage() = default;

  void AddRaw(uint16_t id, const uint8_t *body, int length);
  int Count() const { return static_cast<int>(FRecords.size()); }
  const TRawRecord &Items(int index) const { return common::CheckedItem(FRecords, index); }
  virtual void Clear() { FRecords.clear(); }

protected:
  // Entries are individually allocated so typed accessors may keep pointers across moves.
  std::vector<std::unique_ptr<TRawRecord>> FRecords;
};

// Adds a fixed set of records kept in fixed slots: until the file supplies one, it waits in
// DefaultRecords with its default body; PutDefault moves it (and every default before it, in
// canonical order) into the main list.
class TRecordStorageDefault : public TBaseRecordStorage {
public:
  virtual void ResetToDefaults();
  virtual void AfterRead() {}
  virtual void PutDefault(uint16_t id, const uint8_t *body, int length);
  virtual void PutMarker(uint16_t id);
  void Clear() override;

  int DefaultCount() const { return static_cast<int>(FDefaultRecords.size()); }
  // The slot record with this id, wherever it currently is; never null for a listed id.
  const TRawRecord *FindSlot(uint16_t id) const;
  // Whether PutDefault takes this id (a slot of the default list, or any BOF).
  bool AcceptsDefault(uint16_t id) const;

protected:
  virtual const std::vector<TRawRecord> &DefaultList() const = 0;
  virtual bool IsMarker(uint16_t id) const = 0;

private:
  TRawRecord *FindMain(uint16_t id) const;
  TRawRecord *MoveDefaultsUpTo(uint16_t id, bool marker);

  std::vector<std::unique_ptr<TRawRecord>> FDefaultRecords;
  // Every slot record, main list or not, by id (the lists are short; a linear search is fine).
  std::vector<TRawRecord *> FSlots;
};

// Records of the workbook globals.
class TRecordStorageGlobals : public TRecordStorageDefault {
public:
  TRecordStorageGlobals() { ResetToDefaults(); }
  int16_t CodePage() const;
  bool Date1904() const;
  bool BookProtected() const;
  bool Backup() const;
  bool RefreshAll() const;
  // WINDOW1 16-bit fields by index: 0 left, 1 top, 2 width, 3 height, 4 options, 5 selected tab.
  uint16_t Window1(int field) const;
  // The user name of WRITEACCESS (BIFF8 string layout).
  std::u16string UserName() const;

protected:
  const std::vector<TRawRecord> &DefaultList() const override;
  bool IsMarker(uint16_t id) const override { return id >= 0x8001 && id <= 0x8005; }
};

// Records of one sheet substream.
class TRecordStorageSheet : public TRecordStorageDefault {
public:
  TRecordStorageSheet() { ResetToDefaults(); }
  int16_t CalcMode() const;
  uint16_t CalcCount() const;
  int16_t RefMode() const;
  int16_t Iteration() const;
  double Delta() const;
  int16_t SaveRecalc() const;

protected:
  const std::vector<TRawRecord> &DefaultList() const override;
  bool IsMarker(uint16_t id) const override { return id >= 0x8101 && id <= 0x8106; }
};

} // namespace xls
