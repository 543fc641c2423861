#include "platform/Calendar.h"

#include <gtest/gtest.h>

#include "platform/FileIO.h"

namespace ordana {
namespace {

TEST(Calendar, GregorianDaysAndValidity) {
  EXPECT_EQ(DaysInMonth(2024, 2), 29);
  EXPECT_EQ(DaysInMonth(1900, 2), 28);
  EXPECT_EQ(DaysInMonth(2000, 2), 29);
  EXPECT_EQ(DaysInMonth(2026, 11), 30);
  EXPECT_EQ(DaysInMonth(2026, 13), 0);
  EXPECT_TRUE(IsValidDate(1, 1, 1));
  EXPECT_TRUE(IsValidDate(9999, 12, 31));
  EXPECT_FALSE(IsValidDate(0, 1, 1));
  EXPECT_FALSE(IsValidDate(10000, 1, 1));
  EXPECT_FALSE(IsValidDate(2026, 4, 31));
  EXPECT_FALSE(IsValidDate(2026, 1, 0));
}

TEST(Calendar, OrderAcrossMonthsAndYears) {
  EXPECT_EQ((TDate{1, 1, 1}).Serial(), 0);
  EXPECT_EQ((TDate{2026, 12, 1}).Serial() - (TDate{2026, 11, 30}).Serial(), 1);
  EXPECT_EQ((TDate{2025, 1, 1}).Serial() - (TDate{2024, 12, 31}).Serial(), 1);
  EXPECT_EQ((TDate{2025, 1, 1}).Serial() - (TDate{2024, 1, 1}).Serial(), 366);
  EXPECT_LT((TDate{2026, 10, 31}), (TDate{2026, 11, 1}));
  EXPECT_EQ(FormatDate(TDate{2026, 3, 7}), u"07.03.2026");
  EXPECT_EQ(FormatDate(TDate{12, 11, 30}), u"30.11.0012");
  EXPECT_THROW(EncodeDate(2023, 2, 29), EConvertError);
  EXPECT_EQ(EncodeDate(2024, 2, 29), (TDate{2024, 2, 29}));
}

}  // namespace
}  // namespace ordana
