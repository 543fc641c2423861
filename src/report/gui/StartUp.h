#pragma once
// The process-wide set-up around the report window, undone in reverse.
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

// Runs the program: set-up, the report window as main window, the event loop.
int RunReportGui(int argc, char** argv);

}  // namespace ordana
