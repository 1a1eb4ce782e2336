#pragma once
// A sound that arrives through a pipe, a FIFO or a device, held whole in
// memory so that the library can seek in it: it reads WAV from a pipe as
// it comes, but FLAC and Ogg only from something it can seek in.

#include "app/MemoryFile.h"

#include <sndfile.h>

#include <string>

namespace tessavo {

// Whether filename ("-": standard input) is a stream rather than a file
// the library can seek in.
bool isStream(const std::string& filename);

// Reads the stream whole into spool and opens it from there, filling info.
// Returns null when the library cannot open it (sf_strerror(nullptr) says
// why). Throws RunError when the stream cannot be read, is a terminal, or
// brings more bytes than memory holds; bytes that begin no sound the
// library knows end the reading early, so that an endless stream of them
// (/dev/zero) fails at once.
SNDFILE* openSpooled(const std::string& filename, MemoryFile& spool, SF_INFO& info);

}  // namespace tessavo
