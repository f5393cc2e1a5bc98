#include "xls/workbook.h"

#include <algorithm>

#include "common/exception.h"
#include "xls/xls_reader.h"

namespace xls {

namespace {

// The format's built-in colours: the eight fixed ones, the 56 of the default palette and the
// window text colour, as 0x00BBGGRR.
constexpr uint32_t Rgb(uint32_t rgb) { return ((rgb >> 16) & 0xFF) | (rgb & 0xFF00) | ((rgb & 0xFF) << 16); }

constexpr std::array<uint32_t, 65> DefaultColors = [] {
  const uint32_t rgb[65] = {
      0x000000, 0xFFFFFF, 0xFF0000, 0x00FF00, 0x0000FF, 0xFFFF00, 0xFF00FF, 0x00FFFF, // fixed
      0x000000, 0xFFFFFF, 0xFF0000, 0x00FF00, 0x0000FF, 0xFFFF00, 0xFF00FF, 0x00FFFF, // 8
      0x800000, 0x008000, 0x000080, 0x808000, 0x800080, 0x008080, 0xC0C0C0, 0x808080, // 16
      0x9999FF, 0x993366, 0xFFFFCC, 0xCCFFFF, 0x660066, 0xFF8080, 0x0066CC, 0xCCCCFF, // 24
      0x000080, 0xFF00FF, 0xFFFF00, 0x00FFFF, 0x800080, 0x800000, 0x008080, 0x0000FF, // 32
      0x00CCFF, 0xCCFFFF, 0xCCFFCC, 0xFFFF99, 0x99CCFF, 0xFF99CC, 0xCC99FF, 0xFFCC99, // 40
      0x3366FF, 0x33CCCC, 0x99CC00, 0xFFCC00, 0xFF9900, 0xFF6600, 0x666699, 0x969696, // 48
      0x003366, 0x339966, 0x003300, 0x333300, 0x993300, 0x993366, 0x333399, 0x333333, // 56
      0x000000};
  std::array<uint32_t, 65> t{};
  std::transform(std::begin(rgb), std::end(rgb), t.begin(), Rgb);
  return t;
}();

} // namespace

std::array<uint32_t, 65> &ColorTable() {
  static std::array<uint32_t, 65> table = DefaultColors;
  return table;
}

TXLSWorkbook::TXLSWorkbook() {
  ColorTable() = DefaultColors;
  Clear();
  CopyCalcSettings();
}

void TXLSWorkbook::SetVersion(TExcelVersion Value) {
  FVersion = Value;
  FMaxRecordSize = Value == xvExcel97 ? 8224 : 2080;
}

void TXLSWorkbook::SetRecomendReadOnly(bool Value) {
  if (Value) {
    if (FileSharing.size() < 2)
      FileSharing.assign(6, 0);
    FileSharing[0] = 1;
  } else if (!FileSharing.empty()) {
    FileSharing[0] = 0;
    if (std::all_of(FileSharing.begin(), FileSharing.end(), [](uint8_t b) { return b == 0; }))
      FileSharing.clear();
  }
}

TSheet &TXLSWorkbook::AddSheet(uint8_t Kind) {
  TSheet &sheet = FSheets.AddSheet(Kind);
  sheet.Attachment = std::make_unique<TSheetExtras>();
  return sheet;
}

TSheetExtras &TXLSWorkbook::SheetExtras(int Index) const {
  TSheet &sheet = FSheets.Items(Index);
  // A sheet added by someone else gets its storage on first use.
  if (dynamic_cast<TSheetExtras *>(sheet.Attachment.get()) == nullptr)
    sheet.Attachment = std::make_unique<TSheetExtras>();
  return static_cast<TSheetExtras &>(*sheet.Attachment);
}

void TXLSWorkbook::Clear() {
  FFormulaTables = TFormulaTables();
  FGlobals.ResetToDefaults();
  FSheets.ClearSheets();
  AddSheet(0);
  FCellFormats.Clear();
  FFonts.Clear();
  // The default workbook has five fonts (index 4 unused by the format) and 21 cell formats.
  FFonts.AddDefaults(5);
  FCellFormats.AddDefaults(21);
  FPictures.Data.clear();
  FCharts.clear();
  HasMacros = false;
  FileSharing.clear();
}

void TXLSWorkbook::CopyCalcSettings() {
  const TRecordStorageSheet &first = SheetExtras(0).Records;
  const int16_t mode = first.CalcMode(); // 0 manual, 1 automatic, -1 automatic except tables
  if (mode >= -1 && mode <= 1)
    FOptionsDialog.CalcMode = mode == 0 ? cmManual : mode == 1 ? cmAutomatic : cmAutoExTables;
  FOptionsDialog.CalcCount = first.CalcCount();
  FOptionsDialog.Delta = first.Delta();
  FOptionsDialog.R1C1Mode = first.RefMode() == 0;
  FOptionsDialog.Iteration = first.Iteration() == 1;
  FOptionsDialog.SaveRecalc = first.SaveRecalc() == 1;
}

void TXLSWorkbook::LoadFromStream(std::vector<uint8_t> Stream) {
  Clear();
  FSheets.ClearSheets();
  FFonts.Clear();
  FCellFormats.Clear();
  FNumberFormats.Reset();

  auto finish = [this] {
    if (FSheets.Count() == 0) {
      Clear();
      FSheets.ClearSheets();
      AddSheet(0);
    }
  };
  try {
    // The reader, with the stream it holds open, lasts only as long as the read.
    TXLSReader(*this).ReadRecords(std::move(Stream));
    const size_t slash = Filename.find_last_of(u"/\\");
    FFormulaTables.Directory =
        slash == std::u16string::npos ? std::u16string() : Filename.substr(0, slash + 1);
  } catch (...) {
    finish();
    throw;
  }
  finish();

  FFonts.SetFixedCount(FFonts.Count());
  FDefaultFormat = FCellFormats.Count() >= 16 ? 15 : 0;

  CopyCalcSettings();

  FGlobals.AfterRead();
  for (int i = 0; i < FSheets.Count(); ++i)
    FSheets.Items(i).AfterRead();
}

} // namespace xls
