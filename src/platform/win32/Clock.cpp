#include <windows.h>

#include "platform/Clock.h"

namespace ordana {

TUtcNow SystemClock::NowUtc() const {
  SYSTEMTIME t{};
  GetSystemTime(&t);  // UTC
  return {t.wYear, t.wMonth, t.wDay, t.wHour, t.wMinute};
}

}  // namespace ordana
