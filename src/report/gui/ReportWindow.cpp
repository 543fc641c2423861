#include "ReportWindow.h"

#include <QDesktopServices>
#include <QShowEvent>
#include <QFileDialog>
#include <QLabel>
#include <QLocale>
#include <QMessageBox>
#include <QUrl>
#include <exception>

#include "platform/FileIO.h"
#include "platform/ProgramFolder.h"
#include "report/BuildReport.h"

namespace ordana {

TForm5Services DefaultTForm5Services() {
  TForm5Services s;
  s.chooseFolder = [](QWidget* owner) {
    return QFileDialog::getExistingDirectory(owner, "Select Directory", QString(),
                                             QFileDialog::ShowDirsOnly);
  };
  s.build = [](const std::u16string& f, const std::u16string& o, TDate a, TDate b) {
    BuildReport(f, o, a, b);
  };
  s.openFile = [](const QString& file) { QDesktopServices::openUrl(QUrl::fromLocalFile(file)); };
  s.showError = [](QWidget* owner, const QString& caption, const QString& text) {
    QMessageBox::critical(owner, caption, text, QMessageBox::Ok);
  };
  s.outputFolder = [] { return ProgramFolder(); };
  s.openUrl = DefaultUrlOpener();
  return s;
}

namespace {
QLabel* Caption(QWidget* parent, const char* utf8, int x, int y, int w) {
  auto* l = new QLabel(QString::fromUtf8(utf8), parent);
  l->setGeometry(x, y, w, 16);
  return l;
}
TDate FromQDate(const QDate& d) { return TDate{d.year(), d.month(), d.day()}; }
QDate ToQDate(const TDate& d) { return QDate(d.Year, d.Month, d.Day); }

// The presenter's services over the window's Qt ones.
TReportServices PresenterServices(const TForm5Services& s, QWidget* owner) {
  TReportServices p;
  p.clock = s.clock;
  p.monthNames = [] {
    std::vector<std::u16string> names;
    QLocale loc;
    for (int m = 1; m <= 12; ++m)
      names.push_back(loc.standaloneMonthName(m, QLocale::LongFormat).toStdU16String());
    return names;
  };
  p.chooseFolder = [&s, owner] {
    return s.chooseFolder ? s.chooseFolder(owner).toStdU16String() : std::u16string();
  };
  p.build = s.build;
  p.openFile = [&s](const std::u16string& f) {
    if (s.openFile) s.openFile(QString::fromStdU16String(f));
  };
  p.showError = [&s, owner](const std::u16string& caption, const std::u16string& text) {
    if (s.showError) s.showError(owner, QString::fromStdU16String(caption), QString::fromStdU16String(text));
  };
  p.outputFolder = s.outputFolder;
  return p;
}
}  // namespace

TForm5::TForm5(TForm5Services services, QWidget* parent)
    : QDialog(parent), s_(std::move(services)), presenter_(*this, PresenterServices(s_, this)) {
  setObjectName("TForm5");
  setWindowTitle(QString::fromUtf8("Ordana Report Generator - генератор отчетов для Ordana"));
  setFont(QFont("Tahoma", 8));
  setFixedSize(444, 167);
  Caption(this, "Путь к папке с отчетами Velmora:", 8, 8, 300);
  Edit1 = new QLineEdit(QStringLiteral("N:\\Output\\Project\\Report"), this);
  Edit1->setGeometry(8, 26, 317, 22);
  Button1 = new QPushButton("...", this);
  Button1->setGeometry(329, 26, 26, 22);
  Caption(this, "Месяц:", 8, 62, 44);
  ComboBox1 = new QComboBox(this);
  ComboBox1->setEditable(false);
  ComboBox1->setGeometry(54, 59, 100, 22);
  Caption(this, "Период от:", 164, 62, 62);
  DateTimePicker1 = new QDateEdit(this);
  DateTimePicker1->setGeometry(228, 59, 94, 22);
  Caption(this, "до", 328, 62, 16);
  DateTimePicker2 = new QDateEdit(this);
  DateTimePicker2->setGeometry(346, 59, 90, 22);
  for (auto* p : {DateTimePicker1, DateTimePicker2}) {
    p->setCalendarPopup(true);
    p->setDisplayFormat("dd.MM.yyyy");
  }
  Caption(this, "Формат отчета:", 8, 96, 90);
  RadioButton1 = new QRadioButton("HTML", this);
  RadioButton1->setGeometry(100, 94, 80, 20);
  RadioButton1->setChecked(true);
  RadioButton1->setEnabled(false);
  Button4 = new QPushButton(QString::fromUtf8("Создать отчет"), this);
  Button4->setGeometry(8, 134, 110, 25);
  QFont bf = Button4->font();
  bf.setBold(true);
  Button4->setFont(bf);
  Button3 = new QPushButton(QString::fromUtf8("О программе..."), this);
  Button3->setGeometry(250, 134, 100, 25);
  Button2 = new QPushButton(QString::fromUtf8("Закрыть"), this);
  Button2->setGeometry(356, 134, 80, 25);

  const std::pair<QWidget*, const char*> names[] = {
      {Edit1, "Edit1"},          {Button1, "Button1"},
      {ComboBox1, "ComboBox1"},  {DateTimePicker1, "DateTimePicker1"},
      {DateTimePicker2, "DateTimePicker2"}, {Button3, "Button3"},
      {Button2, "Button2"},      {Button4, "Button4"},
      {RadioButton1, "RadioButton1"}};
  for (size_t i = 0; i < std::size(names); ++i) {
    names[i].first->setObjectName(names[i].second);
    if (i > 0) setTabOrder(names[i - 1].first, names[i].first);
  }
  // Enter must not press a button by itself: the window has no default button.
  for (auto* b : {Button1, Button2, Button3, Button4}) b->setAutoDefault(false);

  connect(ComboBox1, &QComboBox::activated, this, [this](int) { ComboBox1Change(); });
  connect(Button1, &QPushButton::clicked, this, &TForm5::Button1Click);
  connect(Button2, &QPushButton::clicked, this, &QDialog::reject);
  connect(Button3, &QPushButton::clicked, this, &TForm5::Button3Click);
  connect(Button4, &QPushButton::clicked, this, &TForm5::Button4Click);
}

void TForm5::showEvent(QShowEvent* e) {
  QDialog::showEvent(e);
  if (!e->spontaneous()) FormShow();
}

void TForm5::FormShow() { presenter_.FormShow(); }
void TForm5::ComboBox1Change() { presenter_.MonthChanged(); }
void TForm5::Button1Click() { presenter_.BrowseClicked(); }

void TForm5::Button3Click() {
  TForm6 about(this, s_.openUrl);
  about.exec();
}

void TForm5::Button4Click() { presenter_.BuildClicked(); }

void TForm5::SetMonthNames(const std::vector<std::u16string>& names) {
  ComboBox1->clear();
  for (const auto& n : names) ComboBox1->addItem(QString::fromStdU16String(n));
}
void TForm5::SelectMonth(int index) { ComboBox1->setCurrentIndex(index); }
int TForm5::SelectedMonth() const { return ComboBox1->currentIndex(); }
void TForm5::SetPeriod(TDate start, TDate end) {
  DateTimePicker1->setDate(ToQDate(start));
  DateTimePicker2->setDate(ToQDate(end));
}
TDate TForm5::PeriodStart() const { return FromQDate(DateTimePicker1->date()); }
TDate TForm5::PeriodEnd() const { return FromQDate(DateTimePicker2->date()); }
std::u16string TForm5::FolderText() const { return Edit1->text().toStdU16String(); }
void TForm5::SetFolderText(const std::u16string& text) { Edit1->setText(QString::fromStdU16String(text)); }

}  // namespace ordana
