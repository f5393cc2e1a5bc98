// Opens arbitrary bytes as a workbook (as a compound-file image and as a plain file) and reads
// every record the way the record reader does: headers, bodies, continued reads of drawing
// groups, and decryption when a FILEPASS appears.
#include <cstdint>
#include <cstdio>
#include <string>
#include <unistd.h>
#include <vector>

#include "common/exception.h"
#include "common/text.h"
#include "xls/xls_stream.h"

namespace {

void ReadAll(xls::TXLSStream &s) {
  std::vector<uint8_t> body(20000);
  uint8_t h[4];
  for (int records = 0; records < 100000 && s.ReadHeader(h) == 4; ++records) {
    const uint16_t id = static_cast<uint16_t>(h[0] | h[1] << 8);
    const int length = h[2] | h[3] << 8;
    // Oversized bodies are skipped as the record reader skips them; every read below then fits
    // the buffer, continued reads included (at most 8224 + 8224 & 0x3FFF bytes).
    if (length > 8224) {
      s.Seek(length, 1);
    } else if ((id & 0xFF) == 0x09) {
      s.ReadNoDecryptAdvance(body.data(), length);
    } else if (id == xls::BIFF_MSODRAWINGGROUP) {
      // Ask for more than the record holds so that continued reads cross records.
      s.BeginContinuedRead();
      s.ReadData(body.data(), length + (length & 0x3FFF));
      s.EndContinuedRead();
    } else if (id == xls::BIFF_FILEPASS && !s.Encrypted()) {
      s.ReadData(body.data(), length);
      s.StartDecryption(body.data(), length, u"VelvetSweatshop");
    } else {
      s.ReadData(body.data(), length);
    }
    s.PeekRecordId();
  }
  s.Seek(-7, 2);
  s.Position();
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  std::vector<uint8_t> image(data, data + size);
  try {
    xls::TXLSStream s;
    s.SetSourceStream(image);
    s.OpenWorkbook(u"fuzz.xls");
    ReadAll(s);
  } catch (const common::Exception &) {
  }
  // The plain-file path: only worth it for small inputs without the compound-file signature.
  if (size >= 4 && size < 65536 && data[0] != 0xD0) {
    static const std::string path = "/tmp/xe_fuzz_xls_stream_" + std::to_string(getpid()) + ".xls";
    if (FILE *f = std::fopen(path.c_str(), "wb")) {
      std::fwrite(data, 1, size, f);
      std::fclose(f);
      try {
        xls::TXLSStream s;
        s.OpenWorkbook(common::Utf8ToUtf16(path));
        ReadAll(s);
      } catch (const common::Exception &) {
      }
    }
  }
  return 0;
}
