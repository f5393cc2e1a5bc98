#pragma once

// The cell family. A cell is one compact 16-byte object (key, XF, kind, a byte and an 8-byte
// value) so a sheet of a million cells stays small; the classes below add no data members of
// their own and only give typed construction and access. Formula cells keep their expression
// and cached value in a separately allocated TFormulaData.

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <type_traits>
#include <vector>

namespace xls {

struct SSTEntry;
class TCellStorage;

// Cell kind codes; 0 stands for a missing cell where an accessor returns a code.
enum TCellKind : uint8_t {
  ckNone = 0,
  ckBlank = 1,
  ckInteger = 3,
  ckFloat = 4,
  ckString = 5,
  ckBoolean = 6,
  ckError = 7,
  ckNumberFormula = 8,
  ckStringFormula = 9,
  ckBooleanFormula = 10,
  ckErrorFormula = 11,
  ckArrayFormula = 12,
};

// Keys at or above this find no cell.
constexpr uint32_t CellKeyLimit = 1u << 24;
// Row * 256 + (Col AND 255); a row outside 0..65535 gives a key that finds nothing. Inline:
// every cell read asks it.
inline uint32_t CellKey(long long Col, long long Row) {
  if (Row < 0 || Row > 65535)
    return 0xFFFFFFFFu;
  return static_cast<uint32_t>(Row) * 256u + static_cast<uint32_t>(Col & 255);
}

// The ErrorIndex of a BIFF error code (0, "no error value", for an unknown code).
uint8_t ErrorIndexOf(uint8_t BiffCode);

struct TFormulaData {
  std::vector<uint8_t> ExprBytes; // StoredLen bytes
  uint32_t ExprLen = 0;
  uint8_t IsMember = 0;            // array formulas
  double NumberValue = 0;          // number and array formulas
  std::u16string StringValue;      // string formulas
  std::vector<uint8_t> ArrayBytes; // array formulas: the ARRAY record body
};

class TCell {
public:
  uint32_t Key() const { return FKey; }
  uint16_t XF() const { return FXF; }
  void SetXF(uint16_t XF) { FXF = XF; }
  uint8_t CellKind() const { return FKind; }
  bool IsFormula() const { return FKind >= ckNumberFormula && FKind <= ckArrayFormula; }
  // The kind of value the cell holds; a formula cell gives the kind of its last result, so
  // number and array formulas give ckFloat.
  uint8_t ValueKind() const {
    // By kind code; code 2 is not used.
    static constexpr uint8_t Kinds[] = {ckNone,  ckBlank, ckNone,   ckInteger, ckFloat, ckString, ckBoolean,
                                        ckError, ckFloat, ckString, ckBoolean, ckError, ckFloat};
    return FKind < sizeof Kinds ? Kinds[FKind] : static_cast<uint8_t>(ckNone);
  }
  // The number of a cell whose ValueKind is ckInteger or ckFloat.
  double Number() const {
    if (FKind == ckInteger)
      return FInt;
    return FKind == ckFloat ? FDouble : FFormula->NumberValue;
  }
  // The boolean (0 or 1) or ErrorIndex of a cell whose ValueKind is ckBoolean or ckError.
  uint8_t Byte() const { return FByte; }

protected:
  TCell(uint32_t Key, uint8_t Kind, uint16_t XF) : FKey(Key), FXF(XF), FKind(Kind) { FFormula = nullptr; }
  ~TCell() = default;

  uint32_t FKey;
  uint16_t FXF;
  uint8_t FKind;
  uint8_t FByte = 0; // boolean value or ErrorIndex (also the cached one of formula cells)
  union {
    double FDouble;
    int32_t FInt;
    SSTEntry *FEntry;
    TFormulaData *FFormula;
  };

