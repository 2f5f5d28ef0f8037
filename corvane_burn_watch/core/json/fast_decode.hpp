#pragma once
// Decoding with simdjson, several times faster than the RapidJSON reader, for
// the texts it takes as they stand. Used by parse() before the reader and by
// Document; nothing else includes this header.
#include <memory>
#include <optional>
#include <string_view>

#include <simdjson.h>

#include "corvane_burn_watch/core/json/document.hpp"
#include "corvane_burn_watch/core/json/parse.hpp"

namespace corvane_burn_watch::json {

// What parse() gives for `text` (with `rows`, when not null), or nullopt for
// any text simdjson does not take as it stands: NaN and Infinity, whole
// numbers beyond 64 bits, numbers beyond the range of a double, lone
// surrogates, deep nesting, texts over a few megabytes (whose value-model
// copy is built faster by the reader), and every malformed text. The
// RapidJSON reader then decides, so each refusal and its message are the
// reader's. With rows->whole_rows, texts of any size are taken, and the row
// list is kept there as decoded.
// `padded`: kReadAhead bytes after the text may be read, so it is decoded
// where it lies.
std::optional<Value> fast_decode(std::string_view text, bool padded, const RowProjection* rows);

// A decoded document and the value kept of it. The parser holds the decoded
// form; it goes back to its thread for the next text when it is small.
struct Document::Decoded {
  std::unique_ptr<simdjson::dom::parser> parser;
  simdjson::dom::element element;
  ~Decoded();
};

}  // namespace corvane_burn_watch::json
