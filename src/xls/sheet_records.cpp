// The cell records of a sheet substream: values, formulas and the records that follow them.

#include <algorithm>
#include <cstring>

#include "common/bytes.h"
#include "common/exception.h"
#include "xls/periphery.h"
#include "xls/workbook.h"
#include "xls/xls_reader.h"

namespace xls {

double RKValue(uint32_t Value) {
  double d;
  if (Value & 0x02) {
    const int32_t i = static_cast<int32_t>(Value & 0xFFFFFFFCu);
    // Dividing the unshifted value once keeps the result as exact as one rounding allows.
    d = (Value & 0x01) ? i / 400.0 : static_cast<double>(i >> 2);
  } else {
    const uint64_t bits = static_cast<uint64_t>(Value & 0xFFFFFFFCu) << 32;
    std::memcpy(&d, &bits, 8);
    if (Value & 0x01)
      d /= 100.0;
  }
  return d;
}

namespace {

// A FORMULA whose cached result is text, a boolean or an error rather than a number.
bool SpecialResult(const TRecordBody &b) { return b.U8(6) < 4 && b.U8(12) == 0xFF && b.U8(13) == 0xFF; }

// The length of a later cell record's fields.
int CellLength(uint16_t id) {
  switch (id) {
  case 0x0203: return 14;
  case 0x007E:
  case 0x027E: return 10;
  case 0x0205: return 8;
  default: return 6; // BLANK, MULBLANK, MULRK
  }
}

} // namespace

void TXLSReader::ContinuedText(std::u16string &text, const TRecordBody &body, int offset, int cch,
                               bool wide) {
  const bool biff8 = FWorkbook.Version() == xvExcel97;
  text.clear();
  const uint8_t *p = body.Data() + std::min(offset, body.Length());
  int left = std::max(0, body.Length() - offset);
  TRawRecord more; // the CONTINUE record being read
  for (;;) {
    const int want = cch - static_cast<int>(text.size());
    const int n = std::min(want, wide ? left / 2 : left);
    if (wide)
      text += common::Utf16Text(p, size_t(n));
    else if (biff8)
      text.append(p, p + n); // each byte is the code unit
    else
      AppendDecoded8(text, p, n);
    if (n == want)
      return;
    // Writers split long texts over CONTINUE records; BIFF8 starts each piece with an option byte.
    if (!ReadFollowingRecord(FStream, {BIFF_CONTINUE}, FWorkbook.MaxRecordSize(), more) || more.Id == 0 ||
        (biff8 && more.Body.empty()))
      body.Need(offset, wide ? 2 * cch : cch);
    if (biff8)
      wide = (more.Body[0] & 1) != 0;
    p = more.Body.data() + (biff8 ? 1 : 0);
    left = static_cast<int>(more.Body.size()) - (biff8 ? 1 : 0);
  }
}

void TXLSReader::ReadCell() {
  const TRecordBody b = Body();
  // BIFF2 cells have three attribute bytes where later records have the XF index, so their value
  // starts a byte later; they are checked field by field, later records as a whole first.
  const bool biff2 = RecordId <= 0x0005;
  if (!biff2)
    b.Need(0, CellLength(RecordId));
  const int row = b.U16(0), col = b.U16(2);
  const uint16_t xf = biff2 ? 15 : b.U16(4);
  const int at = biff2 ? 7 : 6;
  TSheet &sheet = CurrentSheet();
  switch (RecordId) {
  case 0x0001:
  case 0x0201: sheet.StoreBlank(col, row, xf); break;
  case 0x0002: sheet.StoreFloat(col, row, b.U16(at), xf); break;
  case 0x0003:
  case 0x0203: sheet.StoreFloat(col, row, b.F64(at), xf); break;
  case 0x007E:
  case 0x027E: sheet.StoreFloat(col, row, RKValue(b.U32(at)), xf); break;
  case 0x0004: {
    const int cch = b.U8(at);
    const uint8_t *chars = b.Bytes(at + 1, cch);
    if (Latin1Bytes(chars, cch))
      StoreBytes(col, row, chars, cch, xf);
    else
      sheet.StoreString(col, row, Decode8(chars, cch), xf);
    break;
  }
  case 0x0005:
  case 0x0205:
    if (b.U8(at + 1) == 0)
      sheet.StoreBoolean(col, row, b.U8(at), xf);
    else
      sheet.StoreError(col, row, ErrorIndexOf(b.U8(at)), xf);
    break;
  case 0x00BE:
    for (int i = 0; i < (RecordLength - 6) / 2; ++i)
      sheet.StoreBlank(col + i, row, b.U16(4 + 2 * i));
    break;
  default: // MULRK
    for (int i = 0; i < (RecordLength - 6) / 6; ++i)
      sheet.StoreFloat(col + i, row, RKValue(b.U32(6 + 6 * i)), b.U16(4 + 6 * i));
    break;
  }
}

// LABEL and RSTRING (whose runs, after the text, are not kept).
void TXLSReader::ReadLabel() {
  const TRecordBody b = Body();
  b.Need(0, 8);
  const int cch = b.U16(6);
  const bool biff8 = FWorkbook.Version() == xvExcel97;
  const int at = biff8 ? 9 : 8;
  if (at + cch <= RecordLength && (biff8 ? (b.U8(8) & 1) == 0 : Latin1Bytes(b.Data() + at, cch))) {
    StoreBytes(b.U16(2), b.U16(0), b.Data() + at, cch, b.U16(4));
    return;
  }
  TSheet &sheet = CurrentSheet();
  // An empty text needs no option byte; some writers leave it out.
  ContinuedText(FLabelText, b, at, cch, biff8 && cch > 0 && (b.U8(8) & 1) != 0);
  sheet.StoreString(b.U16(2), b.U16(0), FLabelText, b.U16(4));
}

bool TXLSReader::Latin1Bytes(const uint8_t *bytes, int count) const {
  const std::u16string &table = DecodeTable();
  return table.size() == 256 &&
         std::all_of(bytes, bytes + count, [&table](uint8_t b) { return table[b] == b; });
}

void TXLSReader::StoreBytes(int Col, int Row, const uint8_t *Chars, int Count, uint16_t XF) {
  TSheet &sheet = CurrentSheet();
  const TSheet::TStringPlace place = sheet.PlaceString(Col, Row, XF);
  sheet.PutString(place, FWorkbook.Sheets().SST().AddText(Chars, size_t(Count)));
}

void TXLSReader::ReadLabelSST() {
  try {
    const TRecordBody b = Body();
    CurrentSheet().StoreSSTString(b.U16(2), b.U16(0), static_cast<int>(b.U32(6)), b.U16(4));
  } catch (const std::exception &) {
    throw common::Exception(common::Format("Read error at %.8u", FStream.Position()));
  }
}

void TXLSReader::ReadSharedFormula() {
  // The whole body is read, so whatever follows the expression (array constants) does not end
  // up being taken for the next record header.
  TRawRecord shared;
  if (!ReadFollowingRecord(FStream, {0x00BC, 0x04BC}, FWorkbook.MaxRecordSize(), shared) || shared.Id == 0)
    return;
  const TRecordBody b = shared.View();
  const int cce = b.U16(8);
  const uint8_t *expr = b.Bytes(10, cce);
  // The first SHRFMLA of an anchor is the one its formulas use.
  SharedFormulas.try_emplace(SharedKey(b.U16(0), b.U8(4)), expr, expr + cce);
}

void TXLSReader::ReadFormula() {
  const TRecordBody b = Body();
  b.Need(0, 22);
  const int row = b.U16(0), col = b.U16(2);
  const uint16_t xf = b.U16(4);
  const uint16_t options = b.U16(14);
  uint32_t cce = b.U16(20);
  uint32_t stored = RecordLength - 22;
  const uint8_t *expr = RecordData.data() + 22;
  TSheet &sheet = CurrentSheet();
  int member = -1; // 0 for the formula that starts an array, 1 for one inside the current array
  if ((options & 0x0008) && stored >= 1 && expr[0] == 0x01) {
    ReadSharedFormula(); // when one follows
    const int anchorRow = b.U16(23);
    const int anchorCol = b.Has(25, 2) ? b.U16(25) : b.U8(25);
    if (auto it = SharedFormulas.find(SharedKey(anchorRow, anchorCol)); it != SharedFormulas.end()) {
      // The shared expression stands in for the reference; moving its relative references to
      // this cell is left to formula decoding, which cached values do not need.
      expr = it->second.data();
      cce = static_cast<uint32_t>(it->second.size());
      stored = cce;
    } else {
      // Without a SHRFMLA the record's own expression stays, never longer than the record.
      stored = std::min(cce, stored);
    }
  } else if (stored >= 1 && expr[0] == 0x01) {
    TRawRecord array;
    if (ReadFollowingRecord(FStream, {0x0221}, FWorkbook.MaxRecordSize(), array)) {
      if (array.Id != 0) {
        CurrentArray = std::move(array.Body);
        member = 0;
      }
    } else if (CurrentArray.size() >= 6) {
      const TRecordBody a(0x0221, CurrentArray.data(), static_cast<int>(CurrentArray.size()));
      if (row >= a.U16(0) && row <= a.U16(2) && col >= a.U8(4) && col <= a.U8(5))
        member = 1;
    }
    if (member < 0)
      CurrentArray.clear();
  }
  // Text, boolean and error results are kept as for any formula; only numbers go with the array.
  if (SpecialResult(b))
    StoreSpecialFormula(col, row, b.U8(6), b.U8(8), xf, cce, stored, expr);
  else if (member >= 0)
    sheet.StoreArrayFormula(col, row, static_cast<uint8_t>(member),
                            static_cast<uint32_t>(CurrentArray.size()), CurrentArray.data(), b.U32(6),
                            b.U32(10), cce, stored, expr, xf);
  else if (cce != 0)
    sheet.StoreNumberFormula(col, row, b.U32(6), b.U32(10), cce, stored, expr, xf);
}

// FORMULA before BIFF5. BIFF2's has attribute bytes where later ones have the XF index, so its
// result starts a byte later, and a one-byte expression length.
void TXLSReader::ReadOldFormula() {
  const bool biff2 = RecordId == 0x0006;
  const int at = biff2 ? 7 : 6; // the result
  const int exprAt = biff2 ? 17 : 18;
  const TRecordBody b = Body();
  b.Need(0, exprAt);
  const int row = b.U16(0), col = b.U16(2);
  const uint32_t cce = biff2 ? b.U8(16) : b.U16(16);
  const uint32_t stored = RecordLength - exprAt;
  const uint8_t *expr = RecordData.data() + exprAt;
  const bool special = b.U8(at + 6) == 0xFF && b.U8(at + 7) == 0xFF;
  if (biff2 && special) {
    StoreSpecialFormula(col, row, b.U8(at), b.U8(at + 2), 0xFFFF, cce, stored, expr);
    return;
  }
  const uint16_t xf = biff2 ? 15 : b.U16(4);
  CurrentSheet().StoreNumberFormula(col, row, b.U32(at), b.U32(at + 4), cce, stored, expr, xf);
  // BIFF3 and 4 keep the number too; never more expression bytes than the record holds.
  if (special)
    StoreSpecialFormula(col, row, b.U8(at), b.U8(at + 2), xf, cce, std::min(cce, stored), expr);
}

void TXLSReader::StoreSpecialFormula(int Col, int Row, uint8_t Type, uint8_t Value, uint16_t XF, uint32_t Cce,
                                     uint32_t StoredLen, const uint8_t *Expr) {
  // The expression may live in RecordData, which reading the STRING record must not disturb.
  const std::vector<uint8_t> exprCopy(Expr, Expr + StoredLen);
  TSheet &sheet = CurrentSheet();
  switch (Type) {
  case 0: {
    const uint16_t next = FStream.PeekRecordId();
    if (next == 0x00BC || next == 0x04BC)
      throw common::Exception("Unxepected SHRFMLA");
    TRawRecord rec;
    // A data-table formula has its TABLE record before the STRING; the TABLE is kept as it is.
    if (next == 0x0236) {
      if (!ReadFollowingRecord(FStream, {next}, FWorkbook.MaxRecordSize(), rec) || rec.Id == 0)
        return;
      CurrentStorage->AddRaw(rec.Id, rec.Body.data(), static_cast<int>(rec.Body.size()));
    }
    if (!ReadFollowingRecord(FStream, {0x0207, 0x0007}, FWorkbook.MaxRecordSize(), rec) || rec.Id == 0)
      return;
    const TRecordBody s = rec.View();
    std::u16string text;
    if (rec.Id == 0x0007) {
      const int cch = s.U8(0);
      text = Decode8(s.Bytes(1, cch), cch);
    } else if (FWorkbook.Version() == xvExcel97) {
      ContinuedText(text, s, 3, s.U16(0), (s.U8(2) & 1) != 0);
    } else {
      // Before BIFF8 the characters follow the count directly, in the workbook's code page.
      ContinuedText(text, s, 2, s.U16(0), false);
    }
    sheet.StoreStringFormula(Col, Row, text, Cce, StoredLen, exprCopy.data(), XF);
    break;
  }
  case 1: sheet.StoreBooleanFormula(Col, Row, Value, Cce, StoredLen, exprCopy.data(), XF); break;
  case 2: sheet.StoreErrorFormula(Col, Row, Value, Cce, StoredLen, exprCopy.data(), XF); break;
  case 3: sheet.StoreStringFormula(Col, Row, u"", Cce, StoredLen, exprCopy.data(), XF); break;
  default: break;
  }
}

void TXLSReader::ReadDimensions() {
  const TExcelVersion version = FWorkbook.Version();
  // Some writers leave empty records of id 0 in BIFF8 streams too; they are no DIMENSIONS.
  if (RecordId == 0x0000 && version >= xvExcel50)
    return;
  if (version == xvExcel97) {
    // Its slot holds the 14 bytes of the BIFF8 layout; a writer's longer or shorter body fits it.
    std::fill(RecordData.begin() + std::min<int>(RecordLength, 14), RecordData.begin() + 14, 0);
  } else if (version == xvExcel50) {
    // Kept in the BIFF8 layout: 32-bit rows, then the columns and the reserved word.
    const TRecordBody b = Body();
    const uint16_t fields[4] = {b.U16(0), b.U16(2), b.U16(4), b.U16(6)};
    const int at[4] = {0, 4, 8, 10};
    std::fill(RecordData.begin(), RecordData.begin() + 14, 0);
    for (int i = 0; i < 4; ++i) {
      RecordData[at[i]] = static_cast<uint8_t>(fields[i]);
      RecordData[at[i] + 1] = static_cast<uint8_t>(fields[i] >> 8);
    }
  } else {
    return;
  }
  RecordLength = 14;
  PutDefault();
}

void TXLSReader::ReadWindow2() {
  const TExcelVersion version = FWorkbook.Version();
  if (version < xvExcel97) {
    // Into the 18 bytes of the BIFF8 layout; the fields from byte 10 on are BIFF8 only.
    std::fill(RecordData.begin() + std::min<int>(RecordLength, 10), RecordData.begin() + 18, 0);
    RecordLength = 18;
  }
  if (version > xvExcel40)
    PutDefault();
}

} // namespace xls
