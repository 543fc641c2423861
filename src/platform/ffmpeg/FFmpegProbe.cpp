#include "platform/ffmpeg/FFmpegProbe.h"

#include <array>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <limits>
#include <mutex>
#include <string>

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
#include <libavutil/avstring.h>
#include <libavutil/avutil.h>
#include <libavutil/dict.h>
#include <libavutil/log.h>
#include <libavutil/mem.h>
}

namespace ordana::ffmpeg_probe {

namespace {

// Bytes FFmpeg reads from the file per request.
constexpr int kIoBufferSize = 16 * 1024;
// Bytes sniffed when the extension names no demuxer (or the named one fails).
constexpr int kFormatProbeSize = 262144;
// Bytes and microseconds analysed when the header gives no length.
constexpr int64_t kProbeSize = 131072;
constexpr int64_t kAnalyzeDuration = 2000000;  // microseconds
// A probe that reads for longer than this gives up by itself, before the
// parent's own wall-clock limit would kill the helper.
constexpr auto kTimeLimit = std::chrono::seconds(8);

// The audio decoders the demuxers below need. Both the floating-point and
// the fixed-point names, so that a system build of FFmpeg, which may prefer
// either, finds one.
constexpr const char* kCodecWhitelist =
    "mp1,mp1float,mp2,mp2float,mp3,mp3float,aac,aac_fixed,aac_latm,alac,vorbis,opus,flac,"
    "wmav1,wmav2,wmapro,wmalossless,wmavoice,ape,mpc7,mpc8,tta,wavpack,ac3,ac3_fixed,eac3,dca,"
    "mlp,truehd,adpcm_ima_wav,adpcm_ms,gsm,gsm_ms,pcm_alaw,pcm_mulaw,pcm_u8,pcm_s8,pcm_s16le,"
    "pcm_s16be,pcm_s24le,pcm_s24be,pcm_s32le,pcm_s32be,pcm_f32le,pcm_f32be,pcm_f64le,"
    "pcm_f64be,pcm_dvd,pcm_bluray";

void SilenceFFmpeg() {
  static std::once_flag once;
  std::call_once(once, [] { av_log_set_level(AV_LOG_QUIET); });
}

// What a file starts with (after any leading ID3v2 tags), enough to tell
// whether it can be what its extension says.
using Head = std::string_view;

bool StartsWith(Head h, std::string_view magic, size_t at = 0) {
  return h.size() >= at + magic.size() && h.substr(at, magic.size()) == magic;
}
bool Byte(Head h, size_t i, unsigned mask, unsigned value) {
  return h.size() > i && (static_cast<unsigned char>(h[i]) & mask) == value;
}

bool LooksLikeMpegAudio(Head h) { return Byte(h, 0, 0xFF, 0xFF) && Byte(h, 1, 0xE0, 0xE0); }
bool LooksLikeFlac(Head h) { return StartsWith(h, "fLaC"); }
bool LooksLikeOgg(Head h) { return StartsWith(h, "OggS"); }
bool LooksLikeWave(Head h) {
  return (StartsWith(h, "RIFF") || StartsWith(h, "RF64") || StartsWith(h, "BW64")) && StartsWith(h, "WAVE", 8);
}
bool LooksLikeIsoMedia(Head h) {
  for (std::string_view box : {"ftyp", "moov", "mdat", "free", "skip", "wide", "pnot", "uuid"})
    if (StartsWith(h, box, 4)) return true;
  return false;
}
bool LooksLikeAsf(Head h) { return StartsWith(h, "\x30\x26\xB2\x75\x8E\x66\xCF\x11"); }
bool LooksLikeMatroska(Head h) { return StartsWith(h, "\x1A\x45\xDF\xA3"); }
bool LooksLikeAvi(Head h) { return StartsWith(h, "RIFF") && StartsWith(h, "AVI", 8); }
bool LooksLikeFlv(Head h) { return StartsWith(h, "FLV"); }
bool LooksLikeMpegPs(Head h) { return StartsWith(h, std::string_view("\0\0\x01\xBA", 4)); }
bool LooksLikeAdts(Head h) { return StartsWith(h, "ADIF") || (Byte(h, 0, 0xFF, 0xFF) && Byte(h, 1, 0xF6, 0xF0)); }
bool LooksLikeApe(Head h) { return StartsWith(h, "MAC "); }
bool LooksLikeTta(Head h) { return StartsWith(h, "TTA1"); }
bool LooksLikeWavPack(Head h) { return StartsWith(h, "wvpk"); }
bool LooksLikeAiff(Head h) { return StartsWith(h, "FORM") && (StartsWith(h, "AIFF", 8) || StartsWith(h, "AIFC", 8)); }
bool LooksLikeAc3(Head h) { return StartsWith(h, "\x0B\x77"); }
bool LooksLikeAu(Head h) { return StartsWith(h, ".snd"); }
bool LooksLikeMusepack7(Head h) { return StartsWith(h, "MP+"); }
bool LooksLikeMusepack8(Head h) { return StartsWith(h, "MPCK"); }

// The extension table: which demuxer an extension stands for, and how a file
// of that format starts. Its demuxers are the format whitelist.
struct NamedDemuxer {
  const char* exts;  // ",ext,ext,"
  const char* name;
  bool (*fits)(Head);
  bool distinctive = true;  // the start tells the format apart from others
};
constexpr NamedDemuxer kDemuxers[] = {
    {",mp3,mp2,mp1,mpa,", "mp3", LooksLikeMpegAudio, false},
    {",flac,", "flac", LooksLikeFlac},
    {",ogg,oga,ogv,opus,spx,", "ogg", LooksLikeOgg},
    {",wav,", "wav", LooksLikeWave},
    {",m4a,m4b,m4p,m4v,mp4,mov,3gp,3g2,", "mov", LooksLikeIsoMedia},
    {",wma,wmv,asf,", "asf", LooksLikeAsf},
    {",mkv,mka,webm,", "matroska", LooksLikeMatroska},
    {",avi,divx,", "avi", LooksLikeAvi},
    {",flv,", "flv", LooksLikeFlv},
    {",mpg,mpeg,vob,", "mpeg", LooksLikeMpegPs},
    {",aac,", "aac", LooksLikeAdts, false},
    {",ape,", "ape", LooksLikeApe},
    {",tta,", "tta", LooksLikeTta},
    {",wv,", "wv", LooksLikeWavPack},
    {",aif,aiff,aifc,", "aiff", LooksLikeAiff},
    {",ac3,", "ac3", LooksLikeAc3, false},
    {",au,snd,", "au", LooksLikeAu},
    {",mpc,mp+,mpp,", "mpc", LooksLikeMusepack7},
    {",mpc,mp+,mpp,", "mpc8", LooksLikeMusepack8},
};
constexpr size_t kDemuxerCount = sizeof kDemuxers / sizeof kDemuxers[0];

const std::string& FormatList() {
  static const std::string list = [] {
    std::string l;
    for (const NamedDemuxer& d : kDemuxers) l += (l.empty() ? "" : ",") + std::string(d.name);
    return l;
  }();
  return list;
}

const AVInputFormat* Demuxer(size_t i) {
  static const auto formats = [] {
    std::array<const AVInputFormat*, kDemuxerCount> f{};
    for (size_t k = 0; k < kDemuxerCount; ++k) f[k] = av_find_input_format(kDemuxers[k].name);
    return f;
  }();
  return formats[i];
}

bool NamedBy(const NamedDemuxer& d, std::string_view ext) {
  if (ext.empty()) return false;
  const std::string key = "," + std::string(ext) + ",";
  return std::string_view(d.exts).find(key) != std::string_view::npos;
}

// The length a stream's header gives, in seconds; the quotient is rounded
// once, from exact integer operands where they fit.
std::optional<double> StreamSeconds(const AVStream* st) {
  if (!st || st->duration == AV_NOPTS_VALUE || st->duration <= 0) return std::nullopt;
  const AVRational tb = st->time_base;
  if (tb.num <= 0 || tb.den <= 0) return std::nullopt;
  constexpr int64_t kExact = int64_t{1} << 53;
  if (st->duration < kExact / tb.num) {
    const int64_t num = st->duration * tb.num;
    if (num < kExact) return static_cast<double>(num) / static_cast<double>(tb.den);
  }
  return static_cast<double>(static_cast<long double>(st->duration) * tb.num / tb.den);
}

std::optional<double> ContainerSeconds(const AVFormatContext* ctx) {
  if (ctx->duration == AV_NOPTS_VALUE || ctx->duration <= 0) return std::nullopt;
  return static_cast<double>(ctx->duration) / AV_TIME_BASE;
}

// One open media file: the source under an FFmpeg demuxer.
class MediaInput {
 public:
  explicit MediaInput(const Source& file) : file_(file) {}
  MediaInput(const MediaInput&) = delete;
  MediaInput& operator=(const MediaInput&) = delete;
  ~MediaInput() { CloseDemuxer(); }