  friend class TCellStorage;
};

class TBlankCell : public TCell {
public:
  static constexpr uint8_t Kind = ckBlank;
  TBlankCell(uint32_t Key, uint16_t XF) : TCell(Key, Kind, XF) {}
};

class TIntegerCell : public TCell {
public:
  static constexpr uint8_t Kind = ckInteger;
  TIntegerCell(uint32_t Key, int32_t Value, uint16_t XF) : TCell(Key, Kind, XF) { FInt = Value; }
  int32_t Value() const { return FInt; }
};

class TFloatCell : public TCell {
public:
  static constexpr uint8_t Kind = ckFloat;
  TFloatCell(uint32_t Key, double Value, uint16_t XF) : TCell(Key, Kind, XF) { FDouble = Value; }
  double Value() const { return FDouble; }
};

// Holds one counted reference to its entry; the sheet takes and releases it (StoreSSTString,
// StoreString, DeleteCell), the cell itself never touches the count when freed because the
// table may already be cleared by then.
class TStringCell : public TCell {
public:
  static constexpr uint8_t Kind = ckString;
  TStringCell(uint32_t Key, SSTEntry *Entry, uint16_t XF) : TCell(Key, Kind, XF) { FEntry = Entry; }
  SSTEntry *Entry() const { return FEntry; }
};

// A boolean (0 or 1) or an error (its ErrorIndex) cell.
template <uint8_t K> class TByteCell : public TCell {
public:
  static constexpr uint8_t Kind = K;
  TByteCell(uint32_t Key, uint8_t Value, uint16_t XF) : TCell(Key, Kind, XF) { FByte = Value; }
  uint8_t Value() const { return FByte; }
};
using TBooleanCell = TByteCell<ckBoolean>;
using TErrorCell = TByteCell<ckError>;

// Base of the formula cells; owns its TFormulaData.
class TFormulaCell : public TCell {
public:
  const std::vector<uint8_t> &ExprBytes() const { return FFormula->ExprBytes; }
  uint32_t ExprLen() const { return FFormula->ExprLen; }

protected:
  // Copies StoredLen bytes from Expr (which may be null only when StoredLen is 0).
  TFormulaCell(uint32_t Key, uint8_t Kind, uint16_t XF, uint32_t ExprLen, uint32_t StoredLen,
               const uint8_t *Expr);
  TFormulaCell(const TFormulaCell &Other); // deep copy of the formula data
  TFormulaCell &operator=(const TFormulaCell &) = delete;
  ~TFormulaCell();

  friend class TCellStorage; // clones and frees every formula cell as a TFormulaCell
};

class TNumberFormulaCell : public TFormulaCell {
public:
  static constexpr uint8_t Kind = ckNumberFormula;
  TNumberFormulaCell(uint32_t Key, double Value, uint32_t ExprLen, uint32_t StoredLen, const uint8_t *Expr,
                     uint16_t XF)
      : TFormulaCell(Key, Kind, XF, ExprLen, StoredLen, Expr) {
    FFormula->NumberValue = Value;
  }
  double FormulaValue() const { return FFormula->NumberValue; }
};

class TStringFormulaCell : public TFormulaCell {
public:
  static constexpr uint8_t Kind = ckStringFormula;
  TStringFormulaCell(uint32_t Key, std::u16string_view Value, uint32_t ExprLen, uint32_t StoredLen,
                     const uint8_t *Expr, uint16_t XF)
      : TFormulaCell(Key, Kind, XF, ExprLen, StoredLen, Expr) {
    FFormula->StringValue.assign(Value);
  }
  const std::u16string &FormulaValue() const { return FFormula->StringValue; }
};

// A formula whose result is a boolean (0 or 1) or an error (its ErrorIndex).
template <uint8_t K> class TByteFormulaCell : public TFormulaCell {
public:
  static constexpr uint8_t Kind = K;
  TByteFormulaCell(uint32_t Key, uint8_t Value, uint32_t ExprLen, uint32_t StoredLen, const uint8_t *Expr,
                   uint16_t XF)
      : TFormulaCell(Key, Kind, XF, ExprLen, StoredLen, Expr) {
    FByte = Value;
  }
  uint8_t FormulaValue() const { return FByte; }
};
using TBooleanFormulaCell = TByteFormulaCell<ckBooleanFormula>;
using TErrorFormulaCell = TByteFormulaCell<ckErrorFormula>;

class TArrayFormulaCell : public TFormulaCell {
public:
  static constexpr uint8_t Kind = ckArrayFormula;
  // Array data (ArrayLen bytes, the ARRAY record body) and the expression are copied.
  TArrayFormulaCell(uint32_t Key, uint8_t IsMember, uint32_t ArrayLen, const uint8_t *ArrayData, double Value,
                    uint32_t ExprLen, uint32_t StoredLen, const uint8_t *Expr, uint16_t XF);
  double FormulaValue() const { return FFormula->NumberValue; }
  const std::vector<uint8_t> &ArrayBytes() const { return FFormula->ArrayBytes; }
  uint8_t IsMember() const { return FFormula->IsMember; }
};

// The cell as class T when its kind matches, else nullptr. TFormulaCell matches every formula.
template <class T> T *CellAs(TCell *Cell) {
  if (!Cell)
    return nullptr;
  if constexpr (std::is_same_v<T, TFormulaCell>)
    return Cell->IsFormula() ? static_cast<TFormulaCell *>(Cell) : nullptr;
  else
    return Cell->CellKind() == T::Kind ? static_cast<T *>(Cell) : nullptr;
}
template <class T> const T *CellAs(const TCell *Cell) { return CellAs<T>(const_cast<TCell *>(Cell)); }

} // namespace xls
