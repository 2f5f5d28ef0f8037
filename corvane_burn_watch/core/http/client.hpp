#pragma once
// One HTTP(S) exchange over libcurl: a fresh connection per request, closed
// before returning, with a full TLS handshake over HTTPS. Tells a response
// (any status, with its body) from a network failure (NetworkError). The CA
// bundle is parsed once and kept while its file stays the same
// (trusted_certificates.hpp).
#include <string>
#include <utility>
#include <vector>

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
  // The CA bundle to trust for HTTPS; empty: libcurl's default.
  std::string ca_bundle;
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
// TLS, time-out) with libcurl's message, every secret in any of its wire forms
// replaced by "<redacted>" (see redact.hpp);
// throws Interrupted when the host's interrupt check asks to stop.
Response perform(const Request& request);

}  // namespace corvane_burn_watch::http
