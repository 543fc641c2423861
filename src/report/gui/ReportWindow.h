#pragma once
#include <QComboBox>
#include <QDateEdit>
#include <QDialog>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <functional>
#include <memory>

#include "AboutWindow.h"
#include "platform/Calendar.h"
#include "platform/Clock.h"
#include "report/ui/ReportPresenter.h"

namespace ordana {

// The seams of the report window; the defaults are the real services.
struct TForm5Services {
  std::shared_ptr<const Clock> clock = std::make_shared<SystemClock>();
  // Returns the chosen folder, or an empty text when cancelled.
  std::function<QString(QWidget*)> chooseFolder;
  std::function<void(const std::u16string&, const std::u16string&, TDate, TDate)> build;
  std::function<void(const QString& file)> openFile;
  std::function<void(QWidget*, const QString& caption, const QString& text)> showError;
  std::function<std::u16string()> outputFolder;
  UrlOpener openUrl;
};
TForm5Services DefaultTForm5Services();

// The report window on Qt: a view over TReportPresenter, which decides what
// the controls show and what a button does.
class TForm5 : public QDialog, private TReportView {
  Q_OBJECT
 public:
  explicit TForm5(TForm5Services services = DefaultTForm5Services(), QWidget* parent = nullptr);
  QLineEdit* Edit1;
  QPushButton* Button1;
  QComboBox* ComboBox1;
  QDateEdit* DateTimePicker1;
  QDateEdit* DateTimePicker2;
  QPushButton* Button3;
  QPushButton* Button2;
  QPushButton* Button4;
  QRadioButton* RadioButton1;

  void FormShow();
  void ComboBox1Change();
  void Button1Click();
  void Button3Click();
  void Button4Click();

 protected:
  void showEvent(QShowEvent* e) override;

 private:
  void SetMonthNames(const std::vector<std::u16string>& names) override;
  void SelectMonth(int index) override;
  int SelectedMonth() const override;
  void SetPeriod(TDate start, TDate end) override;
  TDate PeriodStart() const override;
  TDate PeriodEnd() const override;
  std::u16string FolderText() const override;
  void SetFolderText(const std::u16string& text) override;

  TForm5Services s_;
  TReportPresenter presenter_;
};

}  // namespace ordana
