#include "platform/TextFile.h"

#include <algorithm>
#include <cerrno>

#include "platform/TextCodec.h"

namespace ordana {

namespace {

size_t UnitBytes(TextFileReader::Encoding e) {
  return e == TextFileReader::Encoding::Utf16LE || e == TextFileReader::Encoding::Utf16BE ? 2 : 1;
}

}  // namespace

TextFileReader::TextFileReader(std::u16string_view path, size_t pieceBytes)
    : path_(path), file_(InputFile::OpenOrThrow(path)), pieceBytes_(std::max<size_t>(pieceBytes, 4)) {}

bool TextFileReader::Fill() {
  if (atEnd_) return false;
  // No more than the file still holds (a short log is read in one go without
  // a whole piece's worth of buffer), and at least a little to see the end.
  size_t want = pieceBytes_;
  const int64_t size = file_.Size();
  if (size >= 0 && size - file_.Position() < static_cast<int64_t>(want))
    want = static_cast<size_t>(std::max<int64_t>(size - file_.Position(), 0)) + 1;
  const size_t old = carry_.size();
  carry_.resize(old + want);
  const int64_t got = file_.Read(carry_.data() + old, want);
  if (got < 0) {
    const int err = errno;
    carry_.resize(old);
    throw MakeOpenError(path_, err);
  }
  carry_.resize(old + static_cast<size_t>(got));
  if (static_cast<size_t>(got) < want) atEnd_ = true;  // reads are whole up to the end
  if (!started_) {
    started_ = true;
    auto starts = [&](std::string_view mark) { return std::string_view(carry_).substr(0, mark.size()) == mark; };
    size_t bom = 0;
    if (starts("\xFF\xFE")) encoding_ = Encoding::Utf16LE, bom = 2;
    else if (starts("\xFE\xFF")) encoding_ = Encoding::Utf16BE, bom = 2;
    else if (starts("\xEF\xBB\xBF")) encoding_ = Encoding::Utf8, bom = 3;
    carry_.erase(0, bom);
  }
  return got > 0;
}

size_t TextFileReader::CutPoint(bool atEnd) {
  if (atEnd) {
    searched_ = 0;
    return carry_.size();
  }
  const size_t w = UnitBytes(encoding_);
  const size_t units = carry_.size() / w;
  auto unit = [&](size_t i) -> unsigned {
    const auto b = [&](size_t k) { return static_cast<unsigned>(static_cast<uint8_t>(carry_[k])); };
    if (encoding_ == Encoding::Utf16LE) return b(2 * i) | (b(2 * i + 1) << 8);
    if (encoding_ == Encoding::Utf16BE) return (b(2 * i) << 8) | b(2 * i + 1);
    return b(i);
  };
  for (size_t i = units; i > searched_; --i) {
    const unsigned c = unit(i - 1);
    // A CR as the last unit read may still be followed by its LF.
    if (c == '\n' || (c == '\r' && i < units)) {
      searched_ = 0;
      return i * w;
    }
  }
  // A long line: only what comes after it is looked at next time (the
  // last unit again, which may be a CR).
  searched_ = units > 0 ? units - 1 : 0;
  return 0;
}

bool TextFileReader::Next(std::u16string& text) {
  text.clear();
  for (;;) {
    if (!started_ || carry_.empty()) Fill();
    const size_t cut = CutPoint(atEnd_);
    if (cut == 0 && !atEnd_) {
      Fill();
      continue;
    }
    if (cut == 0) return false;
    const std::string_view piece(carry_.data(), cut);
    switch (encoding_) {
      case Encoding::Ansi: text = AnsiToUtf16(AnsiView(piece)); break;
      case Encoding::Utf8: text = Utf8ToUtf16(Utf8View(piece)); break;
      case Encoding::Utf16LE: text = Utf16LEToUtf16(piece); break;
      case Encoding::Utf16BE: text = Utf16BEToUtf16(piece); break;
    }
    carry_.erase(0, cut);
    if (text.empty() && atEnd_ && carry_.empty()) return false;  // an odd last byte of UTF-16
    return true;
  }
}

}  // namespace ordana
