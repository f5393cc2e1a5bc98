#include "xls/xls_reader.h"

#include <algorithm>
#include <cmath>

#include "common/bytes.h"
#include "common/exception.h"
#include "common/text.h"
#include "xls/periphery.h"
#include "xls/record_storage.h"
#include "xls/workbook.h"

namespace xls {

void TXLSReader::ReadRecords(std::vector<uint8_t> Source) {
  FStream.SetSourceStream(std::move(Source));
  FWorkbook.SetVersion(FStream.OpenWorkbook(FWorkbook.Filename));
  FWorkbook.HasMacros = FStream.HasVbaProject();
  RecordData.assign(static_cast<size_t>(FWorkbook.MaxRecordSize()), 0);
  CurrentStorage = &FWorkbook.GlobalsStorage();
  // BIFF2 files carry no XF records.
  if (FWorkbook.Version() <= xvExcel21)
    FWorkbook.CellFormats().AddDefaults(16);
  if (FWorkbook.OnProgress)
    FWorkbook.OnProgress(0);
  ReadLoop();
  if (FWorkbook.OnProgress)
    FWorkbook.OnProgress(100);
}

void TXLSReader::ReadLoop() {
  int lastPercent = 0;
  try {
    uint8_t header[4];
    while (!FStop && FStream.ReadHeader(header) == 4) {
      RecordId = common::Get16(header);
      RecordLength = common::Get16(header + 2);
      if (RecordLength > FWorkbook.MaxRecordSize()) {
        SkipBody(FStream, RecordLength);
        continue;
      }
      if (RecordId & 0x8000)
        throw common::Exception("Bad record in file");
      const bool readsItself =
          (RecordId & 0xFF) == 0x09 || RecordId == 0x00FC || RecordId == 0x00EB || RecordId == 0x00EC;
      if (!readsItself && RecordLength > 0 &&
          FStream.ReadData(RecordData.data(), RecordLength) != RecordLength)
        throw common::Exception("Unexpected end of file");
      if (FWorkbook.OnProgress && FStream.StreamSize() > 0) {
        const int percent = static_cast<int>(
            std::lround(static_cast<double>(FStream.Position()) * 100.0 / FStream.StreamSize()));
        if (percent > lastPercent) {
          lastPercent = percent;
          FWorkbook.OnProgress(percent);
        }
      }
      if (FSkipUserViews) {
        if (RecordId == 0x01AB)
          FSkipUserViews = false;
        continue;
      }
      KeepRaw = false; // a handler that leaves the record says so
      Dispatch();
      if (KeepRaw)
        CurrentStorage->AddRaw(RecordId, RecordData.data(), RecordLength);
      ++FRecordCount;
    }
  } catch (const std::exception &e) {
    throw common::Exception(common::Format("Error on reading record # %d, %.4X Offs: %.8X\r%s", FRecordCount,
                                           RecordId, FStream.Position(), e.what()));
  }
}

TSheetPeriphery &TXLSReader::Periphery() const { return FWorkbook.SheetExtras(SheetIndex).Periphery; }

void TXLSReader::PutDefault() const { CurrentStorage->PutDefault(RecordId, RecordData.data(), RecordLength); }

void TXLSReader::PutSlotRecord(bool keep) {
  // Writers put some of these records into substreams that have no slot for them (a worksheet
  // with WINDOWPROTECT, say); they are kept raw there rather than failing the whole read.
  KeepRaw = keep || !CurrentStorage->AcceptsDefault(RecordId);
  if (!KeepRaw)
    PutDefault();
}

void TXLSReader::KeepIfShort(void (TXLSReader::*Handler)()) {
  // The cells do not depend on these records: one shorter than its fields is kept as it stands
  // rather than costing the whole workbook.
  try {
    (this->*Handler)();
  } catch (const ERecordTooShort &) {
    KeepRaw = true;
  }
}

namespace {
template <typename T, size_t N> bool Listed(T value, const T (&list)[N]) {
  return std::find(list, list + N, value) != list + N;
}

// Code pages whose converter may take several bytes for one character or combine characters;
// their text is always decoded as a whole.
constexpr uint16_t WholeTextPages[] = {932, 936, 949, 950, 1255, 1258, 1361, 65001};
// RC4 (version 1.1) or RC4 CryptoAPI (2.2, 3.2 or 4.2).
bool KnownRc4Version(const TRecordBody &body) {
  if (!body.Has(2, 4))
    return false;
  const uint16_t major = body.U16(2), minor = body.U16(4);
  return (major == 1 && minor == 1) || (major >= 2 && major <= 4 && minor == 2);
}

// Records kept in their slot of the record storage from BIFF5 on.
constexpr uint16_t SlotRecordsAbove40[] = {0x000C, 0x000D, 0x000E, 0x000F, 0x0010, 0x0011, 0x0019,
                                           0x0022, 0x002A, 0x002B, 0x0040, 0x0055, 0x005F, 0x0080,
                                           0x0082, 0x0083, 0x0084, 0x008D, 0x00A1, 0x0225};
} // namespace

void TXLSReader::BuildDecodeTable() const {
  FDecodeTablePage = FCodePage;
  FDecodeTable.clear();
  if (Listed(FCodePage, WholeTextPages))
    return;
  for (int b = 0; b < 256; ++b) {
    const char c = static_cast<char>(b);
    const std::u16string one = common::DecodeCodePage(std::string_view(&c, 1), FCodePage);
    if (one.size() != 1) {
      FDecodeTable.clear();
      return;
    }
    FDecodeTable += one[0];
  }
}

void TXLSReader::AppendDecoded8(std::u16string &text, const uint8_t *bytes, int count) const {
  const std::u16string &table = DecodeTable();
  if (table.size() == 256) {
    const size_t at = text.size();
    text.resize(at + static_cast<size_t>(std::max(count, 0)));
    for (size_t i = at; i < text.size(); ++i)
      text[i] = table[bytes[i - at]];
    return;
  }
  text += common::DecodeCodePage(std::string_view(reinterpret_cast<const char *>(bytes), count), FCodePage);
}

std::u16string TXLSReader::CutText(const TRecordBody &body, int at, int cch, bool wide) const {
  // Font names and number formats are kept as far as they go when the record ends first.
  const int avail = std::max(0, body.Length() - at);
  const int n = std::min(cch, wide ? avail / 2 : avail);
  if (n <= 0)
    return {};
  if (wide)
    return common::Utf16Text(body.Bytes(at, 2 * n), n);
  if (FWorkbook.Version() == xvExcel97)
    return common::Latin1ToUtf16(std::string_view(reinterpret_cast<const char *>(body.Bytes(at, n)), n));
  return Decode8(body.Bytes(at, n), n);
}

std::u16string TXLSReader::SheetName(int Ordinal) const {
  if (Ordinal < 0 || Ordinal >= static_cast<int>(SheetNames.size()))
    common::ListIndexError(Ordinal);
  const std::string &b = SheetNames[Ordinal].Bytes;
  if (FWorkbook.Version() < xvExcel97)
    return Decode8(reinterpret_cast<const uint8_t *>(b.data()), static_cast<int>(b.size()));
  if (b.empty())
    return {};
  if (b[0] & 1)
    return common::Utf16Text(reinterpret_cast<const uint8_t *>(b.data()) + 1, (b.size() - 1) / 2);
  return common::Latin1ToUtf16(std::string_view(b).substr(1));
}

void TXLSReader::Dispatch() {
  if ((RecordId & 0xFF) == 0x09) {
    ReadBof();
    return;
  }
  const TExcelVersion version = FWorkbook.Version();
  switch (RecordId) {
  case 0x000A: ReadEof(); break;
  case 0x0085: ReadBoundSheet(); break;
  case 0x002F: ReadFilePass(); break;
  case 0x00FC: {
    CurrentStorage->PutMarker(0x8005);
    const uint32_t start = FStream.Position();
    FWorkbook.Sheets().ReadSST(FStream, RecordLength);
    // A table that states fewer strings than its body holds must not leave the rest of the body
    // to be read as the next record header.
    if (FStream.Position() < start + RecordLength)
      SkipBody(FStream, static_cast<int>(start + RecordLength - FStream.Position()));
    break;
  }
  case 0x0031:
  case 0x0231: ReadFont(); break;
  case 0x00E0:
  case 0x0243:
  case 0x0443: ReadXF(); break;
  case 0x041E: KeepIfShort(&TXLSReader::ReadFormat); break;
  case 0x0018:
  case 0x0218:
  case 0x0017:
  case 0x01AE:
  case 0x0023:
  case 0x0223: ReadNameTables(); break;
  case 0x0059: ReadXct(); break;
  case 0x005B: FWorkbook.FileSharing.assign(RecordData.begin(), RecordData.begin() + RecordLength); break;
  case 0x005C: ReadWriteAccess(); break;
  case 0x0092: ReadPalette(); break;
  case 0x00EB:
    CurrentStorage->PutMarker(0x8004);
    FWorkbook.MSOPictures().ReadGroup(FStream, RecordLength);
    break;
  case 0x00DA:
    PutDefault();
    CurrentStorage->PutMarker(0x8001);
    break;
  case 0x01AA: FSkipUserViews = true; break;
  case 0x00FF:
  case 0x01AB:
  case 0x01A9:
  case 0x003D:
  case 0x00D7: break;
  case 0x008C:
    if (version == xvExcel97)
      PutDefault();
    break;
  case 0x0013:
    // Only the globals' PASSWORD has a slot; a sheet's is kept as it stands.
    PutSlotRecord(SheetIndex >= 0 || SheetOrdinal >= 0);
    break;
  case 0x020B:
    if (version <= xvExcel40)
      CurrentStorage = &FWorkbook.SheetExtras(SheetIndex).Records;
    break;
  case 0x0012:
  case 0x009C:
  case 0x0161:
  case 0x01AF:
  case 0x01B7:
  case 0x01C1: PutSlotRecord(); break;
  case 0x0042:
    if (RecordLength >= 2)
      FCodePage = common::Get16(RecordData.data());
    if (version > xvExcel40)
      PutSlotRecord();
    break;
  // Its slot is in the sheets; the globals keep it raw.
  case 0x0081: PutSlotRecord(version <= xvExcel40); break;
  case 0x00EC: ReadSheetPeriphery(); break; // reads its own body
  case 0x0001:
  case 0x0002:
  case 0x0003:
  case 0x0004:
  case 0x0005:
  case 0x0201:
  case 0x0203:
  case 0x0205:
  case 0x007E:
  case 0x027E:
  case 0x00BD:
  case 0x00BE: ReadCell(); break;
  case 0x0204:
  case 0x00D6: ReadLabel(); break;
  case 0x00FD: ReadLabelSST(); break;
  case 0x0006:
  case 0x0206:
  case 0x0406:
    // The BIFF5 layout: 0x0006 after BIFF2, the BIFF3 and 4 ids under a BOF whose lowest version is BIFF8.
    if (RecordId == 0x0006 ? version > xvExcel21 : BofLowestVersion == 6)
      ReadFormula();
    else
      ReadOldFormula();
    break;
  case 0x0208: CurrentSheet().Rows.AddRow(RecordData.data(), RecordLength); break;
  case 0x0200:
  case 0x0000: ReadDimensions(); break;
  case 0x023E: ReadWindow2(); break;
  default:
    if (!Listed(RecordId, SlotRecordsAbove40))
      KeepIfShort(&TXLSReader::ReadSheetPeriphery); // which keeps the records it does not know
    else if (version > xvExcel40)
      PutSlotRecord();
    break;
  }
}

void TXLSReader::ReadBof() {
  if (RecordLength > 0 && FStream.ReadNoDecryptAdvance(RecordData.data(), RecordLength) != RecordLength)
    throw common::Exception("Unexpected end of file");
  SharedFormulas = decltype(SharedFormulas)();
  const TRecordBody body = Body();
  const uint16_t type = body.U16(2);
  const TExcelVersion version = FWorkbook.Version();
  switch (type) {
  case 0x0005:
    if (RecordLength > 256)
      throw common::Exception("Invalid BOF size");
    FWorkbook.IsMac = version == xvExcel97 && body.Has(8, 4) && (body.U32(8) & 0x10) != 0;
    CurrentStorage = &FWorkbook.GlobalsStorage();
    PutDefault();
    FInSubstream = true;
    break;
  case 0x0010:
  case 0x0006:
  case 0x0040: {
    ++SheetOrdinal;
    ++SheetIndex;
    TSheet &sheet = FWorkbook.AddSheet(type == 0x0010 ? 0 : type == 0x0006 ? 1 : 2);
    FSheet = &sheet;
    if (version > xvExcel40) {
      sheet.SetName(SheetName(SheetOrdinal));
      sheet.Hidden = static_cast<uint8_t>(SheetNames[SheetOrdinal].Hidden);
      CurrentStorage = &FWorkbook.SheetExtras(SheetIndex).Records;
      PutDefault();
    } else {
      sheet.SetName(u"Sheet1");
    }
    // Only BIFF8 sheet BOFs carry the lowest version field.
    BofLowestVersion = body.Has(12, 4) ? body.U32(12) : 0;
    FInSubstream = true;
    break;
  }
  case 0x0020: {
    // A chart inside a worksheet (or the globals) is embedded there and is not one of the
    // workbook's sheets, so it must not move the sheet ordinal on.
    const bool embedded = FInSubstream;
    TCharts &charts = embedded && SheetIndex >= 0 ? Periphery().Charts : FWorkbook.Charts();
    TChart *chart = charts.emplace_back(std::make_unique<TChart>()).get();
    if (!embedded) {
      ++SheetOrdinal;
      chart->Name = SheetName(SheetOrdinal);
      chart->Ordinal = SheetOrdinal;
    }
    chart->Read(FStream, RecordId, RecordData.data(), RecordLength, FWorkbook.MaxRecordSize());
    FStop = !embedded && AtEndOfReading();
    break;
  }
  case 0x0100: throw common::Exception("BIFF4 Workbook unhandled");
  default: FInSubstream = true; break;
  }
}

void TXLSReader::ReadEof() {
  PutDefault();
  SharedFormulas = decltype(SharedFormulas)();
  FInSubstream = false;
  FStop = AtEndOfReading();
}

void TXLSReader::ReadBoundSheet() {
  CurrentStorage->PutMarker(0x8002);
  const TRecordBody body = Body();
  const int cch = body.U8(6);
  // A BIFF8 name has an option byte before its characters, which may be two bytes wide.
  const int n = FWorkbook.Version() != xvExcel97 ? cch : (body.U8(7) & 1) ? 2 * cch + 1 : cch + 1;
  // The hidden state is the byte at 4 in BIFF5 as in BIFF8; the byte after it is the sheet type.
  SheetNames.push_back({std::string(reinterpret_cast<const char *>(body.Bytes(7, n)), n), body.U8(4) & 3});
}

void TXLSReader::ReadFilePass() {
  // BIFF8 names the scheme: 0 XOR obfuscation, 1 RC4 or RC4 CryptoAPI by the version after it.
  // Before BIFF8 the body is the XOR key and verifier alone.
  if (FWorkbook.Version() == xvExcel97) {
    const uint16_t type = Body().U16(0);
    if (type > 1 || (type == 1 && !KnownRc4Version(Body())))
      throw common::Exception("Can not read file, unknown type of encryption.");
  }
  // Workbooks that are only write-protected are encrypted with the format's default password;
  // they open without asking.
  if (FWorkbook.Password.empty() &&
      FStream.StartDecryption(RecordData.data(), RecordLength, u"VelvetSweatshop"))
    return;
  if (!FWorkbook.OnPassword && FWorkbook.Password.empty())
    throw common::Exception("File is encrypted. Password required.");
  std::u16string candidate = FWorkbook.Password;
  if (FWorkbook.OnPassword)
    FWorkbook.OnPassword(candidate);
  if (candidate.empty())
    throw common::Exception("Password is missing.");
  if (!FStream.StartDecryption(RecordData.data(), RecordLength, candidate))
    throw common::Exception("Invalid password");
}

void TXLSReader::ReadFont() {
  const TRecordBody body = Body();
  const TExcelVersion version = FWorkbook.Version();
  TXLSFont &font = FWorkbook.Fonts().Add();
  font.Size20 = body.U16(0);
  const uint16_t options = body.U16(2);
  font.Italic = (options & 0x02) != 0;
  font.StrikeOut = (options & 0x08) != 0;
  // The name's count; the characters follow it, in BIFF8 after an option byte.
  int cchAt = 4;
  if (version >= xvExcel50 || RecordId == 0x0231) {
    const uint16_t color = body.U16(4);
    font.ColorIndex = color >= 256 ? 0 : color;
    cchAt = version >= xvExcel50 ? 14 : 6;
  }
  if (version >= xvExcel50) {
    font.Bold = body.U16(6) > 699;
    font.Underline = body.U8(10);
    font.Family = body.U8(11);
    font.CharSet = body.U8(12);
  } else {
    font.Bold = (options & 0x01) != 0;
    font.Underline = (options & 0x04) ? 1 : 0;
  }
  const bool biff8 = version == xvExcel97;
  const int cch = body.Has(cchAt, 1) ? body.U8(cchAt) : 0;
  const bool wide = biff8 && body.Has(cchAt + 1, 1) && (body.U8(cchAt + 1) & 1) != 0;
  font.Name = CutText(body, cchAt + (biff8 ? 2 : 1), cch, wide);
  // Font index 4 does not exist in the format: the file's fifth font is index 5.
  if (FWorkbook.Fonts().Count() == 4)
    FWorkbook.Fonts().Add();
}

void TXLSReader::ReadXF() {
  const TExcelVersion version = FWorkbook.Version();
  if (version < xvExcel30)
    return;
  const TRecordBody body = Body();
  TCellFormat format;
  if (version >= xvExcel50) {
    format.FontIndex = body.U16(0);
    format.NumberFormatIndex = body.U16(2);
    format.Options = body.U16(4);
  }
  format.Raw.assign(RecordData.begin(), RecordData.begin() + RecordLength);
  FWorkbook.CellFormats().Add() = std::move(format);
}

void TXLSReader::ReadFormat() {
  const TRecordBody body = Body();
  const uint16_t index = body.U16(0);
  if (FWorkbook.Version() == xvExcel97)
    FWorkbook.NumberFormats().Add(index, CutText(body, 5, body.U16(2), (body.U8(4) & 1) != 0));
  else
    FWorkbook.NumberFormats().Add(index, CutText(body, 3, body.U8(2), false));
}

void TXLSReader::ReadNameTables() {
  // Before BIFF8 these are kept as they stand.
  KeepRaw = FWorkbook.Version() != xvExcel97;
  if (KeepRaw)
    return;
  CurrentStorage->PutMarker(0x8003);
  TFormulaTables &tables = FWorkbook.FormulaTables();
  std::vector<uint8_t> body(RecordData.begin(), RecordData.begin() + RecordLength);
  switch (RecordId) {
  case 0x0018:
  case 0x0218: tables.Names.push_back(std::move(body)); break;
  case 0x0017: tables.ExternSheets.push_back(std::move(body)); break;
  case 0x01AE: tables.SupBooks.push_back(std::move(body)); break;
  default: tables.ExternNames.push_back(std::move(body)); break;
  }
}

void TXLSReader::ReadXct() {
  const TRecordBody body = Body();
  int count = body.U16(0);
  if (count >= 0xF000)
    count = 0x10000 - count;
  const int sheetIndex = body.Has(2, 2) ? body.I16(2) : 0;
  for (int i = 0; i < count; ++i) {
    TRawRecord crn;
    if (!ReadFollowingRecord(FStream, {0x005A}, FWorkbook.MaxRecordSize(), crn))
      throw common::Exception("CRN record missing");
    if (crn.Id != 0)
      FWorkbook.FormulaTables().Crns.push_back({sheetIndex, std::move(crn.Body)});
  }
}

void TXLSReader::ReadWriteAccess() {
  std::vector<uint8_t> body(RecordData.begin(), RecordData.begin() + RecordLength);
  if (FWorkbook.Version() < xvExcel97) {
    // Into the BIFF8 string layout: a zero high length byte and a zero option byte.
    if (body.empty())
      body.push_back(0);
    body.insert(body.begin() + 1, {0, 0});
  }
  if (body.size() < 112)
    body.resize(112, 0x20);
  CurrentStorage->PutDefault(RecordId, body.data(), static_cast<int>(body.size()));
}

void TXLSReader::ReadPalette() {
  KeepRaw = true; // the colours are kept in the record as well
  const TRecordBody body = Body();
  int count = body.U16(0);
  if (count > 57) {
    count = 57;
    RecordData[0] = 57;
    RecordData[1] = 0;
  }
  body.Need(2, 4 * count);
  auto &table = ColorTable();
  for (int i = 0; i < count; ++i)
    table[8 + i] = body.U32(2 + 4 * i);
}

void TXLSReader::ReadSheetPeriphery() {
  const TExcelVersion version = FWorkbook.Version();
  const bool biff5up = version >= xvExcel50;
  const bool biff8 = version == xvExcel97;
  // Column widths before BIFF5, and the BIFF8 formats, validations and links in older files, are
  // kept raw; notes, headers, footers, margins and selections before BIFF5 are dropped.
  static constexpr uint16_t Biff8Only[] = {0x01B0, 0x01B2, 0x01B8};
  static constexpr uint16_t FromBiff5[] = {0x001C, 0x0014, 0x0015, 0x0026, 0x0027, 0x0028, 0x0029, 0x001D};
  KeepRaw = (RecordId == 0x007D && !biff5up) || (!biff8 && Listed(RecordId, Biff8Only));
  if (KeepRaw || (!biff5up && Listed(RecordId, FromBiff5)))
    return;
  const TRecordBody body = Body();
  const int maxLength = FWorkbook.MaxRecordSize();
  switch (RecordId) {
  case 0x001C:
    CurrentStorage->PutMarker(0x8106);
    Periphery().Drawing.AddNote(body, biff8);
    break;
  case 0x00EC:
    CurrentStorage->PutMarker(0x8106);
    Periphery().Drawing.ReadDrawing(FStream, RecordLength);
    break;
  case 0x00E5:
    CurrentStorage->PutMarker(0x8106);
    Periphery().ReadMergedCells(body);
    break;
  case 0x007D:
    CurrentStorage->PutMarker(0x8104);
    Periphery().ReadColInfo(body);
    break;
  case 0x0014:
  case 0x0015:
    CurrentStorage->PutMarker(0x8102);
    if (biff8)
      Periphery().ReadHeaderFooter(body, RecordId == 0x0015);
    break;
  case 0x0026:
  case 0x0027:
  case 0x0028:
  case 0x0029:
    CurrentStorage->PutMarker(0x8103);
    Periphery().ReadMargin(body);
    break;
  case 0x001A:
  case 0x001B:
    CurrentStorage->PutMarker(0x8101);
    Periphery().ReadPageBreaks(body, biff8);
    break;
  case 0x001D:
    PutDefault();
    Periphery().ReadSelection(body);
    break;
  case 0x0041: Periphery().ReadPane(body, FStream, maxLength); break;
  case 0x01B0: Periphery().ReadCondFmt(body, FStream, maxLength); break;
  case 0x01B2: Periphery().ReadDVal(body, FStream, maxLength); break;
  case 0x01B8:
    Periphery().Hyperlinks.emplace_back(RecordData.begin(), RecordData.begin() + RecordLength);
    break;
  case 0x009B:
    if (biff8)
      Periphery().FilterMode = true;
    break;
  case 0x0867: Periphery().ReadSheetProtection(body); break;
  case 0x00ED: break;
  default: KeepRaw = true; break;
  }
}

} // namespace xls
