#pragma once
// A decoded value that a host builds into values of its own, event by event,
// without the value model's copy in between: for a large answer, building
// and freeing that copy costs more than decoding it.
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string_view>

#include "corvane_burn_watch/core/json/value.hpp"

namespace corvane_burn_watch::json {

// Receives a value event by event, in document order: a list or an object
// begins, its items follow (an object's each as key() and then its value),
// and it ends. An object may give a key twice: the later value counts, at the
// first position, as in the value model.
class Sink {
 public:
  virtual void null() = 0;
  virtual void boolean(bool value) = 0;
  virtual void integer(std::int64_t value) = 0;
  // A whole number beyond 64 bits, as canonical digits.
  virtual void big_integer(std::string_view digits) = 0;
  virtual void number(double value) = 0;
  virtual void text(std::string_view value) = 0;
  virtual void begin_list(std::size_t size) = 0;
  virtual void end_list() = 0;
  virtual void begin_object(std::size_t size) = 0;
  virtual void key(std::string_view name) = 0;
  virtual void end_object() = 0;

 protected:
  ~Sink() = default;
};

class Document {
 public:
  Document();  // null
  explicit Document(Value value);
  Document(Document&&) noexcept;
  Document& operator=(Document&&) noexcept;
  ~Document();

  // Hands the value to `sink`. Throws what the sink throws.
  void emit(Sink& sink) const;
  // The value in the value model.
  Value value() const;

  // The decoder's own form of a value (see fast_decode.hpp).
  struct Decoded;
  explicit Document(std::unique_ptr<Decoded> decoded);

 private:
  std::unique_ptr<Decoded> decoded_;
  Value value_;  // when not decoded_
};

}  // namespace corvane_burn_watch::json
