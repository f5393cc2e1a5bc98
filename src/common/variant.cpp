#include "common/variant.h"

#include "common/exception.h"
#include "common/number_text.h"
#include "common/text.h"

namespace common {

int32_t Variant::AsInteger() const {
  switch (GetType()) {
  case Type::Int8: return std::get<1>(value_);
  case Type::Int16: return std::get<2>(value_);
  case Type::Int32: return std::get<3>(value_);
  default: return 0;
  }
}

double Variant::AsDouble() const {
  if (GetType() == Type::Double)
    return std::get<4>(value_);
  return AsInteger();
}

const std::u16string &Variant::AsWide() const {
  if (GetType() != Type::WideText)
    throw Exception("Variant does not hold wide text");
  return std::get<5>(value_);
}

const std::string &Variant::AsText8() const {
  if (GetType() != Type::Text)
    throw Exception("Variant does not hold 8-bit text");
  return std::get<6>(value_);
}

std::string Variant::ToText() const {
  switch (GetType()) {
  case Type::Empty: return {};
  case Type::Int8:
  case Type::Int16:
  case Type::Int32: return std::to_string(AsInteger());
  case Type::Double: return FloatToText(std::get<4>(value_));
  case Type::WideText: return Utf16ToUtf8(std::get<5>(value_));
  case Type::Text: return std::get<6>(value_);
  }
  return {};
}

} // namespace common
