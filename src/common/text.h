#pragma once

#include <string>
#include <string_view>

namespace common {

// 8-bit text is UTF-8 in std::string, wide text UTF-16 in std::u16string. Malformed input never
// throws: an invalid byte sequence or a lone surrogate becomes U+FFFD.
std::u16string Utf8ToUtf16(std::string_view text);
std::string Utf16ToUtf8(std::u16string_view text);

// Latin-1 bytes widened one to one (BIFF8 "compressed" strings), or appended to out as UTF-8.
std::u16string Latin1ToUtf16(std::string_view bytes);
void AppendLatin1AsUtf8(std::string &out, std::string_view bytes);

// Decodes legacy 8-bit bytes in a Windows code page through iconv. Code page 0, an unknown one,
// and 1200 (UTF-16 claimed for 8-bit strings) fall back to Windows-1252.
std::u16string DecodeCodePage(std::string_view bytes, int codePage = 1252);

// Removes leading and trailing characters with codes 0 to 32 (bytes, so UTF-8 lead bytes stay).
std::string_view TrimControlView(std::string_view text);
std::string TrimControl(std::string_view text);
std::u16string TrimControl(std::u16string_view text);

} // namespace common
