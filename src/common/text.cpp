#include "common/text.h"

#include <iconv.h>

#include <cerrno>
#include <map>
#include <memory>

namespace common {
namespace {

constexpr char16_t kReplacement = 0xFFFD;

void AppendUtf8(std::string &out, char32_t c) {
  if (c < 0x80) {
    out += static_cast<char>(c);
  } else if (c < 0x800) {
    out += static_cast<char>(0xC0 | (c >> 6));
    out += static_cast<char>(0x80 | (c & 0x3F));
  } else if (c < 0x10000) {
    out += static_cast<char>(0xE0 | (c >> 12));
    out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (c & 0x3F));
  } else {
    out += static_cast<char>(0xF0 | (c >> 18));
    out += static_cast<char>(0x80 | ((c >> 12) & 0x3F));
    out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (c & 0x3F));
  }
}

void AppendUtf16(std::u16string &out, char32_t c) {
  if (c < 0x10000) {
    out += static_cast<char16_t>(c);
  } else {
    c -= 0x10000;
    out += static_cast<char16_t>(0xD800 + (c >> 10));
    out += static_cast<char16_t>(0xDC00 + (c & 0x3FF));
  }
}

const char *IconvName(int codePage) {
  switch (codePage) {
  case 367: return "ASCII";
  case 437: return "CP437";
  case 737: return "CP737";
  case 775: return "CP775";
  case 850: return "CP850";
  case 852: return "CP852";
  case 855: return "CP855";
  case 857: return "CP857";
  case 860: return "CP860";
  case 861: return "CP861";
  case 862: return "CP862";
  case 863: return "CP863";
  case 864: return "CP864";
  case 865: return "CP865";
  case 866: return "CP866";
  case 869: return "CP869";
  case 874: return "CP874";
  case 932: return "CP932";
  case 936: return "CP936";
  case 949: return "CP949";
  case 950: return "CP950";
  case 1250: return "CP1250";
  case 1251: return "CP1251";
  case 1253: return "CP1253";
  case 1254: return "CP1254";
  case 1255: return "CP1255";
  case 1256: return "CP1256";
  case 1257: return "CP1257";
  case 1258: return "CP1258";
  case 1361: return "JOHAB";
  case 10000:
  case 32768: return "MACINTOSH";
  case 10007: return "MAC-CYRILLIC";
  case 20866: return "KOI8-R";
  case 21866: return "KOI8-U";
  case 28591: return "ISO-8859-1";
  case 65001: return "UTF-8";
  default: return "CP1252";
  }
}

struct IconvCloser {
  void operator()(void *cd) const { iconv_close(static_cast<iconv_t>(cd)); }
};

// One converter per code page, opened on first use; iconv_open is far dearer than a conversion.
iconv_t Converter(int codePage) {
  static std::map<int, std::unique_ptr<void, IconvCloser>> cache;
  auto found = cache.find(codePage);
  if (found != cache.end())
    return static_cast<iconv_t>(found->second.get());
  iconv_t cd = iconv_open("UTF-16LE", IconvName(codePage));
  if (cd == reinterpret_cast<iconv_t>(-1))
    cd = iconv_open("UTF-16LE", "CP1252");
  cache.emplace(codePage, std::unique_ptr<void, IconvCloser>(cd));
  return cd;
}

} // namespace

