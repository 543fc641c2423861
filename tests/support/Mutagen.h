#pragma once
// Running python3 with mutagen, the independent tag reader and writer of
// some tests (Debian package python3-mutagen).
#include <initializer_list>
#include <string>
#include <string_view>

#include "support/TestFiles.h"

namespace ordana::test {

// A python interpreter that can import mutagen ("python3" on PATH, else the
// system's /usr/bin/python3), or empty when there is none.
const std::string& MutagenPython();

// Runs a python script (given as text) with the arguments; returns the exit
// status, the script's standard output (and error) in *output.
int RunPython(const std::string& script, const std::string& args, std::string* output = nullptr);

// Python lines that add text frames to the ID3 tag `t` of a mutagen script,
// one line a frame: its mutagen class (which the script imports), its
// encoding (0 Latin-1, 1 UTF-16, 2 UTF-16BE, 3 UTF-8) and its text (UTF-8).
struct Id3TextFrame {
  const char* id;
  int encoding;
  std::string_view text;
};
std::string AddId3TextFrames(std::initializer_list<Id3TextFrame> frames);

// Hex text of bytes (lower case), and back.
std::string Hex(std::string_view bytes);
std::string Unhex(std::string_view hex);

}  // namespace ordana::test

// Skips the test when mutagen is missing; fails when ORDANA_REQUIRE_TOOLS=1.
#define ORDANA_REQUIRE_MUTAGEN()                                                        \
  do {                                                                                  \
    ORDANA_SKIP_WITHOUT_LINUX_TOOLS("python3-mutagen");                                 \
    if (::ordana::test::MutagenPython().empty()) {                                      \
      if (::ordana::test::ToolsRequired()) FAIL() << "missing tool: python3-mutagen";   \
      GTEST_SKIP() << "python3-mutagen not installed";                                  \
    }                                                                                   \
  } while (0)
