// The burn state file: the burn map of the last cycle and when it was written.
#include <optional>

#include "corvane_burn_watch/burns/atomic_file.hpp"
#include "corvane_burn_watch/burns/burns.hpp"
#include "corvane_burn_watch/burns/json_file.hpp"
#include "corvane_burn_watch/burns/state_file.hpp"
#include "corvane_burn_watch/core/errors.hpp"
#include "corvane_burn_watch/core/json/write.hpp"
#include "corvane_burn_watch/core/text/python_text.hpp"
#include "corvane_burn_watch/core/text/utf8.hpp"

namespace corvane_burn_watch {
namespace {

constexpr std::string_view kBurnsKey = "owner_burn_rate";
constexpr std::string_view kUpdatedKey = "updated_at_utc";
constexpr std::string_view kAbsentKey = "absent_since_utc";

// The burn map held in a state document's top-level object, with every value
// made text; nullopt when the map is missing or not an object.
std::optional<BurnMap> stored_burns(Object& top) {
  Value* stored = top.find(kBurnsKey);
  Object* stored_burns = stored ? stored->as_object() : nullptr;
  if (!stored_burns) return std::nullopt;
  // The parser already keeps each name once, with its last value. The decoded
  // object becomes the map itself: values that are not text are turned into
  // text where they stand, and nothing is copied.
  for (json::Member& member : *stored_burns)
    if (!member.value.is_text()) member.value = python_text::plain_text(member.value);
  return std::move(*stored_burns);
}

}  // namespace

BurnMap load_burn_state(const std::string& path) {
  burns::JsonFile file = burns::read_json_file(path);
  switch (file.status) {
    case burns::JsonFile::Status::missing:
    case burns::JsonFile::Status::unreadable:
    case burns::JsonFile::Status::not_json:
      return {};
    case burns::JsonFile::Status::not_utf8:
      // Bytes that are not UTF-8 are a fault worth reporting, not a missing baseline.
      utf8::require_valid(file.content);
      return {};
    case burns::JsonFile::Status::parsed:
      break;
  }
  Object* top = file.document.as_object();
  if (!top)
    throw ValueError("burn state file '" + path + "' holds a top-level " +
                     file.document.kind_name() + ", not an object");
  return stored_burns(*top).value_or(BurnMap{});
}

burns::StoredState burns::read_burn_state(const std::string& path) {
  JsonFile file = read_json_file(path);
  StoredState state;
  if (file.status == JsonFile::Status::missing) return state;
  if (file.status != JsonFile::Status::parsed) {
    state.unusable = std::move(file.problem);
    state.unreadable = file.status == JsonFile::Status::unreadable;
    state.content = std::move(file.content);
    state.mode = file.mode;
    return state;
  }
  Object* top = file.document.as_object();
  if (!top) {
    state.unusable = std::string("holds a JSON ") + file.document.kind_name() + ", not an object";
  } else if (std::optional<BurnMap> stored = stored_burns(*top)) {
    state.burns = std::move(*stored);
    // Only text timestamps count; anything else is as if the subnet had just
    // gone missing.
    if (const Value* absent = top->find(kAbsentKey); absent && absent->as_object())
      for (const json::Member& member : *absent->as_object())
        if (member.value.is_text()) state.absent_since.append(member.key, member.value);
    return state;
  } else {
    state.unusable = "has no \"" + std::string(kBurnsKey) + "\" map";
  }
  state.content = std::move(file.content);
  state.mode = file.mode;
  return state;
}

void burns::save_burn_state(const std::string& path, const BurnMap& burns,
                            const std::string& updated_at, const json::Object& absent_since) {
  if (absent_since.empty()) return corvane_burn_watch::save_burn_state(path, burns, updated_at);
  if (path.find('\0') != std::string::npos) throw ValueError("embedded null byte in path");
  const Value time(updated_at);
  std::string text = json::write_indented_sorted({{kAbsentKey, nullptr, &absent_since},
                                                  {kBurnsKey, nullptr, &burns},
                                                  {kUpdatedKey, &time, nullptr}});
  text += '\n';
  burns::replace_file_atomically(path, text);
}

void save_burn_state(const std::string& path, const BurnMap& burns, const std::string& updated_at) {
  if (path.find('\0') != std::string::npos) throw ValueError("embedded null byte in path");
  // The map is written where it is, not copied into a document first.
  const Value time(updated_at);
  std::string text =
      json::write_indented_sorted({{kBurnsKey, nullptr, &burns}, {kUpdatedKey, &time, nullptr}});
  text += '\n';
  burns::replace_file_atomically(path, text);
}

}  // namespace corvane_burn_watch
