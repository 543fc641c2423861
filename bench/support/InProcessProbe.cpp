#include "support/InProcessProbe.h"

#if ORDANA_BENCH_HAVE_INPROCESS_FFMPEG

#include "platform/FileIO.h"
#include "platform/ffmpeg/FFmpegProbe.h"
#include "trackinfo/TrackLength.h"

namespace ordana::bench {

namespace {

class InProcessSource final : public ffmpeg_probe::Source {
 public:
  explicit InProcessSource(const InputFile& f) : f_(f) {}
  int64_t Size() const override { return f_.Size(); }
  int64_t ReadAt(int64_t pos, void* buf, size_t n) const override { return f_.ReadAt(pos, buf, n); }

 private:
  const InputFile& f_;
};

}  // namespace

uint32_t InProcessTrackLength(const std::u16string& p) {
  const InputFile f = InputFile::Open(p);
  if (!f) return 0;
  const InProcessSource src(f);
  const std::u16string ext16 = p.substr(p.rfind(u'.') + 1);
  std::string ext;
  for (char16_t c : ext16) ext += static_cast<char>(c >= u'A' && c <= u'Z' ? c - u'A' + u'a' : c);
  if (IsVideoFile(p)) {
    if (auto s = ffmpeg_probe::ProbeStreamSeconds(src, ext, 0)) return static_cast<uint32_t>(ExactSecondsToMs(*s));
    return 0;
  }
  if (auto a = ffmpeg_probe::ProbeAudioLength(src, ext)) return static_cast<uint32_t>(AudioSecondsToMs(a->Seconds));
  return 0;
}

}  // namespace ordana::bench

#endif
