#pragma once
// Bytes for the stated-length parsers: they read through the byte toolkit
// (a source of bytes, a file or memory in tests and fuzzers; a window that
// serves ranges of it from one buffer; a bounded reader over a range whose
// reads past the end read nothing, give zero and fail for good), under the
// short names the parsers use.
#include "bytes/ByteReader.h"
#include "bytes/ByteSource.h"

namespace ordana::length {

using Source = bytes::ByteSource;
using MemorySource = bytes::MemorySource;
using Reader = bytes::ByteReader;
using Window = bytes::SourceWindow;

}  // namespace ordana::length
