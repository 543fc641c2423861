#include "bytes/ByteSource.h"

#include <algorithm>
#include <cstring>

namespace ordana::bytes {

int64_t MemorySource::ReadAt(int64_t pos, void* buf, size_t n) const {
  if (pos < 0) return -1;
  if (static_cast<uint64_t>(pos) >= bytes_.size()) return 0;
  const size_t count = std::min(n, bytes_.size() - static_cast<size_t>(pos));
  if (count) std::memcpy(buf, bytes_.data() + pos, count);
  return static_cast<int64_t>(count);
}

SourceWindow::SourceWindow(const ByteSource& source, size_t readAhead)
    : source_(source),
      memory_(source.Memory()),
      size_(source.Size()),
      readAhead_(readAhead),
      aheadEnd_(size_) {}

ByteReader SourceWindow::Get(int64_t pos, size_t n) {
  if (pos < 0 || size_ < 0 || n > static_cast<uint64_t>(size_) ||
      pos > size_ - static_cast<int64_t>(n))
    return ByteReader::Failed();
  ByteReader r = GetUpTo(pos, n);
  return r.Ok() && r.Size() == n ? r : ByteReader::Failed();
}

ByteReader SourceWindow::GetUpTo(int64_t pos, size_t n) {
  if (pos < 0 || size_ < 0) return ByteReader::Failed();
  const size_t want = pos >= size_ ? 0 : static_cast<size_t>(std::min<int64_t>(n, size_ - pos));
  if (memory_) return ByteReader(memory_->data() + (want ? pos : 0), want);
  if (want == 0) return ByteReader();
  const auto end = static_cast<int64_t>(want) + pos;
  if (pos >= bufPos_ && end <= bufPos_ + static_cast<int64_t>(bufLen_))
    return ByteReader(buf_.get() + (pos - bufPos_), want);
  int64_t len = std::clamp<int64_t>(aheadEnd_ - pos, 0, static_cast<int64_t>(readAhead_));
  len = std::min(std::max<int64_t>(len, static_cast<int64_t>(want)), size_ - pos);
  if (static_cast<size_t>(len) > bufCap_) {
    buf_ = std::make_unique_for_overwrite<char[]>(static_cast<size_t>(len));
    bufCap_ = static_cast<size_t>(len);
  }
  bufPos_ = pos;
  bufLen_ = 0;
  const int64_t got = source_.ReadAt(pos, buf_.get(), static_cast<size_t>(len));
  if (got < 0) {
    readError_ = true;
    return ByteReader::Failed();
  }
  bufLen_ = static_cast<size_t>(std::min(got, len));
  // The source may end early (it shrank): what was read still counts.
  return ByteReader(buf_.get(), std::min(bufLen_, want));
}

size_t SourceWindow::CopyPadded(int64_t pos, void* out, size_t n) {
  const ByteReader r = GetUpTo(pos, n);
  const size_t got = r.Ok() ? r.Size() : 0;
  if (got) std::memcpy(out, r.All().data(), got);
  if (n > got) std::memset(static_cast<char*>(out) + got, 0, n - got);
  return got;
}

}  // namespace ordana::bytes
