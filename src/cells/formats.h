#pragma once

// The workbook's fonts, cell formats (XF records) and number formats: the minimal lists that the
// record reader fills and that shared strings and cells refer to.

#include <cstdint>
#include <map>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "common/exception.h"

namespace xls {

// One FONT record. UseCount counts the references held by formatting runs of shared strings and
// by cell formats; it only matters for fonts above the list's fixed part.
struct TXLSFont {
  std::u16string Name = u"Arial";
  uint16_t Size20 = 200; // height in twentieths of a point
  uint16_t ColorIndex = 0;
  bool Bold = false;
  bool Italic = false;
  bool StrikeOut = false;
  uint8_t Underline = 0;
  uint8_t Family = 0;
  uint8_t CharSet = 0;
  int UseCount = 0;
};

// A list of objects that never move, so references stay valid while they are in the list.
template <class T> class TItemList {
public:
  int Count() const { return static_cast<int>(FItems.size()); }
  // Raises the list-index error outside 0..Count-1.
  T &Items(int index) const { return common::CheckedItem(FItems, index); }
  T &Add() { return *FItems.emplace_back(std::make_unique<T>()); }
  void AddDefaults(int count) {
    for (int i = 0; i < count; ++i)
      Add();
  }
  void Clear() { FItems.clear(); }

protected:
  std::vector<std::unique_ptr<T>> FItems;
};

// The workbook's font list. Its first SetFixedCount fonts (normally those read from the file) are
// its fixed part, never removed by use-count release; fonts above it disappear when their last
// user lets go.
class TXLSFonts : public TItemList<TXLSFont> {
public:
  void Clear() {
    TItemList::Clear();
    FFixedCount = 0;
  }
  void SetFixedCount(int count) { FFixedCount = count; }
  // Lowers the use count of a font above the fixed part, removing it when the count falls below 1.
  void ReleaseFont(TXLSFont *font);

private:
  int FFixedCount = 0;
};

// One XF record. The reader decodes what it needs; the raw body is kept for the writer.
struct TCellFormat {
  uint16_t FontIndex = 0;
  uint16_t NumberFormatIndex = 0;
  uint16_t Options = 0; // the XF type and protection word
  std::vector<uint8_t> Raw;
};

// The workbook's cell formats. Cells and rows keep the index of their format, which stays valid
// because formats are only appended while reading and the whole list is cleared at once.
class TCellFormats : public TItemList<TCellFormat> {
public:
  // The format index a new cell or row gets for XF: XF itself when the list holds it, else 15,
  // so that the cells of files with fewer than 16 formats (BIFF2 to BIFF4 ones above all) still
  // read. Inline: every cell read asks it.
  uint16_t ResolveXF(uint16_t XF) const { return XF < Count() ? XF : 15; }
};

// Number formats by their FORMAT index. Indexes 0 to 49 are the built-in list; the reserved
// slots 23 to 36 (locale-dependent, always declared by files that use them) read "General".
class TNumberFormats {
public:
  TNumberFormats() { Reset(); }
  // Back to the 50 built-in formats.
  void Reset();
  // Registers (or replaces) the format string for an index.
  void Add(uint16_t index, std::u16string formatString) { FItems[index] = std::move(formatString); }
  // The format string for an index, or nullptr when none is registered.
  const std::u16string *Find(uint16_t index) const;
  int Count() const { return static_cast<int>(FItems.size()); }

private:
  std::map<uint16_t, std::u16string> FItems;
};

} // namespace xls
