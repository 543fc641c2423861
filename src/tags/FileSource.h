#pragma once
// The one place where the tag readers meet files: a file opened for reading,
// seen as the ByteSource the format parsers read from.
#include <string>

#include "bytes/ByteSource.h"
#include "platform/FileIO.h"

namespace ordana {

class FileSource final : public bytes::ByteSource {
 public:
  // The file must stay open while the source is used.
  // Its size is the one the open found: every parser of one read sees the
  // same size, and none asks the system again.
  explicit FileSource(const InputFile& file)
      : file_(file), size_(file.SizeAtOpen() >= 0 ? file.SizeAtOpen() : file.Size()) {}
  int64_t Size() const override { return size_; }
  int64_t ReadAt(int64_t pos, void* buf, size_t n) const override {
    return file_.ReadAt(pos, buf, n);
  }

 private:
  const InputFile& file_;
  int64_t size_;
};

// Opens the file and returns parse(source) over its bytes; false, without
// calling parse, when it cannot be opened (*err then holds the cause).
template <class Parse>
bool ParseFile(const std::u16string& fileName, Parse&& parse, int* err = nullptr) {
  InputFile file = InputFile::Open(fileName, err);
  if (!file) return false;
  const FileSource source(file);
  return parse(static_cast<const bytes::ByteSource&>(source));
}

}  // namespace ordana
