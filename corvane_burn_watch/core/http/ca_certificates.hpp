#pragma once
// Where HTTPS requests find the CA certificates to trust when the caller names
// no bundle. A module built into a wheel cannot trust the path its build
// machine had, so the places are looked up on the machine it runs on, on
// every request (as the environment is read).
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace corvane_burn_watch::http {

struct CaCertificates {
  std::string path;
  bool is_folder = false;  // a folder of hashed certificates (SSL_CERT_DIR) rather than a bundle
  std::string origin;      // "SSL_CERT_FILE", "SSL_CERT_DIR", "system", "fallback", "libcurl"

  bool operator==(const CaCertificates&) const = default;
};

// The bundle files of the common distributions, in the order they are tried:
// Debian/Ubuntu (and Arch's link), Fedora/RHEL, openSUSE, Alpine, Arch.
const std::vector<std::string>& system_ca_bundles();

// The first of: SSL_CERT_FILE (a file name, used as given), SSL_CERT_DIR (a
// folder), the first of `system` that is a readable regular file, `fallback`
// (a bundle the host found, such as certifi's) when it is one, `built_in`
// (libcurl's own default, when it has one) when it exists. Nothing when none
// is there.
std::optional<CaCertificates> find_ca_certificates(
    std::string_view fallback, std::string_view built_in = {},
    const std::vector<std::string>& system = system_ca_bundles());

// What a failed search tells the user.
std::string no_ca_certificates_message();

}  // namespace corvane_burn_watch::http
