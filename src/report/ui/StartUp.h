#pragma once
// The process-wide set-up around the report window, undone in reverse; the
// same for every window toolkit.
namespace ordana {

class TStartUp {
 public:
  // 1. the ID3v1 genre table is a compile-time constant: nothing to fill;
  // 2. the component services are the window program's business (Windows
  //    initialises them in its entry point, elsewhere there are none);
  // 3. CreateTrackReaders; 4. VideoExtensions; 5. ProgramFolder.
  TStartUp();
  // Reverse order: the reader objects are freed last of what was created.
  ~TStartUp();
  TStartUp(const TStartUp&) = delete;
  TStartUp& operator=(const TStartUp&) = delete;
};

}  // namespace ordana
