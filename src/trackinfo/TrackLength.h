#pragma once
// GetTrackLength: the playing time of one play-log entry in milliseconds.
//
// Audio files whose header states their exact length (FLAC, Ogg Vorbis, WAV,
// MPEG-4 audio: see StatedLength.h) are measured by our own parsers, other
// audio files through the media probe's audio path; files whose
// extension marks them as video through its stream and container paths (the
// length of stream 0 first, the container's duration when that gives
// nothing). A stream address, which nothing can measure, takes its length
// from the number of minutes written after it in the play log
// ("http://radio.example/live 30" is 30 minutes). Every failure gives 0.
#include <cstdint>
#include <string>
#include <vector>

namespace ordana {

class InputFile;

// 0 when no length could be found; never throws. Lengths of 2^32 ms or more
// keep their low 32 bits.
uint32_t GetTrackLength(const std::u16string& FileName);
// The same for a file the caller has opened (File is FileName opened for
// reading, or not open when it could not be); an address is not read.
uint32_t GetTrackLengthOf(const InputFile& File, const std::u16string& FileName);

// Tells the media probe that GetTrackLength(FileName) follows soon: a file
// that will go to the probe's audio path is handed to its helper now, which
// measures it while the caller reads other files (the answer is the one
// GetTrackLength would have had anyway). Files measured by our own parsers,
// video files and addresses are left alone. Never throws.
void AnnounceTrackLength(const std::u16string& FileName);
// The same for a file the caller has opened (File is FileName opened for
// reading, or not open): the helper is handed a second handle to it, so the
// caller's file stays its own (for its GetTrackLengthOf).
void AnnounceTrackLengthOf(const InputFile& File, const std::u16string& FileName);

// The extensions that send a file the video way, in this order: "3gp",
// "avi", "divx", "flv", "mkv", "mov", "mpeg", "mpg", "vob", "wmv", "mp4".
const std::vector<std::u16string>& VideoExtensions();
// The entries of VideoExtensions() in order, each followed by CR LF.
const std::u16string& VideoExtensionsText();

// True when the file's extension (lower-cased, without the dot) is not empty
// and occurs anywhere in VideoExtensionsText(): "MP4" and "Mpeg" count, and
// so do fragments such as "mp" or "v"; "mp3", "m4a" and "wma" do not.
bool IsVideoFile(const std::u16string& FileName);

// The length of the file's stream 0 in milliseconds (seconds x 1000,
// truncated exactly); 0 when it has none.
int64_t MediaDetLength(const std::u16string& FileName);

// True when the text, lower-cased, begins with "http://", "ftp://" or "mms://".
bool IsStreamUrl(const std::u16string& Text);

// The number after the first blank of the text (trimmed; 0 when it is not
// an integer or there is no blank) times 60 x 1000, in 32-bit arithmetic
// (a product outside the 32-bit range wraps around).
int32_t StreamUrlMinutes(const std::u16string& Text);

// --- Unit conversions of the probe ------------------------------------------
// Audio path: the seconds are narrowed to a 32-bit float first; the product
// of that float and 1000 (exact in a double) is truncated toward zero. A
// negative, non-finite or out-of-range value gives 0. 0.3 s gives 300 ms.
int64_t AudioSecondsToMs(double seconds);
// Stream path: the exact product of the seconds and 1000, truncated toward
// zero (0.3 s, whose double lies just below 0.3, gives 299 ms, where the
// rounded double product would give 300). Non-finite or out of the 64-bit
// range gives 0.
int64_t ExactSecondsToMs(double seconds);
// Container path: units of 100 ns to milliseconds, truncated.
inline int64_t HundredNsToMs(int64_t units) { return units / 10000; }

}  // namespace ordana
