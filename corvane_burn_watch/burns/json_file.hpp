#pragma once
// Reading a JSON document that this system wrote to a file, telling apart
// every way in which the file can fail to hold one.
#include <string>

#include "corvane_burn_watch/core/json/value.hpp"

namespace corvane_burn_watch::burns {

struct JsonFile {
  enum class Status {
    missing,     // no regular file at the path (symbolic links followed)
    unreadable,  // a regular file that could not be opened or read
    not_utf8,    // read, but its bytes are not UTF-8
    not_json,    // UTF-8 that is not one JSON document
    parsed,      // `document` holds what it says
  };
  Status status = Status::missing;
  std::string content;  // the bytes read (unreadable, missing: empty)
  // The file's permission bits (0 when it was not opened): a copy of it
  // must not be readable by more people than the file itself.
  unsigned mode = 0;
  json::Value document;
  // Why the file holds no document, in a few words (empty when parsed or
  // missing): "cannot be read (Permission denied)", "is empty", ...
  std::string problem;
};

// Never throws for what the file holds; a path with a NUL byte names no file.
JsonFile read_json_file(const std::string& path);

}  // namespace corvane_burn_watch::burns
