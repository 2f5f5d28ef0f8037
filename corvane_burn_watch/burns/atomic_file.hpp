#pragma once
// Replacing a file so that a crash or a full disk never leaves it half written.
#include <string>
#include <string_view>

namespace corvane_burn_watch::burns {

// Makes `path` hold exactly `bytes`: writes a temporary file beside it, syncs
// it and renames it over the old one. A symbolic link at `path` is followed,
// so the link itself stays. The new file keeps the old one's permission bits
// (a new file gets 0666 less the umask), and a file the caller may not write
// is refused as an in-place write would be, and so is anything that is not a
// regular file (a FIFO, a device, a socket, a directory). Throws OsError
// naming `path`; the old file is then untouched and no temporary file is left
// behind.
void replace_file_atomically(const std::string& path, std::string_view bytes);

}  // namespace corvane_burn_watch::burns
