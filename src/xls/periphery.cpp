#include "xls/periphery.h"

#include <algorithm>

#include "common/bytes.h"
#include "xls/xls_stream.h"

namespace xls {

void SkipBody(TXLSStream &stream, int count) {
  if (count <= 0)
    return;
  if (!stream.Encrypted()) {
    stream.Seek(count, 1);
    return;
  }
  uint8_t scratch[1024];
  while (count > 0) {
    const int n = stream.ReadData(scratch, std::min<int>(count, sizeof scratch));
    if (n <= 0)
      break;
    count -= n;
  }
}

namespace {

std::u16string Wide16(const TRecordBody &body, int cchOffset, int optionOffset, int charsOffset) {
  const int cch = body.U16(cchOffset);
  const bool wide = (body.U8(optionOffset) & 1) != 0;
  const uint8_t *p = body.Bytes(charsOffset, wide ? 2 * cch : cch);
  return wide ? common::Utf16Text(p, cch) : std::u16string(p, p + cch);
}

// A record and the records of followerId after it, at most count of them.
void ReadRecordGroup(std::vector<TRawRecord> &list, const TRecordBody &body, uint32_t count,
                     uint16_t followerId, TXLSStream &stream, int maxLength) {
  list.push_back({body.Id(), {body.Data(), body.Data() + body.Length()}});
  TRawRecord next;
  for (uint32_t i = 0; i < count && ReadFollowingRecord(stream, {followerId}, maxLength, next); ++i)
    if (next.Id != 0)
      list.push_back(next);
}

bool IsBof(uint16_t id) { return id == 0x0009 || id == 0x0209 || id == 0x0409 || id == 0x0809; }

// Reads the next record. One longer than maxLength is skipped, as the record loop skips it, and
// comes back with id 0. A BOF body is never encrypted.
bool ReadRecord(TXLSStream &stream, int maxLength, TRawRecord &record) {
  uint8_t header[4];
  if (stream.ReadHeader(header) != 4)
    return false;
  const int length = header[2] | (header[3] << 8);
  record.Id = static_cast<uint16_t>(header[0] | (header[1] << 8));
  record.Body.clear();
  if (length > maxLength) {
    record.Id = 0;
    SkipBody(stream, length);
    return true;
  }
  record.Body.resize(length);
  uint8_t *p = record.Body.data();
  const int got = IsBof(record.Id) ? stream.ReadNoDecryptAdvance(p, length) : stream.ReadData(p, length);
  if (got != length)
    throw common::Exception("Unexpected end of file");
  return true;
}

} // namespace

bool ReadFollowingRecord(TXLSStream &stream, std::initializer_list<uint16_t> ids, int maxLength,
                         TRawRecord &record) {
  const uint16_t next = stream.PeekRecordId();
  if (next == 0 || std::find(ids.begin(), ids.end(), next) == ids.end())
    return false;
  return ReadRecord(stream, maxLength, record);
}

void TSheetDrawing::ReadDrawing(TXLSStream &stream, int length) {
  std::vector<uint8_t> data(static_cast<size_t>(std::max(length, 0)));
  if (length > 0 && stream.ReadData(data.data(), length) != length)
    throw common::Exception("Unexpected end of file");
  Drawings.push_back(std::move(data));
}

void TSheetDrawing::AddNote(const TRecordBody &body, bool biff8) {
  TNote note;
  note.Row = body.U16(0);
  note.Col = body.U16(2);
  if (biff8) {
    note.ObjId = body.U16(6);
    note.Author = Wide16(body, 8, 10, 11);
  } else {
    const int n = std::min<int>(body.U16(4), body.Length() - 6);
    const uint8_t *p = body.Bytes(6, n);
    note.Author.assign(p, p + n);
  }
  Notes.push_back(std::move(note));
}

void TSheetPeriphery::ReadMergedCells(const TRecordBody &body) {
  const int count = body.U16(0);
  body.Need(2, count * 8);
  for (int i = 0; i < count; ++i) {
    const int at = 2 + 8 * i;
    MergedCells.push_back({body.U16(at), body.U16(at + 2), body.U16(at + 4), body.U16(at + 6)});
  }
}

void TSheetPeriphery::ReadColInfo(const TRecordBody &body) {
  const int first = body.U16(0);
  const int last = std::min<int>(body.U16(2), 255);
  const uint16_t width = body.U16(4), xf = body.U16(6), options = body.U16(8);
  for (int c = first; c <= last; ++c)
    Columns[c] = {true, width, xf, options};
}

void TSheetPeriphery::ReadHeaderFooter(const TRecordBody &body, bool footer) {
  (footer ? Print.Footer : Print.Header) = body.Length() == 0 ? std::u16string() : Wide16(body, 0, 2, 3);
}

void TSheetPeriphery::ReadPageBreaks(const TRecordBody &body, bool biff8) {
  const int count = body.U16(0);
  const int size = biff8 ? 6 : 2;
  body.Need(2, count * size);
  auto &list = body.Id() == 0x001B ? Print.RowBreaks : Print.ColBreaks;
  for (int i = 0; i < count; ++i)
    list.push_back(body.U16(2 + size * i));
}

void TSheetPeriphery::ReadSelection(const TRecordBody &body) {
  Selections.push_back({body.U8(0), body.U16(1), body.U16(3)});
}

void TSheetPeriphery::ReadPane(const TRecordBody &body, TXLSStream &stream, int maxLength) {
  Pane.assign(body.Data(), body.Data() + body.Length());
  TRawRecord next;
  while (ReadFollowingRecord(stream, {0x001D}, maxLength, next))
    if (next.Id != 0)
      ReadSelection(next.View());
}

void TSheetPeriphery::ReadCondFmt(const TRecordBody &body, TXLSStream &stream, int maxLength) {
  ReadRecordGroup(ConditionalFormats, body, body.U16(0), 0x01B1, stream, maxLength);
}

void TSheetPeriphery::ReadDVal(const TRecordBody &body, TXLSStream &stream, int maxLength) {
  ReadRecordGroup(Validations, body, body.U32(14), 0x01BE, stream, maxLength);
}

void TChart::Read(TXLSStream &stream, uint16_t bofId, const uint8_t *bof, int bofLength, int maxLength) {
  Records.push_back({bofId, {bof, bof + bofLength}});
  int depth = 1;
  TRawRecord next;
  while (depth > 0 && ReadRecord(stream, maxLength, next)) {
    if (next.Id == 0)
      continue;
    Records.push_back(next);
    if (IsBof(next.Id))
      ++depth;
    else if (next.Id == 0x000A)
      --depth;
  }
}

void TMSOPictures::ReadGroup(TXLSStream &stream, int recordLength) {
  const size_t start = Data.size();
  stream.BeginContinuedRead();
  struct TEnd {
    TXLSStream &S;
    ~TEnd() { S.EndContinuedRead(); }
  } end{stream};
  Data.resize(start + recordLength);
  if (recordLength > 0 && stream.ReadData(Data.data() + start, recordLength) != recordLength)
    throw common::Exception("Unexpected end of file");
  // A group container larger than one full record goes on in the records that follow.
  if (recordLength != ContinuedPieceSize)
    return;
  TRecordBody head(BIFF_MSODRAWINGGROUP, Data.data() + start, recordLength);
  const uint64_t total = 8 + static_cast<uint64_t>(head.U32(4));
  const uint64_t left = stream.StreamSize() > stream.Position() ? stream.StreamSize() - stream.Position() : 0;
  const uint16_t next = stream.PeekRecordId();
  if (total > static_cast<uint64_t>(recordLength) &&
      (next == BIFF_CONTINUE || next == BIFF_MSODRAWINGGROUP)) {
    const int want = static_cast<int>(std::min<uint64_t>(total - recordLength, left));
    const size_t at = Data.size();
    Data.resize(at + want);
    const int got = stream.ReadData(Data.data() + at, want);
    Data.resize(at + std::max(got, 0));
  }
}

} // namespace xls
