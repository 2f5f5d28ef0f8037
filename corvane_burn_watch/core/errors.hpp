#pragma once
// Error types of the library. The Python binding maps each to the matching
// built-in exception; a plain C++ host catches them as std::exception.
#include <cstddef>
#include <exception>
#include <stdexcept>
#include <string>
#include <utility>

namespace corvane_burn_watch {

// Base of every error the library raises on purpose.
struct Error : std::runtime_error {
  using std::runtime_error::runtime_error;
};

// An argument of the wrong kind (Python: TypeError).
struct TypeError : Error {
  using Error::Error;
};

// A value of the right kind but unusable content (Python: ValueError).
struct ValueError : Error {
  using Error::Error;
};

// Bytes that are not valid UTF-8 (Python: UnicodeDecodeError).
// `data` holds the input up to and including the offending bytes, so that
// [start, end) locates them as a Python decoder would.
struct UnicodeDecodeError : ValueError {
  UnicodeDecodeError(std::string data, std::size_t start, std::size_t end, std::string reason)
      : ValueError("'utf-8' codec can't decode the bytes at position " + std::to_string(start) +
                   ": " + reason),
        data(std::move(data)),
        start(start),
        end(end),
        reason(std::move(reason)) {}
  std::string data;
  std::size_t start;
  std::size_t end;
  std::string reason;
};

// Text that cannot be made into bytes (Python: UnicodeEncodeError). Texts
// may hold lone surrogates, as a Python host's texts may (UTF-8 with each
// surrogate code point written as its own three bytes), but UTF-8 has no
// bytes for them, so they cannot go on the wire. `text` is the whole text;
// [start, end) are the code point positions of the surrogates that stopped it.
struct UnicodeEncodeError : ValueError {
  UnicodeEncodeError(std::string text, std::size_t start, std::size_t end)
      : ValueError("'utf-8' codec can't encode the character at position " + std::to_string(start) +
                   ": surrogates not allowed"),
        text(std::move(text)),
        start(start),
        end(end) {}
  std::string text;
  std::size_t start;
  std::size_t end;
};

// A value nested deeper than the library takes (Python: RecursionError); see
// json::kMaxDepth.
struct RecursionError : Error {
  using Error::Error;
};

// An operating-system failure with its errno (Python: OSError and subclasses).
struct OsError : Error {
  OsError(int errno_value, const std::string& message, std::string filename = {})
      : Error(message), errno_value(errno_value), filename(std::move(filename)) {}
  int errno_value;
  std::string filename;
};

// A network failure reported by the HTTP client.
struct NetworkError : Error {
  enum class Kind { connection, timeout, other };
  NetworkError(Kind kind, const std::string& message, bool nothing_sent = false)
      : Error(message), kind(kind), nothing_sent(nothing_sent) {}
  Kind kind;
  // The request cannot have reached the server (no name, no connection), as
  // opposed to a failure after it may have been sent.
  bool nothing_sent;
};

// An error raised by a callback the host installed (its sleep or clock).
// `original` lets the host get its own exception object back.
struct HostError : Error {
  HostError(const std::string& message, std::exception_ptr original)
      : Error(message), original(std::move(original)) {}
  std::exception_ptr original;
};

// The host asked the library to stop (Ctrl-C, SIGTERM, interpreter exit).
// Deliberately not a std::exception: `catch (const std::exception&)` must
// never swallow it, so only code that names it can stop it.
struct Interrupted {
  std::exception_ptr original;  // the host's own exception, if any
};

}  // namespace corvane_burn_watch
