#include "common/exception.h"
#include "common/text.h"
#include "common/variant.h"

#include <gtest/gtest.h>

using namespace common;

TEST(Text, Utf8AndUtf16RoundTripIncludingAstralCharacters) {
  const std::string utf8 = "a\xC3\xA9\xE2\x82\xAC\xF0\x9F\x98\x80z"; // a é € 😀 z
  const std::u16string wide = Utf8ToUtf16(utf8);
  EXPECT_EQ(wide, (std::u16string{u'a', 0xE9, 0x20AC, 0xD83D, 0xDE00, u'z'}));
  EXPECT_EQ(Utf16ToUtf8(wide), utf8);
}

TEST(Text, MalformedInputBecomesReplacementCharacters) {
  EXPECT_EQ(Utf8ToUtf16("a\xFF"
                        "b"),
            (std::u16string{u'a', 0xFFFD, u'b'}));
  EXPECT_EQ(Utf8ToUtf16("\xE2\x82"), (std::u16string{0xFFFD}));          // truncated sequence
  EXPECT_EQ(Utf8ToUtf16("\xC0\xAF"), (std::u16string{0xFFFD}));          // overlong
  EXPECT_EQ(Utf16ToUtf8(std::u16string{0xD800, u'x'}), "\xEF\xBF\xBDx"); // lone surrogate
}

TEST(Text, CodePagesDecodeWithWindows1252AsTheFallback) {
  EXPECT_EQ(DecodeCodePage("\x80\xE9"), (std::u16string{0x20AC, 0xE9}));
  EXPECT_EQ(DecodeCodePage("\x80", 1200), (std::u16string{0x20AC}));    // UTF-16 claimed for 8-bit text
  EXPECT_EQ(DecodeCodePage("\x80", 4242), (std::u16string{0x20AC}));    // unknown code page
  EXPECT_EQ(DecodeCodePage("\xC0", 1251), (std::u16string{0x0410}));    // Cyrillic A
  EXPECT_EQ(DecodeCodePage("\x8A", 32768), (std::u16string{0xE4}));     // Mac Roman a-umlaut
  EXPECT_EQ(DecodeCodePage("\x82\xA0", 932), (std::u16string{0x3042})); // Shift-JIS hiragana a
  // 0x81 is undefined in Windows-1252: it is replaced and decoding goes on.
  EXPECT_EQ(DecodeCodePage("a\x81"
                           "b",
                           1252)
                .size(),
            3u);
  EXPECT_EQ(Latin1ToUtf16("\xE9\x80"), (std::u16string{0xE9, 0x80}));
}

TEST(Text, TrimRemovesControlCharactersAndBlanksOnly) {
  EXPECT_EQ(TrimControl(std::string_view(" \t\r\n Price \x01")), "Price");
  EXPECT_EQ(TrimControl(std::string_view("\xC3\xA9 ")), "\xC3\xA9"); // UTF-8 lead bytes stay
  EXPECT_EQ(TrimControl(std::u16string_view(u"  x y  ")), u"x y");
  EXPECT_EQ(TrimControl(std::string_view("   ")), "");
}

TEST(Errors, ListIndexAndAbortMessages) {
  try {
    ListIndexError(7);
    FAIL();
  } catch (const Exception &e) {
    EXPECT_STREQ(e.what(), "List index out of bounds (7)");
  }
  EXPECT_THROW(throw EAbort("Cannot make new node here"), Exception);
}

TEST(VariantText, EachKindHasItsTextForm) {
  EXPECT_EQ(Variant().ToText(), "");
  EXPECT_EQ(Variant::FromInt8(-5).ToText(), "-5");
  EXPECT_EQ(Variant::FromInt16(1).ToText(), "1");
  EXPECT_EQ(Variant::FromInt32(-2147483647 - 1).ToText(), "-2147483648");
  EXPECT_EQ(Variant::FromDouble(1234.5).ToText().size(), 6u);
  EXPECT_EQ(Variant::FromWide(u"\u00e9t\u00e9").ToText(), "\xC3\xA9t\xC3\xA9");
  EXPECT_EQ(Variant::FromText("abc").ToText(), "abc");
  EXPECT_THROW(Variant::FromInt8(1).AsWide(), Exception);
  EXPECT_EQ(Variant::FromInt16(7).AsDouble(), 7.0);
}
