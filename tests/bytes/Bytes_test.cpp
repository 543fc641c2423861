#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "bytes/ByteReader.h"
#include "bytes/ByteSource.h"
#include "bytes/ByteWriter.h"

namespace ordana::bytes {
namespace {

const std::string kBytes("\x01\x02\x03\x04\x05\x06\x07\x08\x09\x0A", 10);

TEST(ByteReader, NumbersInBothByteOrders) {
  ByteReader r(kBytes);
  EXPECT_EQ(r.U8(), 0x01);
  EXPECT_EQ(r.U16LE(), 0x0302);
  EXPECT_EQ(r.U16BE(), 0x0405);
  EXPECT_EQ(r.U24BE(), 0x060708u);
  EXPECT_EQ(r.Position(), 8u);
  EXPECT_TRUE(r.Ok());
  EXPECT_EQ(ByteReader(kBytes).U32LE(), 0x04030201u);
  EXPECT_EQ(ByteReader(kBytes).U32BE(), 0x01020304u);
  EXPECT_EQ(ByteReader(kBytes).U64LE(), 0x0807060504030201ull);
  EXPECT_EQ(ByteReader(kBytes).U64BE(), 0x0102030405060708ull);
  EXPECT_EQ(ByteReader(kBytes).UintLE(3), 0x030201u);
  // Seven bits apiece, the top bits combined as they stand.
  EXPECT_EQ(ByteReader(std::string("\x00\x00\x02\x01", 4)).SyncSafe32(), 0x101u);
  EXPECT_EQ(ByteReader(std::string("\x80\x00\x00\x00", 4)).SyncSafe32(), 0x80u << 21);
}

TEST(ByteReader, AReadPastTheEndFailsForGood) {
  ByteReader r(kBytes);
  EXPECT_EQ(r.Chars(9), kBytes.substr(0, 9));
  EXPECT_EQ(r.U16LE(), 0);  // one byte left: nothing is read
  EXPECT_FALSE(r.Ok());
  EXPECT_EQ(r.Remaining(), 0u);
  // Sticky: even a read that would fit an empty reader fails now.
  EXPECT_EQ(r.U8(), 0);
  EXPECT_TRUE(r.Bytes(0).empty());
  EXPECT_FALSE(r.Seek(0));
  EXPECT_FALSE(r.Ok());

  ByteReader exact(kBytes);
  EXPECT_TRUE(exact.Skip(10));  // up to the end is fine
  EXPECT_TRUE(exact.Ok());
  EXPECT_FALSE(exact.Skip(1));
  ByteReader huge(kBytes);
  EXPECT_FALSE(huge.Skip(~uint64_t{0}));  // no wrap-around of the position
  EXPECT_FALSE(ByteReader(kBytes).Seek(11));

  char out[4] = {'x', 'x', 'x', 'x'};
  ByteReader shortCopy(kBytes.substr(0, 3));
  EXPECT_FALSE(shortCopy.CopyTo(out, 4));
  EXPECT_EQ(std::string(out, 4), std::string(4, '\0'));
}

TEST(ByteReader, PartsAndPeeks) {
  ByteReader r(kBytes);
  r.Skip(2);
  ByteReader part = r.Sub(4);
  EXPECT_EQ(r.Position(), 6u);
  EXPECT_EQ(part.Size(), 4u);
  EXPECT_EQ(part.U32BE(), 0x03040506u);
  EXPECT_FALSE(part.Has(1));
  EXPECT_TRUE(r.Ok());  // the part's end is not the reader's

  ByteReader tooLong = r.Sub(5);
  EXPECT_FALSE(tooLong.Ok());
  EXPECT_FALSE(r.Ok());

  const ByteReader whole(kBytes);
  EXPECT_EQ(whole.At(8).U16BE(), 0x090A);
  EXPECT_EQ(whole.Position(), 0u);
  EXPECT_FALSE(whole.At(11).Ok());
  EXPECT_TRUE(whole.At(10).Ok());

  ByteReader m("OggS\x00", 5);
  EXPECT_FALSE(m.Match("OggT"));
  EXPECT_TRUE(m.Ok());
  EXPECT_TRUE(m.Match("OggS"));
  EXPECT_EQ(m.Position(), 4u);
  EXPECT_FALSE(m.StartsWith(std::string_view("\x00\x00", 2)));  // one byte left
  EXPECT_TRUE(m.Ok());
}

TEST(ByteWriter, ValuesThatDoNotFitAreRefusedNotTruncated) {
  ByteWriter w;
  EXPECT_TRUE(w.PutU24BE(0xFFFFFF));
  EXPECT_TRUE(w.Ok());
  EXPECT_FALSE(w.PutU24BE(0x1000000));  // the 24-bit limit of a length field
  EXPECT_FALSE(w.Ok());
  // The field keeps its width (zeros), so later offsets stay right.
  EXPECT_EQ(w.Bytes(), std::string("\xFF\xFF\xFF\x00\x00\x00", 6));
  EXPECT_TRUE(w.PutU8(1));
  EXPECT_FALSE(w.Ok());  // failure is sticky

  ByteWriter negative;
  const int64_t minusOne = -1;
  EXPECT_FALSE(negative.PutU32LE(static_cast<uint64_t>(minusOne)));
  EXPECT_FALSE(ByteWriter().PutU16LE(0x10000));
  EXPECT_FALSE(ByteWriter().PutU8(256));

  ByteWriter s;
  EXPECT_TRUE(s.PutSyncSafe32(0x0FFFFFFF));
  EXPECT_FALSE(s.PutSyncSafe32(0x10000000));
  EXPECT_EQ(s.Bytes().substr(0, 4), "\x7F\x7F\x7F\x7F");
  EXPECT_EQ(ByteReader(s.Bytes()).SyncSafe32(), 0x0FFFFFFFu);
}

TEST(ByteWriter, LayoutsAndPatches) {
  ByteWriter w(std::string("ID"));
  w.PutU16LE(0x0102);
  w.PutU16BE(0x0304);
  w.PutU32LE(0x05060708);
  w.PutU32BE(0x090A0B0C);
  w.PutU64LE(0x1122334455667788ull);
  w.PutBytes("ab");
  w.PutZeros(2);
  EXPECT_EQ(w.Bytes(), std::string("ID\x02\x01\x03\x04\x08\x07\x06\x05\x09\x0A\x0B\x0C"
                                   "\x88\x77\x66\x55\x44\x33\x22\x11"
                                   "ab\x00\x00",
                                   26));
  EXPECT_TRUE(w.PatchU16LE(2, 0xBEEF));
  EXPECT_TRUE(w.PatchU64LE(14, 7));
  EXPECT_TRUE(w.PatchSyncSafe32(22, 0x81));
  EXPECT_EQ(ByteReader(w.Bytes()).At(2).U16LE(), 0xBEEF);
  EXPECT_EQ(ByteReader(w.Bytes()).At(14).U64LE(), 7u);
  EXPECT_EQ(w.Bytes().substr(22), std::string("\x00\x00\x01\x01", 4));
  EXPECT_TRUE(w.Ok());
  EXPECT_FALSE(w.PatchU32LE(23, 0));  // reaches past what was built
  EXPECT_FALSE(w.Ok());
  EXPECT_EQ(w.Size(), 26u);
}

// A file-like source that counts its reads and can fail them.
class CountingSource : public ByteSource {
 public:
  explicit CountingSource(std::string bytes) : bytes_(std::move(bytes)) {}
  int64_t Size() const override { return static_cast<int64_t>(bytes_.size()); }
  int64_t ReadAt(int64_t pos, void* buf, size_t n) const override {
    ++reads;
    if (fail) return -1;
    return MemorySource(bytes_).ReadAt(pos, buf, n);
  }
  mutable int reads = 0;
  bool fail = false;

