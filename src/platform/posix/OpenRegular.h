#pragma once
// The one rule by which the POSIX backend opens a file for reading. Only a
// regular file is ever opened: the path is looked at first (stat, following
// links), so a folder, FIFO, socket or device named like a file is refused
// without an open (opening some devices has side effects, a FIFO would wait
// for a writer). The open itself cannot block or make the file a
// controlling terminal (O_NONBLOCK | O_NOCTTY), and the descriptor is kept
// only when it is a regular file and the very file looked at (same device
// and inode), so a path swapped in between is refused too. Every read of a
// file in the system goes through it: InputFile::Open and the read-ahead
// hints alike.
#include <sys/stat.h>

#include <string>

namespace ordana::posix {

// Returns an open descriptor (close-on-exec; O_NONBLOCK stays set, which
// reads of a regular file ignore) of the regular file at the native path,
// with its status in *st when given; -1 otherwise, with the cause in *err
// (errno; EISDIR for a folder, ENXIO for anything else that is not a regular
// file). A regular file that replaced the one looked at while it was opened
// (an atomic save) is the one returned.
int OpenRegularFileForReading(const std::string& nativePath, int* err, struct stat* st = nullptr);

}  // namespace ordana::posix
