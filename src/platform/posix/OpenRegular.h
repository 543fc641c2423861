#pragma once
// The one rule by which the POSIX backend opens a file for reading: without
// blocking and without making it a controlling terminal, then kept only when
// the descriptor is a regular file (a FIFO opened that way would deliver a
// stream or wait for a writer, a device a stream, a folder nothing). Every
// read of a file in the system goes through it: InputFile::Open and the
// read-ahead hints alike.
#include <sys/stat.h>

#include <string>

namespace ordana::posix {

// Returns an open descriptor (blocking mode restored, close-on-exec) of the
// regular file at the native path, with its status in *st when given; -1
// otherwise, with the cause in *err (errno; EISDIR for a folder, ENXIO for
// anything else that is not a regular file).
int OpenRegularFileForReading(const std::string& nativePath, int* err, struct stat* st = nullptr);

}  // namespace ordana::posix
