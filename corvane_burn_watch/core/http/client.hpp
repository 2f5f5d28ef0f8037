#pragma once
// One HTTP(S) exchange over libcurl: a fresh connection per request, closed
// before returning, with a full TLS handshake over HTTPS. Tells a response
// (any status, with its body) from a network failure (NetworkError). The CA
// bundle is parsed once and kept while its file stays the same
// (trusted_certificates.hpp).
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "corvane_burn_watch/core/http/ca_certificates.hpp"

namespace corvane_burn_watch::http {

struct Request {
  std::string method = "GET";  // "GET" or "POST"
  std::string url;
  // Sent in this order. An empty value is sent as an empty header.
  std::vector<std::pair<std::string, std::string>> headers;
  std::string body;  // POST only
  // Bounds connection set-up and every wait for data, not the whole exchange.
  long timeout_seconds = 60;
  // Bounds the whole exchange, connecting included; 0 sets no such bound.
  double deadline_seconds = 0;
  // The CA bundle to trust for HTTPS; empty: the first found at run time
  // (ca_certificates.hpp), with `ca_fallback` (such as certifi's bundle) tried
  // after the system's.
  std::string ca_bundle;
  std::string ca_fallback;
  // Texts that must never appear in an error message (a token inside the URL).
  std::vector<std::string> secrets;
};

struct Response {
  long status = 0;
  std::string reason;  // reason phrase of the status line, may be empty
  std::string body;    // raw bytes
  bool is_success() const { return status >= 200 && status <= 299; }
};

// Initialises libcurl once for the process; safe to call many times.
void global_init();

// Performs the request. Throws NetworkError (name resolution, connection,
// TLS, time-out, no CA certificates found for HTTPS) with libcurl's message, every secret in any of
// its wire forms replaced by "<redacted>" (see redact.hpp); throws Interrupted when the host's
// interrupt check asks to stop.
Response perform(const Request& request);

// The CA certificates a request with this bundle and fallback trusts, as
// perform() chooses them; nothing when none is found.
std::optional<CaCertificates> chosen_ca_certificates(const std::string& ca_bundle,
                                                     const std::string& ca_fallback);

// What the libcurl in use was built with.
struct LibraryFeatures {
  std::string curl_version;
  std::string ssl_version;
  std::vector<std::string> protocols;  // "http", "https", ...
  std::vector<std::string> features;   // "SSL", "IPv6", "libz", "IDN", ...
};
LibraryFeatures library_features();

}  // namespace corvane_burn_watch::http
