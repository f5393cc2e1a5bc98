#pragma once

#include <cstdint>
#include <cstring>

#include "common/bytes.h"
#include "common/exception.h"

namespace xls {

// A record body shorter than the fields read from it.
class ERecordTooShort : public common::Exception {
public:
  using common::Exception::Exception;
};

// Bounds-checked view of one record body: every field read is checked against the record's
// length, so a short or corrupt record ends the read with a clear message instead of reading
// past its body.
class TRecordBody {
public:
  TRecordBody(uint16_t id, const uint8_t *data, int length) : FId(id), FData(data), FLength(length) {}

  uint16_t Id() const { return FId; }
  int Length() const { return FLength; }
  const uint8_t *Data() const { return FData; }

  // Throws unless `count` bytes starting at `offset` lie inside the body.
  void Need(int offset, int count) const {
    if (!Has(offset, count))
      throw ERecordTooShort(common::Format("Record %.4X is too short: %d bytes, %d needed", FId, FLength,
                                           offset < 0 || count < 0 ? 0 : offset + count));
  }
  bool Has(int offset, int count) const { return offset >= 0 && count >= 0 && offset <= FLength - count; }

  uint8_t U8(int offset) const {
    Need(offset, 1);
    return FData[offset];
  }
  uint16_t U16(int offset) const {
    Need(offset, 2);
    return common::Get16(FData + offset);
  }
  int16_t I16(int offset) const { return static_cast<int16_t>(U16(offset)); }
  uint32_t U32(int offset) const {
    Need(offset, 4);
    return common::Get32(FData + offset);
  }
  double F64(int offset) const {
    Need(offset, 8);
    double d;
    std::memcpy(&d, FData + offset, 8);
    return d;
  }
  const uint8_t *Bytes(int offset, int count) const {
    Need(offset, count);
    return FData + offset;
  }

private:
  uint16_t FId;
  const uint8_t *FData;
  int FLength;
};

} // namespace xls