  bool Open(std::string_view ext) {
    SilenceFFmpeg();
    size_ = file_.Size();
    if (size_ <= 0) return false;
    deadline_ = std::chrono::steady_clock::now() + kTimeLimit;
    SkipLeadingId3v2();
    char buf[16];
    const int64_t got = file_.ReadAt(start_, buf, sizeof buf);
    const Head head(buf, got > 0 ? static_cast<size_t>(got) : 0);
    // The demuxer the extension names, when the file starts that way;
    // naming it spares the content sniffing, which reads far more of the file.
    size_t tried = kDemuxerCount;
    for (size_t i = 0; i < kDemuxerCount && tried == kDemuxerCount; ++i) {
      if (!NamedBy(kDemuxers[i], ext) || !kDemuxers[i].fits(head) || !Demuxer(i)) continue;
      tried = i;
      if (OpenWith(Demuxer(i))) return true;
    }
    // The file is something else: the demuxers of the table whose
    // distinctive start it has (frame syncs of a few bits are left to the
    // content probing).
    for (size_t i = 0; i < kDemuxerCount; ++i) {
      if (i == tried || !kDemuxers[i].distinctive || !kDemuxers[i].fits(head) || !Demuxer(i)) continue;
      if (OpenWith(Demuxer(i))) return true;
    }
    // FFmpeg's content probing, confined to the whitelist (a file that
    // starts with junk, or an MP3 without a frame at its start).
    return OpenWith(nullptr);
  }

