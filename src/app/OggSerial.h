#pragma once
// The sound library gives every Ogg stream it writes a serial number drawn
// from the clock, so the same run gave different bytes each time. This
// replaces it, in every page of a finished Ogg file, by a number that only
// the file's name decides, and puts each page's checksum right again.

#include <string>

namespace tessavo {

// Rewrites the Ogg file open at fd (for reading and writing). Returns false,
// leaving the pages from the first it cannot parse as they are, when the
// file is not a plain sequence of Ogg pages.
bool fixOggSerial(int fd, const std::string& name);

}  // namespace tessavo
