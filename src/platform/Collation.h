#pragma once
// Locale-aware, case-insensitive ordering of text (the order of the report's
// rows). Uses the collator of the process's default locale at secondary
// strength: letter case is ignored, accents and other marks are not.
#include <string>
#include <string_view>
#include <vector>

namespace ordana {

// Selects the locale of the collation ("ru_RU", "de", ...); an empty name
// returns to the process's default locale. A POSIX/C default locale falls
// back to the root collation, whose order is case-insensitive too.
void SetCollationLocale(const std::string& name);

// The sort key of a text: comparing two keys bytewise orders the texts like
// CompareTextLocale does.
std::string CollationSortKey(std::u16string_view text);

// <0, 0, >0.
int CompareTextLocale(std::u16string_view a, std::u16string_view b);

// Sorts texts by the collation; texts the collation holds equal stay in
// ordinal (code unit) order among themselves. Each key is computed once.
void SortByCollation(std::vector<std::u16string>& texts);

}  // namespace ordana
