#include "xls/cells.h"

#include <cstring>

#include "xls/formats.h"

namespace xls {

static_assert(sizeof(TCell) == 16, "cells are kept compact");
static_assert(sizeof(TArrayFormulaCell) == sizeof(TCell) && sizeof(TStringCell) == sizeof(TCell),
              "cell classes add no data members");

const char *const ErrorTexts[8] = {
    "[int] No error value", "#NULL!", "#DIV/0!", "#VALUE!", "#REF!", "#NAME?", "#NUM!", "#N/A"};

uint8_t ErrorIndexOf(uint8_t BiffCode) {
  switch (BiffCode) {
  case 0x00: return 1;
  case 0x07: return 2;
  case 0x0F: return 3;
  case 0x17: return 4;
  case 0x1D: return 5;
  case 0x24: return 6;
  case 0x2A: return 7;
  default: return 0;
  }
}

TCellFormat &TCell::Format(const TCellFormats &Formats) const { return Formats.Items(FXF); }

TFormulaCell::TFormulaCell(uint32_t Key, uint8_t Kind, uint16_t XF, uint32_t ExprLen, uint32_t StoredLen,
                           const uint8_t *Expr)
    : TCell(Key, Kind, XF) {
  auto data = std::make_unique<TFormulaData>();
  data->ExprLen = ExprLen;
  if (StoredLen > 0)
    data->ExprBytes.assign(Expr, Expr + StoredLen);
  FFormula = data.release();
}

TFormulaCell::TFormulaCell(const TFormulaCell &Other) : TCell(Other.FKey, Other.FKind, Other.FXF) {
  FByte = Other.FByte;
  FFormula = std::make_unique<TFormulaData>(*Other.FFormula).release();
}

TFormulaCell::~TFormulaCell() { std::unique_ptr<TFormulaData> owned(FFormula); }

TArrayFormulaCell::TArrayFormulaCell(uint32_t Key, uint8_t IsMember, uint32_t ArrayLen,
                                     const uint8_t *ArrayData, double Value, uint32_t ExprLen,
                                     uint32_t StoredLen, const uint8_t *Expr, uint16_t XF)
    : TFormulaCell(Key, Kind, XF, ExprLen, StoredLen, Expr) {
  FFormula->NumberValue = Value;
  FFormula->IsMember = IsMember;
  if (ArrayLen > 0)
    FFormula->ArrayBytes.assign(ArrayData, ArrayData + ArrayLen);
}

} // namespace xls
