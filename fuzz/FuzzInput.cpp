#include "FuzzInput.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <random>
#include <system_error>

#include "platform/FileIO.h"
#include "platform/TextCodec.h"

namespace ordana::fuzz {

namespace {

namespace fs = std::filesystem;

fs::path Utf8Path(const std::string& utf8) {
  return fs::path(std::u8string(reinterpret_cast<const char8_t*>(utf8.data()), utf8.size()));
}

std::string PathUtf8(const fs::path& p) {
  const std::u8string s = p.u8string();
  return std::string(reinterpret_cast<const char*>(s.data()), s.size());
}

// A folder of our own for the inputs, in memory where the system has one
// (/dev/shm), else in the temporary folder; removed at exit.
struct Folder {
  std::string path;
  Folder() {
    std::error_code ec;
    fs::path base = "/dev/shm";
    if (!fs::is_directory(base, ec)) base = fs::temp_directory_path(ec);
    std::random_device random;
    for (int attempt = 0; attempt < 100; ++attempt) {
      char name[32];
      std::snprintf(name, sizeof name, "ordana-fuzz-%08x", unsigned(random()));
      const fs::path candidate = base / name;
      if (fs::create_directory(candidate, ec)) {
        path = PathUtf8(candidate);
        return;
      }
    }
    Fail("cannot create the input folder");
  }
  ~Folder() {
    std::error_code ec;
    fs::remove_all(Utf8Path(path), ec);
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
  std::ofstream out(Utf8Path(path), std::ios::binary | std::ios::trunc);
  if (!out) Fail("cannot create the input file");
  out.write(reinterpret_cast<const char*>(data), std::streamsize(size));
  out.close();
  if (!out) Fail("cannot write the input file");
  return Utf8ToUtf16(Utf8View(path));
}

namespace {

template <class Text>
void PrintUnits(const char* label, const Text& t) {
  std::fprintf(stderr, "%s (%zu):", label, t.size());
  for (size_t i = 0; i < t.size() && i < 64; ++i) std::fprintf(stderr, " %04x", unsigned(t[i]) & 0xFFFF);
  std::fprintf(stderr, "%s\n", t.size() > 64 ? " ..." : "");
}

template <class Text>
void Same(const Text& got, const Text& want, const char* what) {
  if (got == want) return;
  PrintUnits("read back", got);
  PrintUnits("written  ", want);
  Fail(what);
}

}  // namespace

void CheckSame(const std::u16string& got, const std::u16string& want, const char* what) {
  Same(got, want, what);
}
void CheckSame(const std::string& got, const std::string& want, const char* what) {
  Same(got, want, what);
}

std::string ReadInputFile(const std::u16string& path) {
  try {
    return ReadWholeFile(path);
  } catch (const std::exception&) {
    Fail("cannot read the file written");
  }
}

SaveCase::SaveCase(const uint8_t* data, size_t size, std::string_view name)
    : in(data, size),
      path(WriteInputFile(in.FileData(), in.FileSize(), name)),
      before(reinterpret_cast<const char*>(in.FileData()), in.FileSize()) {}

std::string SaveCase::After(bool changed) const {
  std::string after = ReadInputFile(path);
  if (!changed) Check(after == before, "a failed save changed the file");
  return after;
}

SaveInput::SaveInput(const uint8_t* data, size_t size) {
  // One length byte below 0x80, or two bytes holding 15 bits.
  size_t prefix = 0, n = 0;
  if (size >= 1 && data[0] < 0x80) {
    prefix = 1, n = data[0];
  } else if (size >= 2) {
    prefix = 2, n = size_t(data[0] & 0x7F) << 8 | data[1];
  }
  prefix = std::min(prefix, size);
  n = std::min(n, size - prefix);
  choices_ = data + prefix;
  choiceSize_ = n;
  file_ = data + prefix + n;
  fileSize_ = size - prefix - n;
}

uint8_t SaveInput::Byte() { return at_ < choiceSize_ ? choices_[at_++] : 0; }

std::u16string SaveInput::Text(bool& clean) {
  const uint8_t kind = Byte();
  size_t length = Byte();
  if (kind & 0x80) length |= size_t(kind & 3) << 8;  // now and then a long text
  std::u16string t;
  clean = true;
  for (size_t i = 0; i < length; ++i) {
    const uint8_t b = Byte();
    switch ((kind >> 2) & 7) {
      case 0:
      case 1:  // ASCII, blanks included
        t += char16_t(0x20 + b % 0x5F);
        break;
      case 2:  // Cyrillic and digits
        t += b & 0x80 ? char16_t(0x0410 + b % 0x40) : char16_t(u'0' + b % 10);
        break;
      case 3: {  // any BMP character outside the surrogates
        char16_t u = char16_t(b << 8 | Byte());
        // Byte-order marks are markers, not text, to the readers.
        if (u == 0 || (u >= 0xD800 && u <= 0xDFFF) || u == 0xFEFF || u == 0xFFFE) u = 0x4E00 + b;
        t += u;
        break;
      }
      case 4:  // a surrogate pair
        t += char16_t(0xD800 + (b & 0x3F));
        t += char16_t(0xDC00 + Byte() % 0x400);
        break;
      default: {  // anything: zero units, lone surrogates, control characters
        const char16_t u = char16_t(b << 8 | Byte());
        clean = clean && u != 0 && (u < 0xD800 || u > 0xDFFF) && u != 0xFEFF && u != 0xFFFE;
        t += u;
        break;
      }
    }
    if (at_ >= choiceSize_) break;
  }
  return t;
}

std::string SaveInput::Bytes() {
  size_t length = Byte();
  length |= size_t(Byte() & 3) << 8;
  std::string s;
  for (size_t i = 0; i < length && at_ < choiceSize_; ++i) s += char(Byte());
  return s;
}

}  // namespace ordana::fuzz
