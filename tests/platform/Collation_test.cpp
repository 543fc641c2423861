#include "platform/Collation.h"

#include <gtest/gtest.h>

#include "platform/Strings.h"
#include "support/System.h"

namespace ordana {
namespace {

struct CollationLocale {
  explicit CollationLocale(const std::string& name) { SetCollationLocale(name); }
  ~CollationLocale() { SetCollationLocale(""); }
};

// Extensions and names are compared lower-cased: only letters change, ASCII
// and the rest alike (the characters around 'A'..'Z' stay as they are).
TEST(LowerCase, LettersOnly) {
  EXPECT_EQ(LowerCase(u"@AZ[`az{ 09.MP3"), u"@az[`az{ 09.mp3");
  EXPECT_EQ(LowerCase(u"ÀÉÏ Ωμ ЖЁ Straße"), u"àéï ωμ жё straße");
  EXPECT_EQ(LowerCase(u""), u"");
}

TEST(Collation, CaseInsensitiveAccentSensitive) {
  for (const char* loc : {"ru_RU", "en_US", "en_US_POSIX", ""}) {
    CollationLocale l(loc);
    SCOPED_TRACE(loc);
    EXPECT_EQ(CompareTextLocale(u"N:\\Music\\Abc.MP3", u"n:\\music\\aBC.mp3"), 0);
    EXPECT_LT(CompareTextLocale(u"a", u"B"), 0);  // ordinal order would put 'B' first
    EXPECT_GT(CompareTextLocale(u"b", u"A"), 0);
    EXPECT_NE(CompareTextLocale(u"cafe", u"café"), 0);
    EXPECT_EQ(CompareTextLocale(u"Ёлка", u"ёЛКА"), 0);
    EXPECT_EQ(CollationSortKey(u"ABC"), CollationSortKey(u"abc"));
    EXPECT_LT(CollationSortKey(u"abc"), CollationSortKey(u"abd"));
  }
}

TEST(Collation, RussianOrder) {
  CollationLocale l("ru_RU");
  std::vector<std::u16string> v{u"яблоко", u"Арбуз", u"ёлка", u"Ель", u"жук", u"apple"};
  SortByCollation(v);
  // "ё" is "е" with a mark, so the next letters decide between "ёлка" and
  // "Ель". Where Latin goes differs between the systems' collations: ICU's
  // Russian puts its own script first, Windows keeps Latin before Cyrillic.
  std::vector<std::u16string> want{u"Арбуз", u"ёлка", u"Ель", u"жук", u"яблоко"};
  want.insert(kHostIsWindows ? want.begin() : want.end(), u"apple");
  EXPECT_EQ(v, want);
}

TEST(Collation, EqualTextsStayInOrdinalOrder) {
  std::vector<std::u16string> v{u"b", u"B", u"a", u"A", u"c", u"a"};
  SortByCollation(v);
  EXPECT_EQ(v, (std::vector<std::u16string>{u"A", u"a", u"a", u"B", u"b", u"c"}));
  std::vector<std::u16string> empty;
  SortByCollation(empty);
  EXPECT_TRUE(empty.empty());
}

}  // namespace
}  // namespace ordana