  AVFormatContext* Context() const { return ctx_; }

  // Analyses the start of the file (bounded) for what the header lacks.
  bool FindStreamInfo() {
    if (!ctx_) return false;
    analysed_ = true;
    return avformat_find_stream_info(ctx_, nullptr) >= 0;
  }
  bool Analysed() const { return analysed_; }

 private:
  // ID3v2 tags in front of the media data (MP3, but also FLAC and others)
  // are hidden from the demuxer: their text and pictures are not needed
  // here, and a large cover picture would otherwise be read and copied. A
  // tag that claims more than the file holds is left in place.
  void SkipLeadingId3v2() {
    for (int n = 0; n < 4; ++n) {
      unsigned char h[10];
      if (file_.ReadAt(start_, h, sizeof h) != static_cast<int64_t>(sizeof h)) return;
      if (h[0] != 'I' || h[1] != 'D' || h[2] != '3' || h[3] == 0xFF || h[4] == 0xFF) return;
      if ((h[6] | h[7] | h[8] | h[9]) & 0x80) return;
      int64_t len = 10 + ((int64_t{h[6]} << 21) | (int64_t{h[7]} << 14) | (int64_t{h[8]} << 7) | h[9]);
      if (h[5] & 0x10) len += 10;  // footer
      if (len >= size_ - start_) return;
      start_ += len;
    }
  }

