#include <QApplication>
#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QTest>

#include "AboutWindow.h"
#include "ReportWindow.h"
#include "StartUp.h"
#include "platform/FileIO.h"
#include "platform/ProgramFolder.h"

using namespace ordana;

namespace {
struct Calls {
  QStringList opened;
  QString errorCaption, errorText;
  int errors = 0;
};

TForm5Services Fake(Calls& c, TUtcNow now, QString outDir) {
  TForm5Services s = DefaultTForm5Services();
  s.clock = std::make_shared<FixedClock>(now);
  s.chooseFolder = [](QWidget*) { return QString(); };
  s.openFile = [&c](const QString& f) { c.opened << f; };
  s.showError = [&c](QWidget*, const QString& cap, const QString& t) {
    c.errorCaption = cap;
    c.errorText = t;
    ++c.errors;
  };
  s.outputFolder = [outDir] { return (outDir + "/").toStdU16String(); };
  s.openUrl = [&c](const QString& u) { c.opened << u; };
  return s;
}
}  // namespace

class ReportWindowTest : public QObject {
  Q_OBJECT
 private slots:
  void initTestCase() { QLocale::setDefault(QLocale(QLocale::Russian, QLocale::Russia)); }

  void controlsAndTabOrder() {
    Calls c;
    TForm5 w(Fake(c, {2026, 3, 5, 12, 0}, "/tmp"));
    QCOMPARE(w.objectName(), QString("TForm5"));
    QCOMPARE(w.size(), QSize(444, 167));
    QCOMPARE(w.minimumSize(), w.maximumSize());
    QCOMPARE(w.Edit1->text(), QString("N:\\Output\\Project\\Report"));
    QCOMPARE(w.Button4->text(), QString::fromUtf8("Создать отчет"));
    QVERIFY(w.Button4->font().bold());
    QVERIFY(w.RadioButton1->isChecked() && !w.RadioButton1->isEnabled());
    QStringList expected{"Edit1", "Button1", "ComboBox1", "DateTimePicker1", "DateTimePicker2",
                         "Button3", "Button2", "Button4"};
    QWidget* cur = w.Edit1;
    for (int i = 1; i < expected.size(); ++i) {
      cur = cur->nextInFocusChain();
      while (cur->focusPolicy() == Qt::NoFocus || !cur->isEnabled() ||
             cur->parentWidget() != &w)
        cur = cur->nextInFocusChain();
      QCOMPARE(cur->objectName(), expected[i]);
    }
  }

