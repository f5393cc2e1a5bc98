#include "cells/formats.h"

#include <algorithm>

namespace xls {

void TXLSFonts::ReleaseFont(TXLSFont *font) {
  const auto it = std::find_if(FItems.begin() + std::clamp(FFixedCount, 0, Count()), FItems.end(),
                               [font](const std::unique_ptr<TXLSFont> &f) { return f.get() == font; });
  if (it != FItems.end() && --font->UseCount < 1)
    FItems.erase(it);
}

namespace {

// Formats 0 to 22, then 37 to 49; the reserved slots 23 to 36 between them read "General".
const char16_t *const BuiltInFormats[36] = {
    u"General",
    u"0",
    u"0.00",
    u"#,##0",
    u"#,##0.00",
    u"($#,##0_);($#,##0)",
    u"($#,##0_);[Red]($#,##0)",
    u"($#,##0.00_);($#,##0.00)",
    u"($#,##0.00_);[Red]($#,##0.00)",
    u"0%",
    u"0.00%",
    u"0.00E+00",
    u"# ?/?",
    u"# ?\?/??",
    u"m/d/yy",
    u"d-mmm-yy",
    u"d-mmm",
    u"mmm-yy",
    u"h:mm AM/PM",
    u"h:mm:ss AM/PM",
    u"h:mm",
    u"h:mm:ss",
    u"m/d/yy h:mm",
    u"(#,##0_);(#,##0)",
    u"(#,##0_);[Red](#,##0)",
    u"(#,##0.00_);(#,##0.00)",
    u"(#,##0.00_);[Red](#,##0.00)",
    u"_(* #,##0_);_(* (#,##0);_(* \"-\"_);_(@_)",
    u"_($* #,##0_);_($* (#,##0);_($* \"-\"_);_(@_)",
    u"_(* #,##0.00_);_(* (#,##0.00);_(* \"-\"?\?_);_(@_)",
    u"_($* #,##0.00_);_($* (#,##0.00);_($* \"-\"?\?_);_(@_)",
    u"mm:ss",
    u"[h]:mm:ss",
    u"mm:ss.0",
    u"##0.0E+0",
    u"@",
};

} // namespace

void TNumberFormats::Reset() {
  FItems.clear();
  for (uint16_t i = 0; i < 50; ++i)
    FItems.emplace(i, i < 23 ? BuiltInFormats[i] : i < 37 ? u"General" : BuiltInFormats[i - 14]);
}

const std::u16string *TNumberFormats::Find(uint16_t index) const {
  auto it = FItems.find(index);
  return it == FItems.end() ? nullptr : &it->second;
}

} // namespace xls
