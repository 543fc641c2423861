#include "platform/Collation.h"

#include <unicode/coll.h>
#include <unicode/locid.h>

#include <algorithm>
#include <memory>
#include <mutex>
#include <stdexcept>

namespace ordana {

namespace {

struct CollatorHolder {
  std::mutex lock;
  std::unique_ptr<icu::Collator> collator;
  std::string localeName;  // empty: the default locale
};

CollatorHolder& Holder() {
  static CollatorHolder h;
  return h;
}

std::unique_ptr<icu::Collator> MakeCollator(const std::string& name) {
  icu::Locale loc = name.empty() ? icu::Locale::getDefault() : icu::Locale(name.c_str());
  // The POSIX locale's collation orders upper case before all lower case,
  // which would split one title into two places; use the root order there.
  std::string variant = loc.getVariant();
  if (variant == "POSIX" || std::string(loc.getLanguage()) == "c") loc = icu::Locale::getRoot();
  UErrorCode status = U_ZERO_ERROR;
  std::unique_ptr<icu::Collator> c(icu::Collator::createInstance(loc, status));
  if (U_FAILURE(status) || !c) {
    status = U_ZERO_ERROR;
    c.reset(icu::Collator::createInstance(icu::Locale::getRoot(), status));
    if (U_FAILURE(status) || !c) throw std::runtime_error("no collator available");
  }
  c->setStrength(icu::Collator::SECONDARY);
  return c;
}

icu::Collator& Collator() {
  CollatorHolder& h = Holder();
  if (!h.collator) h.collator = MakeCollator(h.localeName);
  return *h.collator;
}

icu::UnicodeString Ustr(std::u16string_view s) {
  return icu::UnicodeString(false, s.data(), static_cast<int32_t>(s.size()));
}

std::string KeyOf(icu::Collator& c, std::u16string_view text) {
  icu::UnicodeString u = Ustr(text);
  std::string key(64, '\0');
  int32_t n = c.getSortKey(u, reinterpret_cast<uint8_t*>(key.data()), static_cast<int32_t>(key.size()));
  if (n > static_cast<int32_t>(key.size())) {
    key.resize(static_cast<size_t>(n));
    n = c.getSortKey(u, reinterpret_cast<uint8_t*>(key.data()), n);
  }
  // The key ends with a zero byte; keys compare without it.
  key.resize(n > 0 ? static_cast<size_t>(n - 1) : 0);
  return key;
}

}  // namespace

void SetCollationLocale(const std::string& name) {
  CollatorHolder& h = Holder();
  std::lock_guard<std::mutex> g(h.lock);
  h.localeName = name;
  h.collator.reset();
}

std::string CollationSortKey(std::u16string_view text) {
  std::lock_guard<std::mutex> g(Holder().lock);
  return KeyOf(Collator(), text);
}

int CompareTextLocale(std::u16string_view a, std::u16string_view b) {
  std::lock_guard<std::mutex> g(Holder().lock);
  UErrorCode status = U_ZERO_ERROR;
  UCollationResult r = Collator().compare(Ustr(a), Ustr(b), status);
  return r == UCOL_LESS ? -1 : r == UCOL_GREATER ? 1 : 0;
}

}  // namespace ordana
