#include <fcntl.h>
#include <io.h>
#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <iostream>
#include <streambuf>
#include <algorithm>
#include <string>

#include "platform/Console.h"
#include "platform/TextCodec.h"

namespace ordana {

namespace {

// A stream buffer that collects UTF-8 and writes it to a console as UTF-16.
// A sequence cut by a flush waits for its remaining bytes.
class ConsoleBuffer : public std::streambuf {
 public:
  explicit ConsoleBuffer(HANDLE console) : console_(console) {}

 protected:
  int_type overflow(int_type ch) override {
    if (ch != traits_type::eof()) {
      pending_.push_back(traits_type::to_char_type(ch));
      if (ch == '\n' || pending_.size() >= 4096) Flush();
    }
    return traits_type::not_eof(ch);
  }
  std::streamsize xsputn(const char* s, std::streamsize n) override {
    pending_.append(s, static_cast<size_t>(n));
    if (pending_.size() >= 4096 || pending_.find('\n') != std::string::npos) Flush();
    return n;
  }
  int sync() override {
    Flush();
    return 0;
  }

 private:
  // The length of pending_ without a UTF-8 sequence cut at its end.
  size_t CompleteLength() const {
    size_t n = pending_.size();
    for (size_t back = 1; back <= 3 && back <= n; ++back) {
      const unsigned char c = static_cast<unsigned char>(pending_[n - back]);
      if ((c & 0xC0) == 0x80) continue;  // a continuation byte: look further back
      const size_t len = c >= 0xF0 ? 4 : c >= 0xE0 ? 3 : c >= 0xC0 ? 2 : 1;
      return len > back ? n - back : n;
    }
    return n;
  }

  void Flush() {
    const size_t n = CompleteLength();
    if (n == 0) return;
    const std::u16string text = Utf8ToUtf16(Utf8View(std::string_view(pending_).substr(0, n)));
    pending_.erase(0, n);
    size_t done = 0;
    while (done < text.size()) {
      const DWORD piece = static_cast<DWORD>(std::min<size_t>(text.size() - done, 8192));
      DWORD written = 0;
      if (!WriteConsoleW(console_, text.data() + done, piece, &written, nullptr) || written == 0) return;
      done += written;
    }
  }

  HANDLE console_;
  std::string pending_;
};

bool IsConsole(HANDLE h) {
  DWORD mode = 0;
  return h != nullptr && h != INVALID_HANDLE_VALUE && GetConsoleMode(h, &mode);
}

UINT g_savedOutputCodePage = 0;

void RestoreCodePage() {
  if (g_savedOutputCodePage != 0) SetConsoleOutputCP(g_savedOutputCodePage);
}

}  // namespace

void SetUpConsoleOutput() {
  static bool done = false;
  if (done) return;
  done = true;
  const HANDLE out = GetStdHandle(STD_OUTPUT_HANDLE);
  const HANDLE err = GetStdHandle(STD_ERROR_HANDLE);
  const bool outConsole = IsConsole(out), errConsole = IsConsole(err);
  // Pipes and files: the bytes as written, no "\r\n" for "\n".
  _setmode(_fileno(stdout), _O_BINARY);
  _setmode(_fileno(stderr), _O_BINARY);
  if (outConsole || errConsole) {
    g_savedOutputCodePage = GetConsoleOutputCP();
    if (g_savedOutputCodePage != CP_UTF8 && SetConsoleOutputCP(CP_UTF8)) std::atexit(RestoreCodePage);
    else g_savedOutputCodePage = 0;
  }
  // The buffers are never destroyed: the streams flush into them until the
  // very end of the program, after every destructor of ours has run.
  if (outConsole) {
    std::cout.flush();
    std::cout.rdbuf(new ConsoleBuffer(out));
  }
  if (errConsole) {
    std::cerr.flush();
    std::cerr.rdbuf(new ConsoleBuffer(err));
  }
}

}  // namespace ordana
