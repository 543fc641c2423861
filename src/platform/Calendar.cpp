#include "platform/Calendar.h"

#include <cstdio>

#include "platform/FileIO.h"
#include "platform/TextCodec.h"

namespace ordana {

bool IsLeapYear(int y) { return (y % 4 == 0 && y % 100 != 0) || y % 400 == 0; }

int DaysInMonth(int y, int m) {
  static const int days[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
  if (m < 1 || m > 12) return 0;
  return m == 2 && IsLeapYear(y) ? 29 : days[m - 1];
}

bool IsValidDate(int y, int m, int d) {
  return y >= 1 && y <= 9999 && m >= 1 && m <= 12 && d >= 1 && d <= DaysInMonth(y, m);
}

int32_t TDate::Serial() const {
  int y = Year - 1;
  int32_t days = y * 365 + y / 4 - y / 100 + y / 400;
  for (int m = 1; m < Month; ++m) days += DaysInMonth(Year, m);
  return days + Day - 1;
}

TDate EncodeDate(int year, int month, int day) {
  if (!IsValidDate(year, month, day)) throw EConvertError("Invalid argument to date encode");
  return TDate{year, month, day};
}

std::u16string FormatDate(const TDate& d) {
  char buf[32];
  std::snprintf(buf, sizeof buf, "%02d.%02d.%04d", d.Day, d.Month, d.Year);
  return U16(buf);
}

}  // namespace ordana
