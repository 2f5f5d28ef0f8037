// Fuzzes load_burn_state with arbitrary file content.
//
// The bytes go into a real file. Loading never crashes and raises only
// UnicodeDecodeError (exactly when the bytes are not UTF-8) or ValueError
// (exactly when the content is JSON whose top level is not an object).
// Otherwise the result is a map of texts: the "owner_burn_rate" members in
// file order, or empty. Saving that map and loading it again gives it back,
// in a pure-ASCII file that ends with one line feed (members sorted by name).
#include <stdlib.h>
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <map>
#include <optional>
#include <string>
#include <string_view>

#include "corvane_burn_watch/burns/burns.hpp"
#include "corvane_burn_watch/core/errors.hpp"
#include "corvane_burn_watch/core/json/parse.hpp"
#include "fuzz/fuzz_check.hpp"
#include "fuzz/reference_utf8.hpp"

namespace cbw = corvane_burn_watch;
namespace json = corvane_burn_watch::json;

namespace {

// A private directory for the two files, removed at exit.
struct Scratch {
  std::string directory;
  std::string input;
  std::string saved;
  Scratch() {
    const char* base = access("/dev/shm", W_OK) == 0 ? "/dev/shm" : "/tmp";
    std::string templ = std::string(base) + "/burn_state_fuzz.XXXXXX";
    if (!mkdtemp(templ.data())) std::abort();
    directory = templ;
    input = directory + "/input.json";
    saved = directory + "/saved.json";
  }
  ~Scratch() {
    unlink(input.c_str());
    unlink(saved.c_str());
    rmdir(directory.c_str());
  }
};

void write_file(const std::string& path, std::string_view bytes) {
  std::FILE* file = std::fopen(path.c_str(), "wb");
  if (!file || std::fwrite(bytes.data(), 1, bytes.size(), file) != bytes.size()) std::abort();
  std::fclose(file);
}

std::string read_file(const std::string& path) {
  std::string out;
  std::FILE* file = std::fopen(path.c_str(), "rb");
  if (!file) std::abort();
  char buffer[4096];
  for (std::size_t got; (got = std::fread(buffer, 1, sizeof buffer, file)) > 0;)
    out.append(buffer, got);
  std::fclose(file);
  return out;
}

// What the file decodes to, when it is JSON at all.
std::optional<json::Value> decoded(std::string_view bytes) {
  try {
    return json::parse(std::string(bytes));
  } catch (const json::SyntaxError&) {
    return std::nullopt;
  }
}

std::map<std::string, json::Value> by_name(const cbw::BurnMap& burns) {
  std::map<std::string, json::Value> out;
  for (const auto& [key, value] : burns) out.emplace(key, value);
  return out;
}

void check_round_trip(const Scratch& scratch, const cbw::BurnMap& loaded) {
  cbw::save_burn_state(scratch.saved, loaded, "2026-12-06T23:20:46Z");
  const std::string file = read_file(scratch.saved);
  for (unsigned char c : file) FUZZ_CHECK(c < 0x80, fuzz::printable(file));
  FUZZ_CHECK(file.size() >= 2 && file.substr(file.size() - 2) == "}\n", fuzz::printable(file));
  // The file keeps its members sorted by name, so the maps are compared the
  // way a host's dict equality does: by content, not order.
  FUZZ_CHECK(by_name(cbw::load_burn_state(scratch.saved)) == by_name(loaded),
             fuzz::printable(file));
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  static const Scratch scratch;
  const std::string_view bytes(reinterpret_cast<const char*>(data), size);
  write_file(scratch.input, bytes);
  const bool utf8 = fuzz::reference_utf8_valid(bytes);

  cbw::BurnMap loaded;
  try {
    loaded = cbw::load_burn_state(scratch.input);
  } catch (const cbw::UnicodeDecodeError& e) {
    FUZZ_CHECK(!utf8, e.what());
    return 0;
  } catch (const cbw::ValueError& e) {
    FUZZ_CHECK(utf8, e.what());
    const auto document = decoded(bytes);
    FUZZ_CHECK(document && !document->is_object(), e.what());
    return 0;
  }
  FUZZ_CHECK(utf8, fuzz::printable(bytes));

  const auto document = decoded(bytes);
  const json::Value* stored = nullptr;
  if (document) {
    FUZZ_CHECK(document->is_object(), fuzz::printable(bytes));
    stored = document->as_object()->find("owner_burn_rate");
  }
  if (!stored || !stored->is_object()) {
    FUZZ_CHECK(loaded.empty(), fuzz::printable(bytes));
    return 0;
  }
  const json::Object& members = *stored->as_object();
  FUZZ_CHECK(loaded.size() == members.size(), fuzz::printable(bytes));
  auto member = members.begin();
  for (const auto& [key, value] : loaded) {
    FUZZ_CHECK(key == member->key, key);
    FUZZ_CHECK(value.is_text(), key);
    if (member->value.is_text()) FUZZ_CHECK(value == member->value, key);
    ++member;
  }
  check_round_trip(scratch, loaded);
  return 0;
}
