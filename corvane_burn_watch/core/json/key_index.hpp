#pragma once
// Finding members by key in large objects: open addressing over positions,
// one allocation for the whole table. Objects keep their members in order in
// a vector, so a lookup by key is a scan; a burn map of 100,000 subnets needs
// an index to be deduplicated or compared in linear time.
#include <cstddef>
#include <cstdint>
#include <functional>
#include <string_view>
#include <vector>

namespace corvane_burn_watch::json {

class KeyIndex {
 public:
  static constexpr std::size_t npos = static_cast<std::size_t>(-1);

  // An index for up to `count` keys. The keys it is given are views: they
  // must outlive it.
  explicit KeyIndex(std::size_t count) {
    std::size_t size = 16;
    while (size < 2 * count) size *= 2;
    slots_.assign(size, Slot{});
  }

  // Adds `key` at `position` unless it is there already; returns the position
  // it had, or npos when it is new.
  std::size_t insert(std::string_view key, std::size_t position) {
    for (std::size_t i = first_slot(key);; i = (i + 1) & (slots_.size() - 1)) {
      Slot& slot = slots_[i];
      if (slot.position == kEmpty) {
        slot = {key, static_cast<std::uint32_t>(position)};
        return npos;
      }
      if (slot.key == key) return slot.position;
    }
  }

  // The position of `key`, or npos.
  std::size_t find(std::string_view key) const {
    for (std::size_t i = first_slot(key);; i = (i + 1) & (slots_.size() - 1)) {
      const Slot& slot = slots_[i];
      if (slot.position == kEmpty) return npos;
      if (slot.key == key) return slot.position;
    }
  }

 private:
  static constexpr std::uint32_t kEmpty = UINT32_MAX;
  struct Slot {
    std::string_view key;
    std::uint32_t position = kEmpty;
  };

  std::size_t first_slot(std::string_view key) const {
    return std::hash<std::string_view>{}(key) & (slots_.size() - 1);
  }

  std::vector<Slot> slots_;
};

}  // namespace corvane_burn_watch::json
