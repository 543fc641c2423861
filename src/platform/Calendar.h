#pragma once
// Calendar days without time of day (the report period).
#include <compare>
#include <cstdint>
#include <string>

namespace ordana {

bool IsLeapYear(int year);           // Gregorian rule
int DaysInMonth(int year, int month);  // 0 for a month outside 1..12
bool IsValidDate(int year, int month, int day);  // year 1..9999

struct TDate {
  int Year = 1;
  int Month = 1;
  int Day = 1;
  // Days since 1 January of year 1 (that day is 0); orders dates.
  int32_t Serial() const;
  auto operator<=>(const TDate& o) const { return Serial() <=> o.Serial(); }
  bool operator==(const TDate& o) const { return Serial() == o.Serial(); }
};

// The date, or EConvertError "Invalid argument to date encode".
TDate EncodeDate(int year, int month, int day);
// "dd.mm.yyyy"
std::u16string FormatDate(const TDate& d);

}  // namespace ordana
