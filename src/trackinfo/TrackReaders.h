#pragma once
// The shared reader objects of ReadTrackInfo: one long-lived instance per
// format, reused for every file (each resets itself at the start of a read).
// They make ReadTrackInfo non-reentrant: one call at a time.
#include "tags/APETag.h"
#include "tags/FLACfile.h"
#include "tags/ID3v2.h"
#include "tags/MPEGaudio.h"
#include "tags/OggVorbis.h"
#include "tags/WAVfile.h"
#include "tags/WMAfile.h"
#include "tags/mp4tag.h"

namespace ordana {

// Members are constructed in declaration order, which is the order below.
struct TTrackReaders {
  TWMA WMA;
  TOggVorbis OggVorbis;
  TMPEGaudio MPEGaudio;
  TWAVfile WAVfile;
  TID3v2 ID3v2;
  TFLACfile FLACfile;
  TAPETag APETag;
  TMp4Tag Mp4Tag;
};

// Creates the readers (in the order WMA, Ogg Vorbis, MPEG, WAV, ID3v2, FLAC,
// APE, MP4) unless they exist. Called at program start.
void CreateTrackReaders();
// Frees them. Called at program end.
void FreeTrackReaders();
// The shared readers, created on first use when CreateTrackReaders was not
// called.
TTrackReaders& TrackReaders();

}  // namespace ordana
