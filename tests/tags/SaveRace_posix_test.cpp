// Saves under stress: two processes saving one file at once, and a saving
// process killed at random moments. The counts are small here; with
// ORDANA_STRESS=1 (scripts/stress) they are the full ones: 200 race rounds
// per format and 50 kills.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <functional>
#include <random>
#include <set>
#include <thread>

#include "platform/SafeWrite.h"
#include "platform/TextCodec.h"
#include "support/MediaFixtures.h"
#include "support/TestFiles.h"
#include "tags/APETag.h"
#include "tags/FLACfile.h"
#include "tags/ID3v1.h"
#include "tags/ID3v2.h"
#include "tags/OggVorbis.h"
#include "tags/WMAfile.h"

namespace ordana {
namespace {

namespace fs = std::filesystem;
using test::ReadBytes;
using test::ShellQuote;
using test::WriteBytes;

bool Stress() {
  const char* s = std::getenv("ORDANA_STRESS");
  return s && *s && std::string(s) != "0";
}

// One format: how its fixture is made, and two saves of different kinds
// (a small change, written in place where the format allows, and a large
// one that forces a rewrite).
struct Format {
  const char* name;
  std::function<void(const std::string& wav, const std::string& out)> make;
  // Each reads the tag from one file and saves into another (the same file,
  // or one that changed since it was read).
  std::function<bool(const std::u16string& from, const std::u16string& to)> small, large;
};

bool SaveId3(const std::u16string& from, const std::u16string& f, const std::u16string& title) {
  TID3v2 v2;
  TID3v1 v1;
  if (!v2.ReadFromFile(from) || !v1.ReadFromFile(from)) return false;
  v2.SetTitle(title);
  v1.SetTitle(AnsiString(Utf16ToAnsi(title).view().substr(0, 30)));
  return v2.SaveToFile(f, v1.Exists() ? v1.Block() : std::string());
}

std::vector<Format> Formats() {
  const std::u16string longText(3000, u'Ж');
  auto run = [](const std::string& cmd) { ASSERT_EQ(test::Run(cmd), 0) << cmd; };
  return {
      {"mp3",
       [run](const std::string& wav, const std::string& out) {
         run("lame --quiet -b 64 " + ShellQuote(wav) + " " + ShellQuote(out));
         TID3v1 v1;
         v1.SetTitle(AnsiString("Start"));
         ASSERT_TRUE(v1.SaveToFile(U16(out)));
         ASSERT_TRUE(SaveId3(U16(out), U16(out), u"Start"));
       },
       [](const std::u16string& from, const std::u16string& f) { return SaveId3(from, f, u"Small"); },
       [longText](const std::u16string& from, const std::u16string& f) { return SaveId3(from, f, longText); }},
      {"flac",
       [run](const std::string& wav, const std::string& out) {
         run("flac -s -f -o " + ShellQuote(out) + " " + ShellQuote(wav));
       },
       [](const std::u16string& from, const std::u16string& f) {
         TFLACfile t;
         if (!t.ReadFromFile(from)) return false;
         t.SetTitle(u"Small");
         return t.SaveToFile(f);
       },
       [longText](const std::u16string& from, const std::u16string& f) {
         TFLACfile t;
         if (!t.ReadFromFile(from)) return false;
         t.SetComment(longText + longText + longText + longText);
         return t.SaveToFile(f);
       }},
      {"ogg",
       [run](const std::string& wav, const std::string& out) {
         run("oggenc -Q -o " + ShellQuote(out) + " " + ShellQuote(wav));
       },
       [](const std::u16string& from, const std::u16string& f) {
         TOggVorbis t;
         if (!t.ReadFromFile(from)) return false;
         t.SetTitle(u"Small");
         return t.SaveTag(f);
       },
       [longText](const std::u16string& from, const std::u16string& f) {
         TOggVorbis t;
         if (!t.ReadFromFile(from)) return false;
         t.SetComment(std::u16string(40000, u'Ж'));  // two pages
         return t.SaveTag(f);
       }},
      {"ape",
       [run](const std::string& wav, const std::string& out) {
         run("lame --quiet -b 64 " + ShellQuote(wav) + " " + ShellQuote(out));
       },
       [](const std::u16string& from, const std::u16string& f) {
         TAPETag t;
         if (!t.ReadFromFile(from)) return false;
         t.EditField(std::u16string(u"Title"), std::u16string(u"Small"));
         return t.WriteTagInFile(f);
       },
       [longText](const std::u16string& from, const std::u16string& f) {
         TAPETag t;
         if (!t.ReadFromFile(from)) return false;
         t.EditField(std::u16string(u"Comment"), longText);
         return t.WriteTagInFile(f);
       }},
      {"wma",
       [run](const std::string& wav, const std::string& out) {
         run("ffmpeg -v error -y -i " + ShellQuote(wav) + " -c:a wmav2 -b:a 64k " + ShellQuote(out));
       },
       [](const std::u16string& from, const std::u16string& f) {
         TWMA t;
         if (!t.LoadFromFile(from)) return false;
         t.SetTitle(u"Small");
         return t.SaveToFile(f);
       },
       [longText](const std::u16string& from, const std::u16string& f) {
         TWMA t;
         if (!t.LoadFromFile(from)) return false;
         t.SetComment(longText + longText);
         return t.SaveToFile(f);
       }},
  };
}

// Runs fn in a child that waits for go to become readable first.
pid_t Child(int go, const std::function<bool()>& fn) {
  const pid_t pid = ::fork();
  if (pid == 0) {
    char c;
    if (::read(go, &c, 1) != 1) ::_exit(9);
    ::_exit(fn() ? 0 : 1);
  }
  return pid;
}

int Wait(pid_t pid) {
  int st = 0;
  ::waitpid(pid, &st, 0);
  return WIFEXITED(st) ? WEXITSTATUS(st) : 128 + WTERMSIG(st);
}

// Two processes save the same file at once, an in-place save against a
// rewrite: every round ends in one of the outcomes of the two saves run one
// after the other (byte for byte), each of which decodes to the same audio.
TEST(SaveRace, TwoSaversNeverTearAFile) {
  for (const char* tool : {"lame", "flac", "oggenc", "ffmpeg", "sox"}) ORDANA_REQUIRE_TOOL(tool);
  const int rounds = Stress() ? 200 : 20;
  test::TempDir dir;
  const std::string wav = dir.File("in.wav");
  ASSERT_EQ(test::Run("sox -n -r 44100 -c 2 -b 16 " + ShellQuote(wav) + " synth 1 sine 440"), 0);
  for (const Format& fmt : Formats()) {
    SCOPED_TRACE(fmt.name);
    const fs::path folder = dir.path() / fmt.name;
    fs::create_directory(folder);
    const std::string file =
        (folder / (std::string("race.") + (fmt.name == std::string("ape") ? "mp3" : fmt.name))).string();
    const auto file16 = U16(file);
    fmt.make(wav, file);
    const std::string start = ReadBytes(file);
    const std::string audio = test::DecodedAudioDigest(file);
    // The outcomes of the two saves one after the other, and alone (a
    // writer that holds every comment it read writes them all back).
    // Every outcome of the two saves one after the other, the second one's
    // tag read before or after the first save, and of either alone (a writer
    // that writes back every comment it read can undo the other's change).
    const fs::path origin = dir.path() / (std::string(fmt.name) + "-start");
    fs::create_directory(origin);
    const std::string x = (origin / fs::path(file).filename()).string();
    WriteBytes(x, start);
    std::set<std::string> outcomes;
    for (const auto* first : {&fmt.small, &fmt.large}) {
      const auto* second = first == &fmt.small ? &fmt.large : &fmt.small;
      for (int variant = 0; variant < 3; ++variant) {
        WriteBytes(file, start);
        ASSERT_TRUE((*first)(file16, file16));
        if (variant == 1) {
          ASSERT_TRUE((*second)(file16, file16));
        } else if (variant == 2) {
          ASSERT_TRUE((*second)(U16(x), file16));
        }
        // The APE tag goes after the audio, where decoders meet it as data:
        // there the audio bytes themselves are compared.
        if (fmt.name == std::string("ape")) {
          EXPECT_EQ(ReadBytes(file).compare(0, start.size(), start), 0);
        } else {
          EXPECT_EQ(test::DecodedAudioDigest(file), audio);
        }
        if (fmt.name == std::string("flac")) {
          EXPECT_EQ(test::Run("flac -t -s " + ShellQuote(file)), 0);
        }
        outcomes.insert(ReadBytes(file));
      }
    }
    for (int round = 0; round < rounds; ++round) {
      WriteBytes(file, start);
      int go[2];
      ASSERT_EQ(::pipe(go), 0);
      const pid_t a = Child(go[0], [&] { return fmt.small(file16, file16); });
      const pid_t b = Child(go[0], [&] { return fmt.large(file16, file16); });
      ASSERT_EQ(::write(go[1], "gg", 2), 2);
      ::close(go[0]);
      ::close(go[1]);
      const int sa = Wait(a), sb = Wait(b);
      ASSERT_EQ(sa, 0) << "round " << round;
      ASSERT_EQ(sb, 0) << "round " << round;
      const std::string now = ReadBytes(file);
      ASSERT_TRUE(outcomes.count(now)) << "round " << round << ": a torn or mixed file";
      ASSERT_EQ(std::distance(fs::directory_iterator(folder), {}), 1) << "round " << round;
    }
    std::printf("[ info ] %s: %d race rounds, every one ended in a whole save\n", fmt.name, rounds);
  }
}

// One rule for every writer: a file its owner may not write is refused as
// "read-only" and left byte for byte, whether the save would patch it in
// place, rewrite it or remove a tag (root included).
TEST(SaveRules, EveryWriterRefusesReadOnlyFiles) {
  for (const char* tool : {"lame", "flac", "oggenc", "ffmpeg", "sox"}) ORDANA_REQUIRE_TOOL(tool);
  test::TempDir dir;
  const std::string wav = dir.File("in.wav");
  ASSERT_EQ(test::Run("sox -n -r 44100 -c 1 -b 16 " + ShellQuote(wav) + " synth 0.2 sine 440"), 0);
  for (const Format& fmt : Formats()) {
    SCOPED_TRACE(fmt.name);
    const std::string file = dir.File(std::string("ro.") + (fmt.name == std::string("ape") ? "mp3" : fmt.name));
    const auto file16 = U16(file);
    fmt.make(wav, file);
    if (fmt.name == std::string("ape")) {
      ASSERT_TRUE(fmt.small(file16, file16));  // a tag to remove
    }
    const std::string before = ReadBytes(file);
    ASSERT_EQ(::chmod(file.c_str(), 0444), 0);
    std::vector<std::pair<const char*, std::function<bool()>>> saves = {
        {"small", [&] { return fmt.small(file16, file16); }},
        {"large", [&] { return fmt.large(file16, file16); }}};
    const std::string name = fmt.name;
    if (name == "mp3") {
      saves.push_back({"ID3v2 removal", [&] { return TID3v2().RemoveFromFile(file16); }});
      saves.push_back({"ID3v1 removal", [&] { return TID3v1().RemoveFromFile(file16); }});
      saves.push_back({"ID3v1 alone", [&] {
                         TID3v1 v1;
                         return v1.ReadFromFile(file16) && (v1.SetTitle(AnsiString("x")), v1.SaveToFile(file16));
                       }});
    } else if (name == "ogg") {
      saves.push_back({"clear", [&] {
                         TOggVorbis t;
                         return t.ReadFromFile(file16) && t.ClearTag(file16);
                       }});
    } else if (name == "ape") {
      saves.push_back({"removal", [&] {
                         try {
                           return TAPETag().RemoveTagFromFile(file16);
                         } catch (const std::exception&) {
                           return false;  // its errors reach the caller
                         }
                       }});
    } else if (name == "wma") {
      saves.push_back({"removal", [&] {
                         TWMA t;
                         return t.LoadFromFile(file16) && t.RemoveTag(file16);
                       }});
    }
    for (const auto& [what, save] : saves) {
      ClearLastSaveStatus();
      EXPECT_FALSE(save()) << what;
      EXPECT_EQ(LastSaveStatus().failure, SaveFailure::ReadOnly) << what << ": " << LastSaveStatus().reason;
      EXPECT_EQ(LastSaveStatus().reason, "read-only") << what;
      EXPECT_TRUE(ReadBytes(file) == before) << what;
    }
    EXPECT_EQ(std::distance(fs::directory_iterator(dir.path()), {}), 2) << "nothing left beside the file";
    ::chmod(file.c_str(), 0644);
    fs::remove(file);
  }
}

// A process rewriting a 100 MB file is killed (SIGKILL) at a random moment,
// once as an ordinary rewrite and once in place (the file has a second
// name): after the next save the file holds the old content or the new one,
// whole, and nothing of the killed save is left.
TEST(SaveKill, KilledRewritesLeaveTheOldOrTheNewFile) {
  const int kills = Stress() ? 50 : 5;
  test::TempDir dir;
  const std::string file = dir.File("big.mp3");
  const auto file16 = U16(file);
  std::string original = "ID3" + std::string("\x04\0\0\0\0\0\x20", 7) + std::string(32, '\0');
  original.reserve(100 << 20);
  std::mt19937 rng(7);
  while (original.size() < (100u << 20)) original += static_cast<char>(rng());
  const std::string oldDigest = test::Digest(original);
  auto save = [&] {
    TID3v2 t;
    if (!t.ReadFromFile(file16)) return false;
    t.SetTitle(u"A title longer than the old tag's room");
    return t.SaveToFile(file16);
  };
  WriteBytes(file, original);
  ASSERT_TRUE(save());
  const std::string newDigest = test::Digest(ReadBytes(file));
  // How long one save takes, for the range of kill times.
  WriteBytes(file, original);
  const auto t0 = std::chrono::steady_clock::now();
  ASSERT_TRUE(save());
  const auto took = std::chrono::duration_cast<std::chrono::microseconds>(std::chrono::steady_clock::now() - t0);
  int killedMidway = 0;
  for (int k = 0; k < kills; ++k) {
    const bool inPlace = k % 2 == 1;
    WriteBytes(file, original);
    if (inPlace) fs::create_hard_link(file, dir.path() / "other-name.mp3");
    int go[2];
    ASSERT_EQ(::pipe(go), 0);
    const pid_t pid = Child(go[0], save);
    ASSERT_EQ(::write(go[1], "g", 1), 1);
    std::this_thread::sleep_for(std::chrono::microseconds(rng() % (took.count() * (inPlace ? 3 : 1) + 1)));
    ::kill(pid, SIGKILL);
    const int status = Wait(pid);
    ::close(go[0]);
    ::close(go[1]);
    killedMidway += status == 128 + SIGKILL;
    { SaveSession next(file16); ASSERT_TRUE(next) << next.Status().reason; }
    const std::string d = test::Digest(ReadBytes(file));
    ASSERT_TRUE(d == oldDigest || d == newDigest) << "kill " << k << (inPlace ? " (in place)" : "");
    ASSERT_EQ(std::distance(fs::directory_iterator(dir.path()), {}), inPlace ? 2 : 1) << "kill " << k;
    if (inPlace) fs::remove(dir.path() / "other-name.mp3");
  }
  std::printf("[ info ] %d kills during 100 MB saves (%d before the save ended; one save takes %lld ms)\n",
              kills, killedMidway, static_cast<long long>(took.count() / 1000));
}

}  // namespace
}  // namespace ordana
