#pragma once
// Replacing a file so that a crash or a full disk never leaves it half written.
#include <sys/types.h>

#include <optional>
#include <string>
#include <string_view>

namespace corvane_burn_watch::burns {

// How a file of the system's own (not the host's state file) is replaced.
struct ReplaceOptions {
  // false: a symbolic link at the path is refused (OsError ELOOP), never
  // followed, so that a planted link cannot redirect the write.
  bool follow_links = true;
  // The new file's permission bits; nullopt: as described below.
  std::optional<mode_t> mode;
};

// Makes `path` hold exactly `bytes`: writes a temporary file beside it, syncs
// it and renames it over the old one. A symbolic link at `path` is followed,
// so the link itself stays. The new file keeps the old one's permission bits
// (a new file gets 0666 less the umask), and a file the caller may not write
// is refused as an in-place write would be, and so is anything that is not a
// regular file (a FIFO, a device, a socket, a directory). Throws OsError
// naming `path`; the old file is then untouched and no temporary file is left
// behind.
void replace_file_atomically(const std::string& path, std::string_view bytes,
                             const ReplaceOptions& options = {});

}  // namespace corvane_burn_watch::burns
