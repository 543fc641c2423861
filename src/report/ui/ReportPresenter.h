#pragma once
// The report window's logic, without any user-interface toolkit: the month
// list and the month preselected from the UTC clock, a month turned into a
// period, the build with its output path, the text of the error box and the
// opening of the finished report. The Qt window (Linux) and the Win32 dialog
// (Windows) are thin views that show what this decides and forward the
// user's actions to it.
#include <functional>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "platform/Calendar.h"
#include "platform/Clock.h"

namespace ordana {

// What the presenter needs of a window.
class TReportView {
 public:
  virtual ~TReportView() = default;
  // The month list (ComboBox1): replaces its entries.
  virtual void SetMonthNames(const std::vector<std::u16string>& names) = 0;
  virtual void SelectMonth(int index) = 0;    // 0 = January
  virtual int SelectedMonth() const = 0;      // -1 when none is selected
  // The two date pickers.
  virtual void SetPeriod(TDate start, TDate end) = 0;
  virtual TDate PeriodStart() const = 0;
  virtual TDate PeriodEnd() const = 0;
  // The folder field (Edit1).
  virtual std::u16string FolderText() const = 0;
  virtual void SetFolderText(const std::u16string& text) = 0;
};

// The services behind the window; each view fills in its toolkit's own.
struct TReportServices {
  std::shared_ptr<const Clock> clock = std::make_shared<SystemClock>();
  // The twelve long month names of the user's locale, January first.
  std::function<std::vector<std::u16string>()> monthNames;
  // The folder the user chose, or an empty text when the dialog was cancelled.
  std::function<std::u16string()> chooseFolder;
  // Builds the report (folder as typed, output file, first and last day);
  // throws EOrdanaError on failure.
  std::function<void(const std::u16string&, const std::u16string&, TDate, TDate)> build;
  // Asks the shell to open the written report; its result is not looked at.
  std::function<void(const std::u16string& file)> openFile;
  // An error box owned by the window: caption, text.
  std::function<void(const std::u16string& caption, const std::u16string& text)> showError;
  // The folder the report is written to, with a trailing delimiter.
  std::function<std::u16string()> outputFolder;
};

// The real build (BuildReport) and output folder (the program's folder); the
// toolkit services stay empty for the view to fill in.
TReportServices DefaultReportServices();

// The period of a whole month: its first and its last day.
std::pair<TDate, TDate> MonthPeriod(int year, int month);

// The text of the error box for a failed build: "Ошибка при создании
// отчета! \r\n" followed by the class name, ":" and the message.
std::u16string BuildErrorText(const std::string& className, const std::string& message);

// The caption of that box.
inline constexpr char16_t kBuildErrorCaption[] = u"Error";

class TReportPresenter {
 public:
  TReportPresenter(TReportView& view, TReportServices services);

  // The window is shown: fill the month list, select the current month (UTC)
  // and set its period.
  void FormShow();
  // A month was chosen: its period in the current year (UTC), whatever year
  // the pickers show. Nothing happens when no month is selected.
  void MonthChanged();
  // The folder button: the chosen folder, or an empty field when cancelled.
  void BrowseClicked();
  // The build button: builds into the output folder's report file and opens
  // it; on failure shows the error box and opens nothing. True on success.
  // An inverted period is built as it stands (a report with headings only).
  bool BuildClicked();

  // The path the report is written to.
  std::u16string OutputFile() const;

 private:
  TReportView& view_;
  TReportServices s_;
};

}  // namespace ordana