  bool OpenWith(const AVInputFormat* format) {
    CloseDemuxer();
    pos_ = start_;
    auto* buffer = static_cast<unsigned char*>(av_malloc(kIoBufferSize));
    if (!buffer) return false;
    pb_ = avio_alloc_context(buffer, kIoBufferSize, 0, this, &ReadPacket, nullptr, &SeekTo);
    if (!pb_) {
      av_free(buffer);
      return false;
    }
    ctx_ = avformat_alloc_context();
    if (!ctx_) return false;
    ctx_->pb = pb_;
    ctx_->flags |= AVFMT_FLAG_CUSTOM_IO;
    ctx_->io_open = &RefuseOpen;
    ctx_->interrupt_callback.callback = &Interrupted;
    ctx_->interrupt_callback.opaque = this;

    // The file is read through our own I/O context, so FFmpeg needs no
    // protocol at all: allowing none keeps any demuxer that refers to other
    // resources (playlists, concatenation lists) from reaching local files
    // or the network. The settings go straight into the context (which
    // frees the strings), not through an options dictionary that FFmpeg
    // would look up name by name for every file.
    ctx_->protocol_whitelist = av_strdup("none");
    ctx_->format_whitelist = av_strdup(FormatList().c_str());
    ctx_->codec_whitelist = av_strdup(kCodecWhitelist);
    if (!ctx_->protocol_whitelist || !ctx_->format_whitelist || !ctx_->codec_whitelist) {
      avformat_free_context(ctx_);
      ctx_ = nullptr;
      CloseDemuxer();
      return false;
    }
    ctx_->format_probesize = kFormatProbeSize;
    ctx_->probesize = kProbeSize;
    ctx_->max_analyze_duration = kAnalyzeDuration;
    // The empty name keeps the demuxers from opening anything by name.
    const int r = avformat_open_input(&ctx_, "", format, nullptr);
    if (r < 0) {
      ctx_ = nullptr;  // freed by avformat_open_input
      CloseDemuxer();
      return false;
    }
    return true;
  }

  void CloseDemuxer() {
    if (ctx_) avformat_close_input(&ctx_);  // leaves our I/O context alone
    if (pb_) {
      av_freep(&pb_->buffer);
      avio_context_free(&pb_);
    }
  }

  bool Expired() const { return std::chrono::steady_clock::now() > deadline_; }

  static int ReadPacket(void* opaque, uint8_t* buf, int size) {
    auto* self = static_cast<MediaInput*>(opaque);
    if (self->Expired()) return AVERROR_EXIT;
    if (size <= 0) return 0;
    const int64_t got = self->file_.ReadAt(self->pos_, buf, static_cast<size_t>(size));
    if (got < 0) return AVERROR(EIO);
    if (got == 0) return AVERROR_EOF;
    self->pos_ += got;
    return static_cast<int>(got);
  }

  static int64_t SeekTo(void* opaque, int64_t offset, int whence) {
    auto* self = static_cast<MediaInput*>(opaque);
    // Positions seen by FFmpeg start after the hidden tags.
    const int64_t size = self->size_ - self->start_;
    whence &= ~AVSEEK_FORCE;
    if (whence == AVSEEK_SIZE) return size;
    int64_t base = 0;
    switch (whence) {
      case SEEK_SET: base = 0; break;
      case SEEK_CUR: base = self->pos_ - self->start_; break;
      case SEEK_END: base = size; break;
      default: return AVERROR(EINVAL);
    }
    if (offset > 0 && base > std::numeric_limits<int64_t>::max() - self->start_ - offset) return AVERROR(EINVAL);
    const int64_t pos = base + offset;
    if (pos < 0) return AVERROR(EINVAL);
    self->pos_ = self->start_ + pos;
    return pos;
  }

  static int Interrupted(void* opaque) { return static_cast<MediaInput*>(opaque)->Expired() ? 1 : 0; }

