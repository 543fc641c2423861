// The report window's logic through a fake view: what the Qt window and the
// Win32 dialog both show and do.
#include "report/ui/ReportPresenter.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <optional>

#include "platform/FileIO.h"
#include "support/TestFiles.h"

namespace ordana {
namespace {

class FakeView : public TReportView {
 public:
  std::vector<std::u16string> months;
  int selected = -1;
  TDate start{1999, 6, 6}, end{1999, 6, 7};
  std::u16string folder = u"N:\\Output\\Project\\Report";

  void SetMonthNames(const std::vector<std::u16string>& names) override {
    months = names;
    selected = -1;  // a list that is filled anew has no selection
  }
  void SelectMonth(int index) override { selected = index; }
  int SelectedMonth() const override { return selected; }
  void SetPeriod(TDate s, TDate e) override { start = s, end = e; }
  TDate PeriodStart() const override { return start; }
  TDate PeriodEnd() const override { return end; }
  std::u16string FolderText() const override { return folder; }
  void SetFolderText(const std::u16string& t) override { folder = t; }
};

struct Recorded {
  std::vector<std::u16string> opened;
  std::u16string caption, text;
  int errors = 0;
  std::u16string builtFolder, builtOutput;
  std::optional<TDate> builtStart, builtEnd;
};

std::vector<std::u16string> Names() {
  std::vector<std::u16string> n;
  for (int m = 1; m <= 12; ++m) n.push_back(u"M" + std::u16string(1, char16_t(u'@' + m)));
  return n;
}

TReportServices Fake(Recorded& r, TUtcNow now) {
  TReportServices s;
  s.clock = std::make_shared<FixedClock>(now);
  s.monthNames = Names;
  s.chooseFolder = [] { return std::u16string(); };
  s.build = [&r](const std::u16string& f, const std::u16string& o, TDate a, TDate b) {
    r.builtFolder = f;
    r.builtOutput = o;
    r.builtStart = a;
    r.builtEnd = b;
  };
  s.openFile = [&r](const std::u16string& f) { r.opened.push_back(f); };
  s.showError = [&r](const std::u16string& c, const std::u16string& t) {
    r.caption = c;
    r.text = t;
    ++r.errors;
  };
  s.outputFolder = [] { return std::u16string(u"/prog/"); };
  return s;
}

// The view has month `selected` chosen and the period from start to end.
::testing::AssertionResult Shows(const FakeView& v, int selected, TDate start, TDate end) {
  if (v.selected == selected && v.start == start && v.end == end) return ::testing::AssertionSuccess();
  return ::testing::AssertionFailure() << "shows month " << v.selected << " from "
                                       << ::testing::PrintToString(v.start) << " to "
                                       << ::testing::PrintToString(v.end);
}

TEST(ReportPresenter, EveryMonthOfALeapYearAndTheYearOfTheClockOnly) {
  Recorded r;
  FakeView v;
  TReportPresenter p(v, Fake(r, {2028, 3, 5, 12, 0}));
  p.FormShow();
  EXPECT_EQ(v.months, Names());
  EXPECT_TRUE(Shows(v, 2, {2028, 3, 1}, {2028, 3, 31}));
  const int days[] = {31, 29, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
  for (int m = 1; m <= 12; ++m) {
    v.start = {1999, 6, 6};  // the pickers' year is never looked at
    v.selected = m - 1;
    p.MonthChanged();
    EXPECT_EQ(v.start, (TDate{2028, m, 1})) << m;
    EXPECT_EQ(v.end, (TDate{2028, m, days[m - 1]})) << m;
  }
  // No selection: the period stays as the user left it.
  v.selected = -1;
  v.start = {2001, 2, 3};
  p.MonthChanged();
  EXPECT_EQ(v.start, (TDate{2001, 2, 3}));
}

TEST(ReportPresenter, TheMonthAndYearComeFromUtcNotLocalTime) {
  // 00:30 on 1 February three hours east of UTC is 21:30 UTC on 31 January.
  Recorded r;
  FakeView v;
  TReportPresenter p(v, Fake(r, {2027, 1, 31, 21, 30}));
  p.FormShow();
  EXPECT_TRUE(Shows(v, 0, {2027, 1, 1}, {2027, 1, 31}));
  // 00:30 on 1 January there: still December of the year before, and every
  // month then uses that year.
  FakeView w;
  TReportPresenter q(w, Fake(r, {2026, 12, 31, 21, 30}));
  q.FormShow();
  EXPECT_TRUE(Shows(w, 11, {2026, 12, 1}, {2026, 12, 31}));
  w.selected = 1;
  q.MonthChanged();
  EXPECT_EQ(w.end, (TDate{2026, 2, 28}));
}

TEST(ReportPresenter, FolderButtonPutsTheChoiceOrEmptiesTheFieldWhenCancelled) {
  Recorded r;
  FakeView v;
  TReportServices s = Fake(r, {2026, 11, 5, 9, 0});
  std::u16string answer = u"/srv/velmora/logs";
  s.chooseFolder = [&answer] { return answer; };
  TReportPresenter p(v, s);
  p.BrowseClicked();
  EXPECT_EQ(v.folder, u"/srv/velmora/logs");
  answer.clear();  // cancelled
  p.BrowseClicked();
  EXPECT_EQ(v.folder, u"");
}

TEST(ReportPresenter, BuildPassesTheFieldsAsTheyStandAndOpensTheReport) {
  Recorded r;
  FakeView v;
  TReportPresenter p(v, Fake(r, {2026, 11, 5, 9, 0}));
  v.folder = u" N:\\Logs ";  // as typed, not trimmed
  v.start = {2026, 11, 30};
  v.end = {2026, 11, 1};  // inverted: built as it stands
  EXPECT_TRUE(p.BuildClicked());
  EXPECT_EQ(r.builtFolder, u" N:\\Logs ");
  EXPECT_EQ(r.builtOutput, u"/prog/~~report_gen.htm");
  EXPECT_EQ(*r.builtStart, (TDate{2026, 11, 30}));
  EXPECT_EQ(*r.builtEnd, (TDate{2026, 11, 1}));
  ASSERT_EQ(r.opened.size(), 1u);
  EXPECT_EQ(r.opened[0], u"/prog/~~report_gen.htm");
  EXPECT_EQ(r.errors, 0);
}

TEST(ReportPresenter, AFailedBuildShowsTheErrorBoxAndOpensNothing) {
  Recorded r;
  FakeView v;
  TReportServices s = Fake(r, {2026, 11, 5, 9, 0});
  s.build = [](const std::u16string&, const std::u16string&, TDate, TDate) {
    throw EConvertError("Invalid argument to date encode");
  };
  TReportPresenter p(v, s);
  EXPECT_FALSE(p.BuildClicked());
  EXPECT_EQ(r.errors, 1);
  EXPECT_EQ(r.caption, u"Error");
  EXPECT_EQ(r.text, u"Ошибка при создании отчета! \r\nEConvertError:Invalid argument to date encode");
  EXPECT_TRUE(r.opened.empty());
  // The window keeps its values for the next try.
  EXPECT_EQ(v.folder, u"N:\\Output\\Project\\Report");
}

TEST(ReportPresenter, TheRealBuildWritesTheReportIntoTheOutputFolder) {
  test::TempDir logs, prog;
  test::WriteBytes(logs.path() / "2026-11-05.csv",
                   "x;;y;" + logs.File("missing.mp3") + "\r\n");
  Recorded r;
  FakeView v;
  TReportServices s = DefaultReportServices();
  s.clock = std::make_shared<FixedClock>(TUtcNow{2026, 11, 20, 10, 0});
  s.monthNames = Names;
  s.openFile = [&r](const std::u16string& f) { r.opened.push_back(f); };
  s.showError = [&r](const std::u16string&, const std::u16string& t) { r.text = t, ++r.errors; };
  s.outputFolder = [&prog] { return prog.File16(""); };
  TReportPresenter p(v, s);
  p.FormShow();
  v.folder = logs.File16("");
  ASSERT_TRUE(p.BuildClicked()) << std::string(r.text.begin(), r.text.end());
  ASSERT_EQ(r.opened.size(), 1u);
  const std::string page = test::ReadBytes(prog.path() / "~~report_gen.htm");
  EXPECT_NE(page.find("01.11.2026 - 30.11.2026"), std::string::npos);
  // One row for the missing file: no length, played once.
  const std::string noLength = std::string("??") + ":??";  // kept apart from trigraphs
  EXPECT_NE(page.find("<td>" + noLength + "</td><td>1</td><td>" + noLength + "</td>"),
            std::string::npos);
}

}  // namespace
}  // namespace ordana
