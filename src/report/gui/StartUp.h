#pragma once
// The process-wide set-up around the report window, undone in reverse.
#include <QStringList>
#include <string>

namespace ordana {

class TStartUp {
 public:
  // 1. the ID3v1 genre table is a compile-time constant: nothing to fill;
  // 2. component services have no portable counterpart: nothing to initialise;
  // 3. CreateTrackReaders; 4. VideoExtensions; 5. ProgramFolder.
  TStartUp();
  // Reverse order: the reader objects are freed last of what was created.
  ~TStartUp();
  TStartUp(const TStartUp&) = delete;
  TStartUp& operator=(const TStartUp&) = delete;
};

// The window's own command-line options (--map-path, --codepage, --help),
// after Qt has taken its own out of args (args[0] is the program). Applies
// them and returns an empty text, or returns what is wrong with them; sets
// help when --help was given.
std::string ApplyWindowOptions(const QStringList& args, bool& help);

// Runs the program: set-up, the report window as main window, the event loop.
int RunReportGui(int argc, char** argv);

}  // namespace ordana
