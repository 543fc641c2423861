#pragma once
// Media fixtures of known length, encoded at test time by the Debian tools
// (sox, lame, flac, oggenc, ffmpeg) into a test's temporary folder.
#include <gtest/gtest.h>

#include <cstdint>
#include <initializer_list>
#include <optional>
#include <string>
#include <string_view>

#include "support/TestFiles.h"

namespace ordana::test {

// Runs an encoder's shell command; a failure carries the command and its output.
::testing::AssertionResult Encode(const std::string& command);

// A mono 16-bit sine tone of exactly `seconds` (decimal text, e.g. "2.5") at
// `rate` Hz, written by sox; returns its path.
std::string SineWav(const TempDir& dir, const std::string& name, const std::string& seconds, int rate = 44100);

// Encodes the WAV file `wav` into files of dir, each by the encoder its
// extension calls for: flac (.flac), oggenc (.ogg), lame (.mp3), ffmpeg with
// aac (.m4a) or wmav2 (.wma). The options are added to the encoder's own
// (for example "-V 9" for lame, "-b:a 24k" for ffmpeg).
struct EncodedFile {
  const char* name;
  const char* options = "";
};
::testing::AssertionResult EncodeWav(const TempDir& dir, const std::string& wav,
                                     std::initializer_list<EncodedFile> files);

// What the Xing/Info header in the first MPEG audio frame of an MP3 file
// states (ID3v2 tags in front are skipped): the frame count, the samples per
// frame and the sample rate. nullopt when there is no such header.
struct XingHeader {
  int64_t frames = 0;
  int samplesPerFrame = 0;
  int sampleRate = 0;
  double Seconds() const { return static_cast<double>(frames * samplesPerFrame) / sampleRate; }
};
std::optional<XingHeader> ReadXingHeader(std::string_view file);

// ffmpeg's MD5 of a file's decoded audio ("MD5=..."; its other words left
// out), for "the audio is unchanged" checks.
std::string DecodedAudioDigest(const std::string& file);

// The samples per channel that sox counts in a file (soxi -s).
int64_t SoxSamples(const std::string& file);

}  // namespace ordana::test
