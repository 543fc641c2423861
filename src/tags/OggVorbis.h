#pragma once
// Ogg Vorbis: identification and comment headers, last page granule.
// (Minimal interface; the reader fills it in.)
#include <cstdint>
#include <string>

namespace ordana {

class TOggVorbis {
 public:
  TOggVorbis() { ResetData(); }
  void ResetData();
  // Lets the open error of the file pass to the caller (EFOpenError).
  bool ReadFromFile(const std::u16string& FileName);
  bool Valid() const { return false; }
  std::u16string ChannelMode() const { return u"Unknown"; }
  uint16_t BitRate() const { return 0; }
  uint16_t SampleRate() const { return FSampleRate; }
  const std::u16string& Title() const { return FTitle; }
  const std::u16string& Artist() const { return FArtist; }
  const std::u16string& Album() const { return FAlbum; }
  const std::u16string& Date() const { return FDate; }
  const std::u16string& Genre() const { return FGenre; }
  const std::u16string& Comment() const { return FComment; }

 private:
  uint16_t FSampleRate = 0;
  std::u16string FTitle, FArtist, FAlbum, FDate, FGenre, FComment;
};

}  // namespace ordana
