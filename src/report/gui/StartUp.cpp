#include "StartUp.h"

#include <QApplication>

#include "ReportWindow.h"
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

int RunReportGui(int argc, char** argv) {
  QApplication app(argc, argv);
  TStartUp startUp;
  // With FFmpeg as the duration probe there is no audio library to initialise.
  TForm5 form;
  form.show();
  return app.exec();
}

}  // namespace ordana
