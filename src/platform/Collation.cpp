// What collation does the same way on every system: sorting by the keys of
// the backend (posix: ICU, win32: LCMapStringEx).
#include "platform/Collation.h"

#include <algorithm>
#include <numeric>

namespace ordana {

void SortByCollation(std::vector<std::u16string>& texts) {
  std::vector<std::string> keys(texts.size());
  for (size_t i = 0; i < texts.size(); ++i) keys[i] = CollationSortKey(texts[i]);
  std::vector<size_t> order(texts.size());
  std::iota(order.begin(), order.end(), size_t{0});
  std::sort(order.begin(), order.end(), [&](size_t a, size_t b) {
    if (int k = keys[a].compare(keys[b]); k != 0) return k < 0;
    return texts[a] < texts[b];
  });
  std::vector<std::u16string> sorted;
  sorted.reserve(texts.size());
  for (size_t i : order) sorted.push_back(std::move(texts[i]));
  texts = std::move(sorted);
}

}  // namespace ordana
