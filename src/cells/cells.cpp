#include "cells/cells.h"

#include <algorithm>

namespace xls {

static_assert(sizeof(TCell) == 16, "cells are kept compact");
static_assert(sizeof(TArrayFormulaCell) == sizeof(TCell) && sizeof(TStringCell) == sizeof(TCell),
              "cell classes add no data members");

uint8_t ErrorIndexOf(uint8_t BiffCode) {
  // The BIFF codes of the errors 1 to 7.
  static constexpr uint8_t Codes[7] = {0x00, 0x07, 0x0F, 0x17, 0x1D, 0x24, 0x2A};
  const uint8_t *at = std::find(Codes, Codes + 7, BiffCode);
  return at == Codes + 7 ? 0 : static_cast<uint8_t>(at - Codes + 1);
}

TFormulaCell::TFormulaCell(uint32_t Key, uint8_t Kind, uint16_t XF, uint32_t ExprLen, uint32_t StoredLen,
                           const uint8_t *Expr)
    : TCell(Key, Kind, XF) {
  auto data = std::make_unique<TFormulaData>();
  data->ExprLen = ExprLen;
  if (StoredLen > 0)
    data->ExprBytes.assign(Expr, Expr + StoredLen);
  FFormula = data.release();
}

TFormulaCell::TFormulaCell(const TFormulaCell &Other) : TCell(Other) {
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
