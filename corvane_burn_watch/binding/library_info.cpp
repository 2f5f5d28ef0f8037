#include "corvane_burn_watch/binding/library_info.hpp"

#include <nanobind/stl/string.h>

#include <string>
#include <vector>

#include "corvane_burn_watch/core/http/client.hpp"

namespace corvane_burn_watch::binding {

namespace nb = nanobind;

namespace {

nb::list list_of(const std::vector<std::string>& items) {
  nb::list list;
  for (const auto& item : items) list.append(nb::str(item.data(), item.size()));
  return list;
}

}  // namespace

nb::dict curl_features() {
  const http::LibraryFeatures features = http::library_features();
  nb::dict result;
  result["curl"] = features.curl_version;
  result["ssl_version"] = features.ssl_version;
  result["protocols"] = list_of(features.protocols);
  result["features"] = list_of(features.features);
  return result;
}

nb::object ca_certificates(const Settings& settings) {
  const auto chosen = http::chosen_ca_certificates(settings.ca_bundle.value_or(""),
                                                   settings.ca_fallback.value_or(""));
  if (!chosen) return nb::none();
  return nb::make_tuple(chosen->path, chosen->origin);
}

}  // namespace corvane_burn_watch::binding
