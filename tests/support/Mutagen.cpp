#include "support/Mutagen.h"

namespace ordana::test {

const std::string& MutagenPython() {
  static const std::string python = [] {
    if (!kHaveLinuxTools) return std::string();
    for (const char* p : {"python3", "/usr/bin/python3"})
      if (Run(std::string(p) + " -c 'import mutagen'") == 0) return std::string(p);
    return std::string();
  }();
  return python;
}

int RunPython(const std::string& script, const std::string& args, std::string* output) {
  return Run(MutagenPython() + " -c " + ShellQuote(script) + " " + args, output);
}

std::string AddId3TextFrames(std::initializer_list<Id3TextFrame> frames) {
  std::string lines;
  for (const Id3TextFrame& f : frames) {
    std::string text;  // a Python string literal in single quotes
    for (char c : f.text) {
      if (c == '\\' || c == '\'') text += '\\';
      text += c;
    }
    lines += "t.add(" + std::string(f.id) + "(encoding=" + std::to_string(f.encoding) + ", text='" + text + "'))\n";
  }
  return lines;
}

std::string Hex(std::string_view bytes) {
  static const char digits[] = "0123456789abcdef";
  std::string out;
  for (unsigned char c : bytes) out += {digits[c >> 4], digits[c & 15]};
  return out;
}

std::string Unhex(std::string_view hex) {
  auto val = [](char c) { return c <= '9' ? c - '0' : (c | 0x20) - 'a' + 10; };
  std::string out;
  for (size_t i = 0; i + 1 < hex.size(); i += 2)
    out += static_cast<char>(val(hex[i]) << 4 | val(hex[i + 1]));
  return out;
}

}  // namespace ordana::test
