// The file layer's portable part: the error texts, the path as the system
// gets it, and what InputFile does on top of the backend's open, size and
// positioned read (platform/<os>/FileIO.cpp).
#include "platform/FileIO.h"

#include <cerrno>

#include "platform/FileNames.h"
#include "platform/Strings.h"
#include "platform/TextCodec.h"

namespace ordana {

EFOpenError MakeOpenError(std::u16string_view fileName, int err) {
  return EFOpenError("Cannot open file \"" + Utf16ToUtf8(fileName).bytes() + "\". " + SystemMessage(err));
}

EFCreateError MakeCreateError(std::u16string_view fileName, int err) {
  return EFCreateError("Cannot create file \"" + Utf16ToUtf8(fileName).bytes() + "\". " +
                       SystemMessage(err));
}

std::string NativePath(std::u16string_view path) { return NameToSystemBytes(MapPath(path)); }

ReadCheck CheckReadable(std::u16string_view path) {
  int err = 0;
  const InputFile f = InputFile::Open(path, &err);
  return ReadCheckOfOpen(f.IsOpen(), err);
}

ReadCheck ReadCheckOfOpen(bool opened, int err) {
  if (opened) return ReadCheck::Readable;
  return err == ENOENT || err == ENOTDIR ? ReadCheck::NotFound : ReadCheck::NotReadable;
}

InputFile::~InputFile() { Close(); }

InputFile::InputFile(InputFile&& o) noexcept : handle_(o.handle_), pos_(o.pos_), sizeAtOpen_(o.sizeAtOpen_) {
  o.handle_ = -1;
  o.sizeAtOpen_ = -1;
}

InputFile& InputFile::operator=(InputFile&& o) noexcept {
  if (this != &o) {
    Close();
    handle_ = o.handle_;
    pos_ = o.pos_;
    sizeAtOpen_ = o.sizeAtOpen_;
    o.handle_ = -1;
    o.sizeAtOpen_ = -1;
  }
  return *this;
}

InputFile InputFile::OpenOrThrow(std::u16string_view path) {
  int err = 0;
  InputFile f = Open(path, &err);
  if (!f) throw MakeOpenError(path, err);
  return f;
}

bool InputFile::Seek(int64_t pos) {
  if (!IsOpen() || pos < 0) return false;
  pos_ = pos;
  return true;
}

int64_t InputFile::Read(void* buf, size_t n) {
  int64_t got = ReadAt(pos_, buf, n);
  if (got > 0) pos_ += got;
  return got;
}

bool InputFile::ReadExact(void* buf, size_t n) { return Read(buf, n) == static_cast<int64_t>(n); }

intptr_t InputFile::NativeHandle() const { return handle_; }

std::string ReadWholeFile(std::u16string_view path) {
  InputFile f = InputFile::OpenOrThrow(path);
  std::string data;
  char buf[1 << 16];
  for (;;) {
    int64_t n = f.Read(buf, sizeof buf);
    if (n < 0) throw MakeOpenError(path, errno);
    if (n == 0) break;
    data.append(buf, static_cast<size_t>(n));
  }
  return data;
}

}  // namespace ordana
