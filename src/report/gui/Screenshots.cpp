// Renders both windows offscreen into PNG files: ordana-screenshots <folder>
#include <QApplication>
#include <QDir>

#include "AboutWindow.h"
#include "ReportWindow.h"

int main(int argc, char** argv) {
  QApplication app(argc, argv);
  QLocale::setDefault(QLocale(QLocale::Russian, QLocale::Russia));
  QString dir = argc > 1 ? QString::fromLocal8Bit(argv[1]) : QString("docs/screenshots");
  QDir().mkpath(dir);
  ordana::TForm5 w;
  w.show();
  ordana::TForm6 about(&w);
  about.show();
  app.processEvents();
  bool ok = w.grab().save(dir + "/report-window.png") && about.grab().save(dir + "/about-window.png");
  return ok ? 0 : 1;
}
