#include "trackinfo/TrackReaders.h"

#include <memory>

namespace ordana {
namespace {

struct Readers {
  std::unique_ptr<TTrackReaders> all;
};

Readers& Instance() {
  static Readers r;
  return r;
}

}  // namespace

void CreateTrackReaders() {
  Readers& r = Instance();
  if (!r.all) r.all = std::make_unique<TTrackReaders>();
}

void FreeTrackReaders() { Instance().all.reset(); }

TTrackReaders& TrackReaders() {
  CreateTrackReaders();
  return *Instance().all;
}

}  // namespace ordana