 private:
  std::string bytes_;
};

std::string Counting(size_t n) {
  std::string s(n, '\0');
  for (size_t i = 0; i < n; ++i) s[i] = static_cast<char>(i * 7);
  return s;
}

TEST(SourceWindow, ServesRangesFromFewReads) {
  const std::string data = Counting(40000);
  CountingSource src(data);
  SourceWindow w(src, 16384);
  EXPECT_EQ(w.Get(0, 10).AllChars(), data.substr(0, 10));
  EXPECT_EQ(w.Get(100, 200).AllChars(), data.substr(100, 200));
  EXPECT_EQ(w.Get(16000, 384).AllChars(), data.substr(16000, 384));
  EXPECT_EQ(src.reads, 1);  // all inside the first read-ahead
  EXPECT_EQ(w.Get(16380, 10).AllChars(), data.substr(16380, 10));
  EXPECT_EQ(src.reads, 2);
  // A range larger than the read-ahead is read whole.
  EXPECT_EQ(w.Get(1, 30000).AllChars(), data.substr(1, 30000));
  // Nothing past the end: Get refuses, GetUpTo shortens.
  EXPECT_FALSE(w.Get(39990, 11).Ok());
  EXPECT_EQ(w.GetUpTo(39990, 11).AllChars(), data.substr(39990));
  EXPECT_TRUE(w.GetUpTo(50000, 4).Ok());
  EXPECT_EQ(w.GetUpTo(50000, 4).Size(), 0u);
  EXPECT_FALSE(w.Get(-1, 1).Ok());
  EXPECT_FALSE(w.Get(0, ~size_t{0}).Ok());
  EXPECT_FALSE(w.ReadError());

  CountingSource bounded(data);
  SourceWindow b(bounded, 16384);
  b.SetAheadEnd(50);
  EXPECT_EQ(b.Get(0, 10).Size(), 10u);
  EXPECT_EQ(b.Get(60, 10).AllChars(), data.substr(60, 10));  // past the first read
  EXPECT_EQ(bounded.reads, 2);
}

TEST(SourceWindow, MemoryNeedsNoCopiesAndFailuresAreReported) {
  const std::string data = Counting(100);
  MemorySource mem(data);
  SourceWindow w(mem);
  const ByteReader r = w.Get(10, 5);
  EXPECT_EQ(reinterpret_cast<const char*>(r.All().data()), data.data() + 10);
  char padded[8];
  EXPECT_EQ(w.CopyPadded(96, padded, 8), 4u);
  EXPECT_EQ(std::string(padded, 8), data.substr(96) + std::string(4, '\0'));

  CountingSource broken(data);
  broken.fail = true;
  SourceWindow f(broken);
  EXPECT_FALSE(f.Get(0, 4).Ok());
  EXPECT_TRUE(f.ReadError());
  EXPECT_EQ(f.CopyPadded(0, padded, 8), 0u);

  UnreadableSource none;
  SourceWindow n(none);
  EXPECT_EQ(n.Size(), -1);
  EXPECT_FALSE(n.GetUpTo(0, 1).Ok());
}

}  // namespace
}  // namespace ordana::bytes
