#pragma once
// What the module was built with and what it trusts, for `burn-watch check`
// and for the tests of the binary wheel.
#include <nanobind/nanobind.h>

#include "corvane_burn_watch/core/settings.hpp"

namespace corvane_burn_watch::binding {

// {"curl": version, "ssl_version": ..., "protocols": [...], "features": [...]}
nanobind::dict curl_features();

// (path, origin) of the CA certificates an HTTPS request with these settings
// trusts, origin one of "settings", "SSL_CERT_FILE", "SSL_CERT_DIR", "system",
// "fallback", "libcurl"; None when there are none.
nanobind::object ca_certificates(const Settings& settings);

}  // namespace corvane_burn_watch::binding
