#pragma once

#include <cstdint>
#include <string>
#include <variant>

namespace common {

// A tagged value as the workbook reader hands out cell values: empty, an 8-, 16- or 32-bit
// integer, a double, wide (UTF-16) text or 8-bit (UTF-8) text.
class Variant {
public:
  enum class Type { Empty, Int8, Int16, Int32, Double, WideText, Text };

  Variant() = default;
  static Variant FromInt8(int8_t v) { return Variant(Value(std::in_place_index<1>, v)); }
  static Variant FromInt16(int16_t v) { return Variant(Value(std::in_place_index<2>, v)); }
  static Variant FromInt32(int32_t v) { return Variant(Value(std::in_place_index<3>, v)); }
  static Variant FromDouble(double v) { return Variant(Value(std::in_place_index<4>, v)); }
  static Variant FromWide(std::u16string v) { return Variant(Value(std::in_place_index<5>, std::move(v))); }
  static Variant FromText(std::string v) { return Variant(Value(std::in_place_index<6>, std::move(v))); }

  Type GetType() const { return static_cast<Type>(value_.index()); }
  bool IsEmpty() const { return value_.index() == 0; }
  bool IsInteger() const { return value_.index() >= 1 && value_.index() <= 3; }

  int32_t AsInteger() const;            // integers as they are; anything else 0
  double AsDouble() const;              // integers and doubles; anything else 0
  const std::u16string &AsWide() const; // throws unless wide text
  const std::string &AsText8() const;   // throws unless 8-bit text

  // The text form: empty for Empty, decimal digits for integers, the general number format for
  // doubles (locale separator), UTF-8 for text.
  std::string ToText() const;

  bool operator==(const Variant &other) const = default;

private:
  using Value = std::variant<std::monostate, int8_t, int16_t, int32_t, double, std::u16string, std::string>;
  explicit Variant(Value v) : value_(std::move(v)) {}
  Value value_;
};

} // namespace common
