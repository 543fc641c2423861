// A stand-in for the media probe's helper, for the tests of the parent's
// side: it speaks the helper's protocol and misbehaves as the file it is
// handed asks (its first word: crash, hang, spin, alloc MB, exit, garbage,
// seconds S, fds, spawn, work MS S: answers S after MS milliseconds). A copy whose program name holds "-start-silent",
// "-start-wrong" or "-start-exit" misbehaves at start instead.
#include <sys/stat.h>

#include <chrono>
#include <cstdlib>
#include <cstring>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "platform/HelperProcess.h"
#include "platform/MediaProbeProtocol.h"

using namespace ordana;
namespace pp = probe_protocol;

int main(int argc, char** argv) {
  if (!parent_channel::Present()) return 2;
  const std::string name = argc > 0 ? argv[0] : "";
  const auto startsAs = [&name](const char* mode) { return name.find(std::string("-start-") + mode) != std::string::npos; };
  if (startsAs("exit")) return 3;
  if (startsAs("silent")) std::this_thread::sleep_for(std::chrono::seconds(60));
  if (!parent_channel::Send(startsAs("wrong") ? std::string_view("ordana-probe 0") : pp::kHello)) return 1;

  std::string message;
  ReceivedFile file;
  while (parent_channel::Receive(message, &file)) {
    char text[256] = {};
    if (file.IsOpen()) file.ReadAt(0, text, sizeof text - 1);
    std::istringstream in(text);
    std::string word;
    in >> word;
    pp::Reply reply;
    if (word == "crash") {
      // A machine fault, on every system (and not one a sanitizer catches).
      __builtin_trap();
    } else if (word == "hang") {
      std::this_thread::sleep_for(std::chrono::seconds(60));
    } else if (word == "spin") {
      volatile unsigned long spins = 0;
      for (;;) {
        const unsigned long v = spins;
        spins = v + 1;
      }
    } else if (word == "exit") {
      return 0;
    } else if (word == "garbage") {
      if (!parent_channel::Send("not a reply")) return 1;
      continue;
    } else if (word == "alloc") {
      // Allocates (and touches) up to the asked number of MiB; answers how
      // many it got.
      int want = 0;
      in >> want;
      std::vector<char*> blocks;
      for (int i = 0; i < want; ++i) {
        char* p = static_cast<char*>(std::malloc(1 << 20));
        if (!p) break;
        std::memset(p, 1, 1 << 20);
        blocks.push_back(p);
      }
      reply.found = 1;
      reply.seconds = static_cast<double>(blocks.size());
      for (char* p : blocks) std::free(p);
    } else if (word == "work") {
      int ms = 0;
      in >> ms >> reply.seconds;
      std::this_thread::sleep_for(std::chrono::milliseconds(ms));
      reply.found = 1;
    } else if (word == "seconds") {
      in >> reply.seconds;
      reply.found = 1;
    } else if (word == "fds") {
      // The C runtime's descriptors open now (on POSIX all of the process's,
      // the handed-over file among them).
      int open = 0;
      for (int fd = 0; fd < 1024; ++fd) {
        struct stat st {};
        open += ::fstat(fd, &st) == 0;
      }
      reply.found = 1;
      reply.seconds = open;
    } else if (word == "spawn") {
      // Whether a process of its own could be started: the command
      // processor's status, or -1 when it could not be run.
      reply.found = 1;
      reply.seconds = std::system("exit 7");
    }
    file.Close();
    if (!parent_channel::Send(pp::Encode(reply))) return 1;
  }
  return 0;
}
