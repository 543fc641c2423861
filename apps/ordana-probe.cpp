// ordana-probe: the media probe's helper. ordana-report and ordana-tags start
// it (from their own folder) to measure track lengths with FFmpeg in a
// process of its own: it receives one open file at a time over its standard
// input, answers over its standard output, and opens nothing itself.
#include <cstdio>
#include <cstring>
#include <string>

#include "platform/HelperProcess.h"
#include "platform/MediaProbeProtocol.h"
#include "platform/ffmpeg/FFmpegProbe.h"

namespace {

using namespace ordana;
namespace pp = probe_protocol;

const char kHelp[] =
    "usage: ordana-probe --help\n"
    "\n"
    "The media probe's helper: ordana-report and ordana-tags start it from their\n"
    "own folder to measure track lengths with FFmpeg, in a process of its own\n"
    "under a memory limit. It takes its requests, each with an open file, over\n"
    "its standard input and standard output and is not meant to be run by hand.\n"
    "\n"
    "Demuxers: %s\n"
    "Decoders: %s\n";

class FileSource final : public ffmpeg_probe::Source {
 public:
  explicit FileSource(const ReceivedFile& f) : f_(f) {}
  int64_t Size() const override { return f_.Size(); }
  int64_t ReadAt(int64_t pos, void* buf, size_t n) const override { return f_.ReadAt(pos, buf, n); }

 private:
  const ReceivedFile& f_;
};

pp::Reply Measure(const pp::Request& req, const ReceivedFile& file) {
  pp::Reply reply;
  if (!file.IsOpen()) return reply;
  const FileSource source(file);
  const std::string_view ext(req.extension, strnlen(req.extension, sizeof req.extension));
  switch (req.op) {
    case pp::Op::kAudioLength:
      if (auto len = ffmpeg_probe::ProbeAudioLength(source, ext)) {
        reply.found = 1;
        reply.seconds = len->Seconds;
        reply.fromStreamInfo = len->FromStreamInfo ? 1 : 0;
      }
      break;
    case pp::Op::kStreamSeconds:
      if (auto s = ffmpeg_probe::ProbeStreamSeconds(source, ext, req.index)) {
        reply.found = 1;
        reply.seconds = *s;
      }
      break;
    case pp::Op::kContainerDuration:
      if (auto units = ffmpeg_probe::ProbeContainerDuration(source, ext)) {
        reply.found = 1;
        reply.units = *units;
      }
      break;
  }
  return reply;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc > 1 || !parent_channel::Present()) {
    const bool help = argc > 1 && (std::strcmp(argv[1], "--help") == 0 || std::strcmp(argv[1], "-h") == 0);
    std::fprintf(help ? stdout : stderr, kHelp, ffmpeg_probe::FormatWhitelist(), ffmpeg_probe::CodecWhitelist());
    return help ? 0 : 2;
  }
  if (!parent_channel::Send(pp::kHello)) return 1;
  std::string message;
  ReceivedFile file;
  while (parent_channel::Receive(message, &file)) {
    const auto req = pp::Decode<pp::Request>(message);
    if (!req || req->op < pp::Op::kAudioLength || req->op > pp::Op::kContainerDuration) return 1;
    const pp::Reply reply = Measure(*req, file);
    file.Close();
    if (!parent_channel::Send(pp::Encode(reply))) return 1;
  }
  return 0;
}
