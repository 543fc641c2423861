#pragma once
// The process-wide set-up around the report window, undone in reverse.
#include <QStringList>
#include <string>

#include "report/ui/StartUp.h"

namespace ordana {

// The window's own command-line options (--map-path, --codepage, --help),
// after Qt has taken its own out of args (args[0] is the program). Applies
// them and returns an empty text, or returns what is wrong with them; sets
// help when --help was given.
std::string ApplyWindowOptions(const QStringList& args, bool& help);

// Runs the program: set-up, the report window as main window, the event loop.
int RunReportGui(int argc, char** argv);

}  // namespace ordana
