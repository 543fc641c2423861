#include "FuzzInput.h"

#include <fcntl.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <system_error>

#include "platform/TextCodec.h"

namespace ordana::fuzz {

namespace {

struct Folder {
  std::string path;
  Folder() {
    std::error_code ec;
    std::filesystem::path base = "/dev/shm";
    if (!std::filesystem::is_directory(base, ec) || ::access(base.c_str(), W_OK) != 0)
      base = std::filesystem::temp_directory_path();
    std::string pattern = (base / "ordana-fuzz-XXXXXX").string();
    if (!::mkdtemp(pattern.data())) Fail("cannot create the input folder");
    path = pattern;
  }
  ~Folder() {
    std::error_code ec;
    std::filesystem::remove_all(path, ec);
  }
};

}  // namespace

const std::string& InputFolder() {
  static Folder folder;
  return folder.path;
}

void Fail(const char* what) {
  std::fprintf(stderr, "fuzz invariant broken: %s\n", what);
  std::abort();
}

std::u16string WriteInputFile(const uint8_t* data, size_t size, std::string_view name) {
  const std::string path = InputFolder() + "/" + std::string(name);
  const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
  if (fd < 0) Fail("cannot create the input file");
  size_t done = 0;
  while (done < size) {
    const ssize_t n = ::write(fd, data + done, size - done);
    if (n <= 0) Fail("cannot write the input file");
    done += size_t(n);
  }
  ::close(fd);
  return Utf8ToUtf16(path);
}

}  // namespace ordana::fuzz
