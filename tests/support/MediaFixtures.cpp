#include "support/MediaFixtures.h"

namespace ordana::test {

::testing::AssertionResult Encode(const std::string& command) {
  std::string output;
  const int rc = Run(command, &output);
  if (rc == 0) return ::testing::AssertionSuccess();
  return ::testing::AssertionFailure() << "`" << command << "` exited with " << rc << ":\n" << output;
}

std::string SineWav(const TempDir& dir, const std::string& name, const std::string& seconds, int rate) {
  const std::string path = dir.File(name);
  const auto r = Encode("sox -n -r " + std::to_string(rate) + " -c 1 -b 16 " + ShellQuote(path) + " synth " +
                        seconds + " sine 440 vol 0.5");
  if (!r) ADD_FAILURE() << r.message();
  return path;
}

::testing::AssertionResult EncodeWav(const TempDir& dir, const std::string& wav,
                                     std::initializer_list<EncodedFile> files) {
  const std::string in = ShellQuote(wav);
  for (const EncodedFile& f : files) {
    const std::string name = f.name, out = ShellQuote(dir.File(name));
    const std::string options = *f.options ? std::string(f.options) + " " : std::string();
    const std::string ext = name.substr(name.rfind('.') + 1);
    const std::string ffmpeg = "ffmpeg -nostdin -v error -y -i " + in + " -c:a ";
    std::string command;
    if (ext == "flac") command = "flac -s " + options + "-o " + out + " " + in;
    else if (ext == "ogg") command = "oggenc -Q " + options + "-o " + out + " " + in;
    else if (ext == "mp3") command = "lame --quiet " + options + in + " " + out;
    else if (ext == "m4a") command = ffmpeg + "aac " + options + out;
    else if (ext == "wma") command = ffmpeg + "wmav2 " + options + out;
    else return ::testing::AssertionFailure() << "no encoder for " << name;
    if (auto r = Encode(command); !r) return r;
  }
  return ::testing::AssertionSuccess();
}

namespace {
uint32_t Be32(std::string_view s, size_t at) {
  return (uint32_t(uint8_t(s[at])) << 24) | (uint32_t(uint8_t(s[at + 1])) << 16) |
         (uint32_t(uint8_t(s[at + 2])) << 8) | uint32_t(uint8_t(s[at + 3]));
}
}  // namespace

std::optional<XingHeader> ReadXingHeader(std::string_view f) {
  size_t pos = 0;
  if (f.size() >= 10 && f.substr(0, 3) == "ID3") {
    pos = 10 + ((size_t(f[6] & 0x7F) << 21) | (size_t(f[7] & 0x7F) << 14) | (size_t(f[8] & 0x7F) << 7) |
                size_t(f[9] & 0x7F));
  }
  if (f.size() < pos + 4 || uint8_t(f[pos]) != 0xFF || (uint8_t(f[pos + 1]) & 0xE0) != 0xE0) return std::nullopt;
  const int version = (uint8_t(f[pos + 1]) >> 3) & 3;  // 3 = MPEG 1, 2 = MPEG 2, 0 = MPEG 2.5
  const int layer = (uint8_t(f[pos + 1]) >> 1) & 3;    // 1 = Layer III
  const int rateIndex = (uint8_t(f[pos + 2]) >> 2) & 3;
  const bool mono = (uint8_t(f[pos + 3]) >> 6) == 3;
  if (layer != 1 || version == 1 || rateIndex == 3) return std::nullopt;
  static constexpr int kRates[3] = {44100, 48000, 32000};
  XingHeader h;
  h.sampleRate = kRates[rateIndex] / (version == 3 ? 1 : version == 2 ? 2 : 4);
  h.samplesPerFrame = version == 3 ? 1152 : 576;
  const size_t side = version == 3 ? (mono ? 17 : 32) : (mono ? 9 : 17);
  const size_t at = pos + 4 + side;
  if (f.size() < at + 12) return std::nullopt;
  if (f.substr(at, 4) != "Xing" && f.substr(at, 4) != "Info") return std::nullopt;
  if (!(Be32(f, at + 4) & 1)) return std::nullopt;
  h.frames = Be32(f, at + 8);
  return h;
}

std::string DecodedAudioDigest(const std::string& file) {
  std::string out;
  EXPECT_EQ(Run("ffmpeg -v error -i " + ShellQuote(file) + " -map 0:a -f md5 -", &out), 0) << out;
  const size_t at = out.find("MD5=");
  return at == std::string::npos ? out : out.substr(at);
}

int64_t SoxSamples(const std::string& file) {
  std::string out;
  EXPECT_EQ(Run("soxi -s " + ShellQuote(file), &out), 0) << out;
  return std::stoll(out);
}

}  // namespace ordana::test