std::u16string Utf8ToUtf16(std::string_view text) {
  std::u16string out;
  out.reserve(text.size());
  const auto *p = reinterpret_cast<const unsigned char *>(text.data());
  const size_t n = text.size();
  size_t i = 0;
  while (i < n) {
    const unsigned char b = p[i];
    if (b < 0x80) {
      out += static_cast<char16_t>(b);
      ++i;
      continue;
    }
    int extra = 0;
    char32_t c = 0;
    char32_t min = 0;
    if ((b & 0xE0) == 0xC0) {
      extra = 1, c = b & 0x1F, min = 0x80;
    } else if ((b & 0xF0) == 0xE0) {
      extra = 2, c = b & 0x0F, min = 0x800;
    } else if ((b & 0xF8) == 0xF0) {
      extra = 3, c = b & 0x07, min = 0x10000;
    } else {
      out += kReplacement;
      ++i;
      continue;
    }
    size_t j = 1;
    for (; j <= static_cast<size_t>(extra) && i + j < n && (p[i + j] & 0xC0) == 0x80; ++j)
      c = (c << 6) | (p[i + j] & 0x3F);
    if (j != static_cast<size_t>(extra) + 1 || c < min || c > 0x10FFFF || (c >= 0xD800 && c <= 0xDFFF)) {
      out += kReplacement;
      i += j;
      continue;
    }
    AppendUtf16(out, c);
    i += j;
  }
  return out;
}

std::string Utf16ToUtf8(std::u16string_view text) {
  std::string out;
  size_t ascii = 0; // most text is ASCII: that part is copied without tests
  while (ascii < text.size() && text[ascii] < 0x80)
    ++ascii;
  out.resize(ascii);
  std::copy(text.begin(), text.begin() + ascii, out.begin());
  for (size_t i = ascii; i < text.size(); ++i) {
    char32_t c = text[i];
    if (c >= 0xD800 && c <= 0xDBFF && i + 1 < text.size() && text[i + 1] >= 0xDC00 && text[i + 1] <= 0xDFFF) {
      c = 0x10000 + ((c - 0xD800) << 10) + (text[i + 1] - 0xDC00);
      ++i;
    } else if (c >= 0xD800 && c <= 0xDFFF) {
      c = kReplacement;
    }
    AppendUtf8(out, c);
  }
  return out;
}

std::u16string Latin1ToUtf16(std::string_view bytes) {
  std::u16string out(bytes.size(), u'\0');
  for (size_t i = 0; i < bytes.size(); ++i)
    out[i] = static_cast<unsigned char>(bytes[i]);
  return out;
}

void AppendLatin1AsUtf8(std::string &out, std::string_view bytes) {
  for (const char c : bytes)
    AppendUtf8(out, static_cast<unsigned char>(c));
}

std::u16string DecodeCodePage(std::string_view bytes, int codePage) {
  if (bytes.empty())
    return {};
  if (codePage == 65001)
    return Utf8ToUtf16(bytes);
  iconv_t cd = Converter(codePage);
  iconv(cd, nullptr, nullptr, nullptr, nullptr);
  std::u16string out;
  out.reserve(bytes.size());
  char *in = const_cast<char *>(bytes.data());
  size_t inLeft = bytes.size();
  char16_t buffer[512];
  while (inLeft > 0) {
    char *dst = reinterpret_cast<char *>(buffer);
    size_t dstLeft = sizeof(buffer);
    const size_t rc = iconv(cd, &in, &inLeft, &dst, &dstLeft);
    out.append(buffer, (sizeof(buffer) - dstLeft) / sizeof(char16_t));
    if (rc == static_cast<size_t>(-1) && errno != E2BIG) {
      // A byte the code page does not define, or a truncated multi-byte sequence.
      out += kReplacement;
      ++in;
      --inLeft;
      iconv(cd, nullptr, nullptr, nullptr, nullptr);
    }
  }
  return out;
}

std::string_view TrimControlView(std::string_view text) {
  size_t b = 0, e = text.size();
  while (b < e && static_cast<unsigned char>(text[b]) <= 32)
    ++b;
  while (e > b && static_cast<unsigned char>(text[e - 1]) <= 32)
    --e;
  return text.substr(b, e - b);
}

std::string TrimControl(std::string_view text) { return std::string(TrimControlView(text)); }

std::u16string TrimControl(std::u16string_view text) {
  size_t b = 0, e = text.size();
  while (b < e && text[b] <= 32)
    ++b;
  while (e > b && text[e - 1] <= 32)
    --e;
  return std::u16string(text.substr(b, e - b));
}

} // namespace common
