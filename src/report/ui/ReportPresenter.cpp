#include "report/ui/ReportPresenter.h"

#include <exception>

#include "platform/FileIO.h"
#include "platform/ProgramFolder.h"
#include "platform/TextCodec.h"
#include "report/BuildReport.h"

namespace ordana {

TReportServices DefaultReportServices() {
  TReportServices s;
  s.build = [](const std::u16string& folder, const std::u16string& out, TDate start, TDate end) {
    BuildReport(folder, out, start, end);
  };
  s.outputFolder = [] { return ProgramFolder(); };
  return s;
}

std::pair<TDate, TDate> MonthPeriod(int year, int month) {
  return {TDate{year, month, 1}, TDate{year, month, DaysInMonth(year, month)}};
}

std::u16string BuildErrorText(const std::string& className, const std::string& message) {
  return u"Ошибка при создании отчета! \r\n" + Utf8ToUtf16(Utf8View(className)) + u":" + Utf8ToUtf16(Utf8View(message));
}

TReportPresenter::TReportPresenter(TReportView& view, TReportServices services)
    : view_(view), s_(std::move(services)) {}

void TReportPresenter::FormShow() {
  view_.SetMonthNames(s_.monthNames ? s_.monthNames() : std::vector<std::u16string>{});
  view_.SelectMonth(s_.clock->NowUtc().Month - 1);
  // Selecting by program raises no change of its own.
  MonthChanged();
}

void TReportPresenter::MonthChanged() {
  const int index = view_.SelectedMonth();
  if (index < 0 || index > 11) return;
  const auto [start, end] = MonthPeriod(s_.clock->NowUtc().Year, index + 1);
  view_.SetPeriod(start, end);
}

void TReportPresenter::BrowseClicked() {
  view_.SetFolderText(s_.chooseFolder ? s_.chooseFolder() : std::u16string());
}

std::u16string TReportPresenter::OutputFile() const {
  return (s_.outputFolder ? s_.outputFolder() : std::u16string()) + kReportFileName;
}

bool TReportPresenter::BuildClicked() {
  const std::u16string out = OutputFile();
  std::u16string error;
  try {
    s_.build(view_.FolderText(), out, view_.PeriodStart(), view_.PeriodEnd());
  } catch (const EOrdanaError& e) {
    error = BuildErrorText(e.ClassName(), e.Message());
  } catch (const std::exception& e) {
    error = BuildErrorText("Exception", e.what());
  }
  if (!error.empty()) {
    if (s_.showError) s_.showError(kBuildErrorCaption, error);
    return false;
  }
  if (s_.openFile) s_.openFile(out);
  return true;
}

}  // namespace ordana
