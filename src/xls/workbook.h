#pragma once

#include <array>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "cells/formats.h"
#include "cells/sheets.h"
#include "xls/periphery.h"
#include "xls/record_storage.h"
#include "xls/xls_stream.h"

namespace xls {

// The process-wide colour table of 65 entries (0x00BBGGRR) shared by every workbook. Each
// construction of a workbook resets it; PALETTE records overwrite entries from 8 on.
std::array<uint32_t, 65> &ColorTable();

enum TCalcMode { cmManual, cmAutomatic, cmAutoExTables };

struct TOptionsDialog {
  bool SaveExtLinkVal = false;
  int CalcCount = 100;
  TCalcMode CalcMode = cmAutomatic;
  double Delta = 0.001;
  bool ShowObjects = true;
  bool Iteration = false;
  bool PrecisionAsDisplayed = false;
  bool R1C1Mode = false;
  bool RecalcBeforeSave = false;
  bool Uncalced = false;
  bool SaveRecalc = true;
};

enum TWorkbookOption { woHidden, woIconized, woHScroll, woVScroll, woTabs };

// Views of the workbook window (the globals WINDOW1 record) and the date system.
class TWorkbookData {
public:
  explicit TWorkbookData(TRecordStorageGlobals &Records) : FRecords(Records) {}
  int Left() const { return FRecords.Window1(0); }
  int Top() const { return FRecords.Window1(1); }
  int Width() const { return FRecords.Window1(2); }
  int Height() const { return FRecords.Window1(3); }
  int SelectedTab() const { return FRecords.Window1(5); }
  bool HasOption(TWorkbookOption o) const {
    static constexpr uint16_t Bits[] = {0x01, 0x02, 0x08, 0x10, 0x20}; // in TWorkbookOption order
    return (FRecords.Window1(4) & Bits[o]) != 0;
  }
  bool Date1904() const { return FRecords.Date1904(); }

private:
  TRecordStorageGlobals &FRecords;
};

// What the workbook keeps of each sheet besides its cells: the sheet's kept records and its
// periphery objects. Attached to every TSheet the workbook or its reader creates.
struct TSheetExtras : TSheetAttachment {
  TRecordStorageSheet Records;
  TSheetPeriphery Periphery;
  void Reset() override {
    Records.ResetToDefaults();
    Periphery = TSheetPeriphery();
  }
};

class TXLSWorkbook {
public:
  TXLSWorkbook();
  TXLSWorkbook(const TXLSWorkbook &) = delete;
  TXLSWorkbook &operator=(const TXLSWorkbook &) = delete;

  // Back to an empty one-sheet workbook.
  void Clear();
  // Reads Filename.
  void Read() { LoadFromStream(); }
  // Reads a compound-file image, or Filename when the image is empty. Raises on failure; what
  // was read before a failure stays (at least one empty worksheet).
  void LoadFromStream(std::vector<uint8_t> Stream = {});
  TSheet &SheetByIndex(int Index) const { return FSheets.Items(Index); }

  TExcelVersion Version() const { return FVersion; }
  void SetVersion(TExcelVersion Value);
  int MaxRecordSize() const { return FMaxRecordSize; }

  TSheets &Sheets() { return FSheets; }
  TWorkbookData &Workbook() { return FWorkbook; }
  TOptionsDialog &OptionsDialog() { return FOptionsDialog; }
  // The first font, or nullptr when there is none (the library never shows a message).
  TXLSFont *Font() const { return FFonts.Count() > 0 ? &FFonts.Items(0) : nullptr; }

  std::u16string UserName() const { return FGlobals.UserName(); }
  bool BookProtected() const { return FGlobals.BookProtected(); }
  bool Backup() const { return FGlobals.Backup(); }
  bool RefreshAll() const { return FGlobals.RefreshAll(); }

  const std::u16string &StrTRUE() const { return FSheets.Settings.StrTRUE; }
  const std::u16string &StrFALSE() const { return FSheets.Settings.StrFALSE; }
  void SetStrTRUE(const std::u16string &v) { FSheets.Settings.StrTRUE = v; }
  void SetStrFALSE(const std::u16string &v) { FSheets.Settings.StrFALSE = v; }
  bool ShowFormulas() const { return FSheets.Settings.ShowFormulas; }
  void SetShowFormulas(bool v) { FSheets.Settings.ShowFormulas = v; }

  std::u16string Filename;
  bool IsMac = false;
  bool PreserveMacros = true;
  // True when the file carried a macro project.
  bool HasMacros = false;
  static std::string ComponentVersion() { return "3.00.02"; }
  std::u16string Password;

  bool RecomendReadOnly() const { return FileSharing.size() > 1 && FileSharing[0] == 1; }
  void SetRecomendReadOnly(bool Value);
  std::vector<uint8_t> FileSharing;

  std::function<void(int Value)> OnProgress;
  // Asked for the password of an encrypted file; may change it.
  std::function<void(std::u16string &Password)> OnPassword;

  TXLSFonts &Fonts() { return FFonts; }
  TCellFormats &CellFormats() { return FCellFormats; }
  TNumberFormats &NumberFormats() { return FNumberFormats; }
  int DefaultFormat() const { return FDefaultFormat; }
  TRecordStorageGlobals &GlobalsStorage() { return FGlobals; }
  TMSOPictures &MSOPictures() { return FPictures; }
  TCharts &Charts() { return FCharts; }
  TFormulaTables &FormulaTables() { return FFormulaTables; }

  // A new sheet of the kind with its record storage and periphery attached.
  TSheet &AddSheet(uint8_t Kind);
  // The kept records and periphery of the sheet at Index (list-index error outside).
  TSheetExtras &SheetExtras(int Index) const;

private:
  // The calculation settings of the first sheet into OptionsDialog.
  void CopyCalcSettings();

  TExcelVersion FVersion = xvExcel97;
  int FMaxRecordSize = 8224;
  TXLSFonts FFonts;
  TCellFormats FCellFormats;
  TNumberFormats FNumberFormats;
  int FDefaultFormat = 15;
  TRecordStorageGlobals FGlobals;
  TWorkbookData FWorkbook{FGlobals};
  TOptionsDialog FOptionsDialog;
  TFormulaTables FFormulaTables;
  TMSOPictures FPictures;
  TCharts FCharts;
  TSheets FSheets{FFonts, FCellFormats};
};

} // namespace xls
