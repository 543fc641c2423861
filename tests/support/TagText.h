#pragma once
// A tag's text fields as tests set them and expect them back, for every tag
// type that has them (TID3v2, TFLACfile, TOggVorbis, TWMA, ...): the fields
// given are set or checked, those left unset are not looked at.
#include <gtest/gtest.h>

#include <optional>
#include <string>
#include <type_traits>

#include "platform/TextCodec.h"

namespace ordana::test {

struct TagText {
  std::optional<std::u16string> title{}, artist{}, album{}, year{}, genre{}, comment{}, composer{}, vendor{};
};

// The fields of TagText with the name of the tag's accessor (Title(),
// SetTitle(...)): X(field, Name) for each.
#define ORDANA_TAG_TEXT_FIELDS(X)                                                              \
  X(title, Title) X(artist, Artist) X(album, Album) X(year, Year) X(genre, Genre)              \
  X(comment, Comment) X(composer, Composer) X(vendor, Vendor)

namespace detail {
inline void CompareField(const char* name, const std::optional<std::u16string>& want,
                         const std::u16string& got, std::string* wrong) {
  if (want && *want != got)
    *wrong += std::string(" ") + name + " is \"" + Utf16ToUtf8(got).bytes() + "\", not \"" +
              Utf16ToUtf8(*want).bytes() + "\";";
}
}  // namespace detail

// Whether the tag's fields are those of `want`. A field the tag's type does
// not have is a mismatch when `want` sets it.
template <class Tag>
::testing::AssertionResult HasText(const Tag& tag, const TagText& want) {
  std::string wrong;
  const auto field = [&](const char* name, const std::optional<std::u16string>& expected, auto get) {
    if constexpr (std::is_invocable_v<decltype(get), const Tag&>) {
      detail::CompareField(name, expected, get(tag), &wrong);
    } else if (expected) {
      wrong += std::string(" no field ") + name + ";";
    }
  };
#define ORDANA_CHECK_FIELD(member, Name) \
  field(#member, want.member, [](const auto& t) -> decltype(t.Name()) { return t.Name(); });
  ORDANA_TAG_TEXT_FIELDS(ORDANA_CHECK_FIELD)
#undef ORDANA_CHECK_FIELD
  if (wrong.empty()) return ::testing::AssertionSuccess();
  return ::testing::AssertionFailure() << "fields differ:" << wrong;
}

// Sets the fields that `text` sets, in the order above. A field the tag's
// type cannot set fails the test.
template <class Tag>
void SetText(Tag& tag, const TagText& text) {
  const auto field = [&](const char* name, const std::optional<std::u16string>& value, auto set) {
    if (!value) return;
    if constexpr (std::is_invocable_v<decltype(set), Tag&, const std::u16string&>) {
      set(tag, *value);
    } else {
      ADD_FAILURE() << "the tag has no field " << name;
    }
  };
#define ORDANA_SET_FIELD(member, Name)                                                             \
  field(#member, text.member,                                                                      \
        [](auto& t, const std::u16string& v) -> decltype(t.Set##Name(v)) { return t.Set##Name(v); });
  ORDANA_TAG_TEXT_FIELDS(ORDANA_SET_FIELD)
#undef ORDANA_SET_FIELD
}

}  // namespace ordana::test
