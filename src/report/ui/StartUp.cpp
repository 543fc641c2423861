#include "report/ui/StartUp.h"

#include "platform/ProgramFolder.h"
#include "trackinfo/TrackLength.h"
#include "trackinfo/TrackReaders.h"

namespace ordana {

TStartUp::TStartUp() {
  CreateTrackReaders();
  (void)VideoExtensions();  // built once, on first use
  (void)ProgramFolder();
}

TStartUp::~TStartUp() { FreeTrackReaders(); }

}  // namespace ordana
