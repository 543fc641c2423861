#include "StartUp.h"

#include <QApplication>
#include <QMessageBox>
#include <QStringList>
#include <cstdio>
#include <stdexcept>
#include <vector>

#include "ReportWindow.h"
#include "platform/FileIO.h"
#include "platform/TextCodec.h"
#include "platform/ProgramFolder.h"

namespace ordana {

namespace {

const char kGuiHelp[] =
    "usage: ordana-report-gui [--map-path 'WIN=LOCAL']... [--codepage NAME]\n"
    "\n"
    "Opens the report window. The options are those of ordana-report:\n"
    "  --map-path 'WIN=LOCAL'  reads files whose log path begins with WIN from\n"
    "                          LOCAL instead, e.g. --map-path 'N:\\Music\\=/srv/music/'\n"
    "                          (prefix matched without regard to case; backslashes\n"
    "                          become '/'; repeat for several shares).\n"
    "  --codepage NAME         code page of logs without a byte-order mark and of\n"
    "                          the report (default windows-1251).\n"
    "  --help                  show this text.\n";

}  // namespace

std::string ApplyWindowOptions(const QStringList& args, bool& help) {
  std::vector<PathMapping> mappings;
  for (qsizetype i = 1; i < args.size(); ++i) {
    const QString& a = args[i];
    if (a == "--help" || a == "-h") {
      help = true;
      return {};
    }
    if (a != "--map-path" && a != "--codepage") return "unknown argument: " + a.toStdString();
    if (i + 1 >= args.size()) return a.toStdString() + " needs a value";
    const QString v = args[++i];
    if (a == "--map-path") {
      try {
        mappings.push_back(ParsePathMapping(v.toStdU16String()));
      } catch (const std::invalid_argument& e) {
        return e.what();
      }
    } else {
      try {
        SetAnsiCodePage(v.toStdString());
      } catch (const std::exception&) {
        return "unknown code page: " + v.toStdString();
      }
    }
  }
  SetPathMappings(std::move(mappings));
  return {};
}

int RunReportGui(int argc, char** argv) {
  QApplication app(argc, argv);
  bool help = false;
  const std::string error = ApplyWindowOptions(QApplication::arguments(), help);
  if (help) {
    std::fputs(kGuiHelp, stdout);
    return 0;
  }
  if (!error.empty()) {
    std::fprintf(stderr, "ordana-report-gui: %s\n%s", error.c_str(), kGuiHelp);
    QMessageBox::critical(nullptr, "Ordana Report Generator",
                          QString::fromStdString("ordana-report-gui: " + error));
    return 2;
  }
  TStartUp startUp;
  // With FFmpeg as the duration probe there is no audio library to initialise.
  TForm5 form;
  form.show();
  return app.exec();
}

}  // namespace ordana