  // Demuxers that would open further resources (playlists, references,
  // companion files) are refused: only the file itself is read.
  static int RefuseOpen(AVFormatContext*, AVIOContext**, const char*, int, AVDictionary**) {
    return AVERROR(EPERM);
  }

  const Source& file_;
  int64_t size_ = 0;
  int64_t start_ = 0;  // bytes of leading ID3v2 tags hidden from FFmpeg
  int64_t pos_ = 0;    // FFmpeg's read position in the file
  std::chrono::steady_clock::time_point deadline_{};
  AVIOContext* pb_ = nullptr;
  AVFormatContext* ctx_ = nullptr;
  bool analysed_ = false;
};

bool OnCodecWhitelist(const AVCodec* codec) {
  return codec && av_match_list(codec->name, kCodecWhitelist, ',') > 0;
}

// The first audio stream with a whitelisted decoder in this build; -1 if none.
int DecodableAudioStream(const AVFormatContext* ctx) {
  for (unsigned i = 0; i < ctx->nb_streams; ++i) {
    const AVCodecParameters* par = ctx->streams[i]->codecpar;
    if (par->codec_type == AVMEDIA_TYPE_AUDIO && par->codec_id != AV_CODEC_ID_NONE &&
        OnCodecWhitelist(avcodec_find_decoder(par->codec_id)))
      return static_cast<int>(i);
  }
  return -1;
}

// Streams other than audio are not analysed: no parser or decoder of theirs runs.
void DiscardAllButAudio(AVFormatContext* ctx) {
  for (unsigned i = 0; i < ctx->nb_streams; ++i)
    if (ctx->streams[i]->codecpar->codec_type != AVMEDIA_TYPE_AUDIO) ctx->streams[i]->discard = AVDISCARD_ALL;
}

}  // namespace

const char* FormatWhitelist() { return FormatList().c_str(); }
const char* CodecWhitelist() { return kCodecWhitelist; }

std::optional<AudioLength> ProbeAudioLength(const Source& file, std::string_view extension) {
  MediaInput in(file);
  if (!in.Open(extension)) return std::nullopt;
  AVFormatContext* ctx = in.Context();
  int index = DecodableAudioStream(ctx);
  if (index < 0) {
    // Formats without a header announce their streams only once read.
    DiscardAllButAudio(ctx);
    if (!in.FindStreamInfo() || (index = DecodableAudioStream(ctx)) < 0) return std::nullopt;
  }
  for (;;) {
    AudioLength len;
    len.FromStreamInfo = in.Analysed();
    if (auto s = StreamSeconds(ctx->streams[index])) {
      len.Seconds = *s;
      return len;
    }
    if (auto s = ContainerSeconds(ctx)) {
      len.Seconds = *s;
      return len;
    }
    if (in.Analysed()) return len;  // decodable, but no length is known
    DiscardAllButAudio(ctx);
    in.FindStreamInfo();  // a failed analysis may still have found a length
  }
}

std::optional<double> ProbeStreamSeconds(const Source& file, std::string_view extension, int index) {
  MediaInput in(file);
  if (index < 0 || !in.Open(extension)) return std::nullopt;
  const AVFormatContext* ctx = in.Context();
  if (static_cast<unsigned>(index) >= ctx->nb_streams) return std::nullopt;
  return StreamSeconds(ctx->streams[index]);
}

std::optional<int64_t> ProbeContainerDuration(const Source& file, std::string_view extension) {
  MediaInput in(file);
  if (!in.Open(extension)) return std::nullopt;
  const AVFormatContext* ctx = in.Context();
  if (ctx->duration == AV_NOPTS_VALUE || ctx->duration <= 0) {
    if (!in.FindStreamInfo() || ctx->duration == AV_NOPTS_VALUE || ctx->duration <= 0) return std::nullopt;
  }
  constexpr int64_t kPer = 10;  // 100-ns units per microsecond
  if (ctx->duration > std::numeric_limits<int64_t>::max() / kPer) return std::nullopt;
  return ctx->duration * kPer;
}

}  // namespace ordana::ffmpeg_probe
