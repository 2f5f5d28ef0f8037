// Recognising the data service's rate-limit refusals and retrying them.
#include <algorithm>
#include <string>

#include "corvane_burn_watch/core/errors.hpp"
#include "corvane_burn_watch/core/host/seams.hpp"
#include "corvane_burn_watch/core/text/python_text.hpp"
#include "corvane_burn_watch/data_client/data_client.hpp"
#include "corvane_burn_watch/data_client/fetch.hpp"

namespace corvane_burn_watch {

namespace {

constexpr double FIRST_PAUSE_SECONDS = 2.0;
constexpr double PAUSE_GROWTH = 1.8;
constexpr double LONGEST_PAUSE_SECONDS = 120.0;

// 429 as a whole number or as 429.0; the text "429" is not the number.
bool is_429(const Value* value) {
  if (value == nullptr) return false;
  if (const json::Integer* integer = value->as_integer()) return integer->digits == "429";
  if (const double* number = value->as_double()) return *number == 429.0;
  return false;
}

bool mentions_rate_limit(const Value* message) {
  if (message == nullptr || message->is_null()) return false;
  const std::string* text = message->as_text();
  const std::string rendered = text != nullptr ? std::string() : python_text::text_form(*message);
  std::string_view haystack = text != nullptr ? std::string_view(*text) : rendered;
  return haystack.find("Rate Limited") != std::string_view::npos;
}

}  // namespace

bool is_rate_limited(const Object& payload) {
  return is_429(payload.find("status_code")) || mentions_rate_limit(payload.find("message"));
}

Value with_retries(std::string_view path, const Object& params, std::string_view auth,
                   long long max_retries) {
  return data_client::get_json_with_retries(path, params, auth, max_retries, {}, {}, nullptr)
      .payload;
}

data_client::Answer data_client::get_json_with_retries(std::string_view path, const Object& params,
                                                       std::string_view auth, long long max_retries,
                                                       const SettingsSource& settings,
                                                       const RequestLimits& limits,
                                                       const json::RowProjection* rows) {
  if (max_retries < 1)
    throw ValueError("max_retries must be at least 1, got " + std::to_string(max_retries));
  double pause = FIRST_PAUSE_SECONDS;
  for (long long attempt = 0;; ++attempt) {
    Answer answer = data_client::get_json(path, params, auth, settings, limits, rows);
    const Object* object = answer.payload.as_object();
    // A JSON null answer is not a mapping and cannot be judged.
    if (object == nullptr)
      throw TypeError(std::string("rate-limit check needs a mapping payload, got ") +
                      answer.payload.kind_name());
    if (!is_rate_limited(*object) || attempt == max_retries - 1) return answer;
    host::sleep_for(pause);
    pause = std::min(pause * PAUSE_GROWTH, LONGEST_PAUSE_SECONDS);
  }
}

}  // namespace corvane_burn_watch
