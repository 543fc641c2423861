#include "platform/TextCodec.h"

#include <gtest/gtest.h>

#include <concepts>
#include <stdexcept>
#include <type_traits>

namespace ordana {
namespace {

// The encodings are kept apart by the compiler: none of these would compile.
template <class F, class Arg>
concept CallableWith = requires(F f, Arg a) { f(a); };
constexpr auto kAnsiToUtf16 = [](auto&& s) -> decltype(AnsiToUtf16(s)) { return AnsiToUtf16(s); };
constexpr auto kUtf8ToUtf16 = [](auto&& s) -> decltype(Utf8ToUtf16(s)) { return Utf8ToUtf16(s); };
static_assert(CallableWith<decltype(kAnsiToUtf16), AnsiString>);
static_assert(CallableWith<decltype(kUtf8ToUtf16), Utf8String>);
static_assert(!CallableWith<decltype(kAnsiToUtf16), Utf8String>, "UTF-8 read as ANSI");
static_assert(!CallableWith<decltype(kUtf8ToUtf16), AnsiString>, "ANSI read as UTF-8");
static_assert(!CallableWith<decltype(kAnsiToUtf16), std::string>, "bytes of no named encoding");
static_assert(!CallableWith<decltype(kUtf8ToUtf16), std::string>, "bytes of no named encoding");
static_assert(!std::is_convertible_v<AnsiString, Utf8String> && !std::is_convertible_v<Utf8String, AnsiString>);
static_assert(!std::is_convertible_v<AnsiString, std::string> && !std::is_convertible_v<std::string, AnsiString>);
static_assert(!std::is_convertible_v<Utf8String, std::string> && !std::is_convertible_v<std::string, Utf8String>);
static_assert(!std::is_convertible_v<const char*, AnsiString>, "an ANSI literal must be named so");
static_assert(!std::equality_comparable_with<AnsiString, Utf8String>);

struct CodePageGuard {
  std::string saved = AnsiCodePage();
  ~CodePageGuard() { SetAnsiCodePage(saved); }
};

TEST(TextCodec, DefaultCodePageIsWindows1251) {
  EXPECT_EQ(AnsiCodePage(), "windows-1251");
  // "Привет" in Windows-1251
  EXPECT_EQ(AnsiToUtf16(AnsiView("\xCF\xF0\xE8\xE2\xE5\xF2")), u"Привет");
  EXPECT_EQ(Utf16ToAnsi(u"Привет"), "\xCF\xF0\xE8\xE2\xE5\xF2");
}

TEST(TextCodec, UnmappableCharactersBecomeReplacementNotEntities) {
  // Greek and CJK have no place in Windows-1251: the code page's own
  // substitution byte ('?' = 0x3F for single-byte Windows code pages) stands in.
  AnsiString out = Utf16ToAnsi(u"aΩ漢b");
  EXPECT_EQ(out, "a??b");
  EXPECT_EQ(out.view().find("&#"), std::string::npos);
}

TEST(TextCodec, SelectableCodePage) {
  CodePageGuard guard;
  SetAnsiCodePage("windows-1252");
  EXPECT_EQ(AnsiToUtf16(AnsiView("caf\xE9")), u"café");
  EXPECT_EQ(Utf16ToAnsi(u"Привет"), "??????");
  EXPECT_THROW(SetAnsiCodePage("no-such-code-page"), std::invalid_argument);
  EXPECT_EQ(AnsiCodePage(), "windows-1252");  // a bad name changes nothing
}

TEST(TextCodec, Utf8RoundTripAndMalformedInput) {
  std::u16string s = u"Ärger – ☃ 𝄞";
  EXPECT_EQ(Utf8ToUtf16(Utf16ToUtf8(s)), s);
  EXPECT_EQ(Utf8ToUtf16("a\xFF" "b"), u"a\uFFFDb");
  EXPECT_EQ(Utf8ToUtf16("\xE2\x82"), u"\uFFFD");  // cut sequence
  // A lone surrogate cannot be encoded; it is replaced.
  EXPECT_EQ(Utf16ToUtf8(std::u16string(1, char16_t(0xD800))), "\xEF\xBF\xBD");
}

TEST(TextCodec, Utf16ByteOrders) {
  EXPECT_EQ(Utf16LEToUtf16(std::string("A\0\x3F\x04", 4)), u"Aп");
  EXPECT_EQ(Utf16BEToUtf16(std::string("\0A\x04\x3F", 4)), u"Aп");
  EXPECT_EQ(Utf16LEToUtf16(std::string("A\0B", 3)), u"A");  // odd byte ignored
  EXPECT_EQ(Utf16ToUtf16LE(u"Aп"), std::string("A\0\x3F\x04", 4));
}

TEST(TextCodec, ByteOrderMarkSelectsEncoding) {
  EXPECT_EQ(DecodeTextWithBom(std::string("\xFF\xFE" "a\0;\0", 6)), u"a;");
  EXPECT_EQ(DecodeTextWithBom(std::string("\xFE\xFF\0a\0;", 6)), u"a;");
  EXPECT_EQ(DecodeTextWithBom("\xEF\xBB\xBF\xD0\xBF"), u"п");
  EXPECT_EQ(DecodeTextWithBom("\xFF\xEC"), u"ям");  // no mark: Windows-1251
  EXPECT_EQ(DecodeTextWithBom(""), u"");
}

}  // namespace
}  // namespace ordana