  void monthListAndEveryMonth() {
    Calls c;
    TForm5 w(Fake(c, {2028, 3, 5, 12, 0}, "/tmp"));  // 2028 is a leap year
    w.show();
    QCOMPARE(w.ComboBox1->count(), 12);
    QCOMPARE(w.ComboBox1->itemText(0), QLocale().standaloneMonthName(1, QLocale::LongFormat));
    QCOMPARE(w.ComboBox1->currentIndex(), 2);
    const int days[] = {31, 29, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    for (int m = 1; m <= 12; ++m) {
      w.DateTimePicker1->setDate(QDate(1999, 6, 6));  // the pickers' year is never used
      w.ComboBox1->setCurrentIndex(m - 1);
      w.ComboBox1Change();
      QCOMPARE(w.DateTimePicker1->date(), QDate(2028, m, 1));
      QCOMPARE(w.DateTimePicker2->date(), QDate(2028, m, days[m - 1]));
    }
  }

  void utcDecidesMonthAndYear() {
    Calls c;
    TForm5 jan(Fake(c, {2027, 1, 31, 21, 30}, "/tmp"));
    jan.show();
    QCOMPARE(jan.ComboBox1->currentIndex(), 0);
    QCOMPARE(jan.DateTimePicker2->date(), QDate(2027, 1, 31));
    TForm5 dec(Fake(c, {2026, 12, 31, 21, 30}, "/tmp"));
    dec.show();
    QCOMPARE(dec.ComboBox1->currentIndex(), 11);
    QCOMPARE(dec.DateTimePicker1->date(), QDate(2026, 12, 1));
    QCOMPARE(dec.DateTimePicker2->date(), QDate(2026, 12, 31));
  }

  void folderBrowserCancelEmpties() {
    Calls c;
    auto s = Fake(c, {2026, 3, 5, 12, 0}, "/tmp");
    QString answer = "/srv/logs";
    s.chooseFolder = [&answer](QWidget*) { return answer; };
    TForm5 w(s);
    QTest::mouseClick(w.Button1, Qt::LeftButton);
    QCOMPARE(w.Edit1->text(), QString("/srv/logs"));
    answer.clear();
    w.Button1Click();
    QCOMPARE(w.Edit1->text(), QString());
  }

  void buildSucceedsAndOpens() {
    QTemporaryDir out, logs;
    Calls c;
    auto s = Fake(c, {2026, 3, 5, 12, 0}, out.path());
    std::u16string gotFolder;
    TDate gotStart, gotEnd;
    s.build = [&](const std::u16string& f, const std::u16string& o, TDate a, TDate b) {
      gotFolder = f;
      gotStart = a;
      gotEnd = b;
      QFile file(QString::fromStdU16String(o));
      QVERIFY(file.open(QIODevice::WriteOnly));
    };
    TForm5 w(s);
    w.show();
    w.Edit1->setText(logs.path());
    w.DateTimePicker1->setDate(QDate(2026, 2, 10));
    w.DateTimePicker2->setDate(QDate(2026, 2, 3));
    QTest::mouseClick(w.Button4, Qt::LeftButton);
    const QString expected = out.path() + "/~~report_gen.htm";
    QCOMPARE(c.opened, QStringList{expected});
    QVERIFY(QFile::exists(expected));
    QCOMPARE(QString::fromStdU16String(gotFolder), logs.path());
    QVERIFY((gotStart == TDate{2026, 2, 10}) && (gotEnd == TDate{2026, 2, 3}));
    QCOMPARE(c.errors, 0);
  }

  void realBuildOfEmptyFolder() {
    QTemporaryDir out, logs;
    Calls c;
    auto s = Fake(c, {2026, 3, 5, 12, 0}, out.path());
    s.build = DefaultTForm5Services().build;
    TForm5 w(s);
    w.show();
    w.Edit1->setText(logs.path());
    w.Button4Click();
    QCOMPARE(c.errors, 0);
    QCOMPARE(c.opened.size(), 1);
    QFile f(c.opened[0]);
    QVERIFY(f.open(QIODevice::ReadOnly));
    QVERIFY(f.readAll().contains("<table"));
  }

  void buildFailureShowsBox() {
    Calls c;
    auto s = Fake(c, {2026, 3, 5, 12, 0}, "/tmp");
    s.build = [](const std::u16string&, const std::u16string&, TDate, TDate) {
      throw EFCreateError("Cannot create file \"x\". Permission denied");
    };
    TForm5 w(s);
    w.Edit1->setText("keep");
    w.Button4Click();
    QCOMPARE(c.errors, 1);
    QCOMPARE(c.errorCaption, QString("Error"));
    QCOMPARE(c.errorText, QString::fromUtf8("Ошибка при создании отчета! \r\nEFCreateError:"
                                            "Cannot create file \"x\". Permission denied"));
    QVERIFY(c.opened.isEmpty());
    QCOMPARE(w.Edit1->text(), QString("keep"));
    s.build = [](const std::u16string&, const std::u16string&, TDate, TDate) {
      throw std::runtime_error("boom");
    };
    TForm5 w2(s);
    w2.Button4Click();
    QVERIFY(c.errorText.endsWith("Exception:boom"));
  }

  void commandLineMapsPathsLikeTheCommandLineTool() {
    bool help = false;
    QCOMPARE(QString::fromStdString(ApplyWindowOptions(
                 {"ordana-report-gui", "--map-path", "N:\\Music\\=/srv/music/"}, help)),
             QString());
    QVERIFY(!help);
    QCOMPARE(QString::fromStdU16String(MapPath(u"n:\\music\\Pop\\a.mp3")),
             QString("/srv/music/Pop/a.mp3"));
    QVERIFY(!ApplyWindowOptions({"ordana-report-gui", "--map-path", "no-equals-sign"}, help).empty());
    QVERIFY(!ApplyWindowOptions({"ordana-report-gui", "--map-path"}, help).empty());
    QVERIFY(!ApplyWindowOptions({"ordana-report-gui", "--bogus"}, help).empty());
    QVERIFY(ApplyWindowOptions({"ordana-report-gui", "--help"}, help).empty() && help);
    // Without options nothing is mapped, as before.
    help = false;
    QVERIFY(ApplyWindowOptions({"ordana-report-gui"}, help).empty());
    QCOMPARE(QString::fromStdU16String(MapPath(u"N:\\Music\\a.mp3")), QString("N:\\Music\\a.mp3"));
  }

  void aboutKeysClose() {
    for (int key : {Qt::Key_Escape, Qt::Key_Return}) {
      QStringList urls;
      TForm6 about(nullptr, [&urls](const QString& u) { urls << u; });
      QCOMPARE(about.size(), QSize(406, 269));
      about.show();
      QVERIFY(QTest::qWaitForWindowExposed(&about));
      about.Button1->setFocus();
      QTest::keyClick(&about, Qt::Key(key));
      QVERIFY(!about.isVisible());
      QCOMPARE(about.result(), int(QDialog::Accepted));
    }
  }

  void linkClickAndCursor() {
    QStringList urls;
    TForm6 about(nullptr, [&urls](const QString& u) { urls << u; });
    about.show();
    QVERIFY(QTest::qWaitForWindowExposed(&about));
    QCOMPARE(about.HyperlinkLabel1->palette().color(QPalette::WindowText), QColor(0, 0, 128));
    QVERIFY(about.HyperlinkLabel1->font().underline());
    QTest::mouseClick(about.HyperlinkLabel2, Qt::LeftButton);
    QCOMPARE(urls, QStringList{"mailto:support@ordana-report.example?subject=Velmora"});
    QVERIFY(about.isVisible());
    auto* l = about.HyperlinkLabel1;
    l->setCursor(Qt::IBeamCursor);
    QEnterEvent enter(QPointF(2, 2), QPointF(2, 2), QPointF(2, 2));
    QApplication::sendEvent(l, &enter);
    QCOMPARE(l->cursor().shape(), Qt::PointingHandCursor);
    QEvent leave(QEvent::Leave);
    QApplication::sendEvent(l, &leave);
    QCOMPARE(l->cursor().shape(), Qt::IBeamCursor);
  }
};

QTEST_MAIN(ReportWindowTest)
#include "ReportWindowTest.moc"
