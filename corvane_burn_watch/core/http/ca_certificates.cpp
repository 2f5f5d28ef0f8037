#include "corvane_burn_watch/core/http/ca_certificates.hpp"

#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>

namespace corvane_burn_watch::http {
namespace {

std::string variable(const char* name) {
  const char* value = std::getenv(name);
  return value ? std::string(value) : std::string();
}

bool is_readable_file(const std::string& path) {
  struct stat status {};
  return !path.empty() && stat(path.c_str(), &status) == 0 && S_ISREG(status.st_mode) &&
         access(path.c_str(), R_OK) == 0;
}

bool exists(const std::string& path) {
  struct stat status {};
  return !path.empty() && stat(path.c_str(), &status) == 0;
}

}  // namespace

const std::vector<std::string>& system_ca_bundles() {
  static const std::vector<std::string> bundles = {
      "/etc/ssl/certs/ca-certificates.crt",                 // Debian, Ubuntu, Gentoo, Arch
      "/etc/pki/tls/certs/ca-bundle.crt",                   // Fedora, RHEL, CentOS
      "/etc/pki/ca-trust/extracted/pem/tls-ca-bundle.pem",  // Fedora, RHEL 7 and later
      "/etc/ssl/ca-bundle.pem",                             // openSUSE, SLES
      "/var/lib/ca-certificates/ca-bundle.pem",             // openSUSE
      "/etc/ssl/cert.pem",                                  // Alpine
      "/etc/ca-certificates/extracted/tls-ca-bundle.pem",   // Arch
  };
  return bundles;
}

std::optional<CaCertificates> find_ca_certificates(std::string_view fallback,
                                                   std::string_view built_in,
                                                   const std::vector<std::string>& system) {
  // Set means chosen, even when it names nothing: the handshake then says why.
  if (auto file = variable("SSL_CERT_FILE"); !file.empty())
    return CaCertificates{std::move(file), false, "SSL_CERT_FILE"};
  if (auto folder = variable("SSL_CERT_DIR"); !folder.empty())
    return CaCertificates{std::move(folder), true, "SSL_CERT_DIR"};
  for (const auto& bundle : system)
    if (is_readable_file(bundle)) return CaCertificates{bundle, false, "system"};
  if (std::string path(fallback); is_readable_file(path))
    return CaCertificates{std::move(path), false, "fallback"};
  if (std::string path(built_in); exists(path)) {
    struct stat status {};
    stat(path.c_str(), &status);
    return CaCertificates{std::move(path), S_ISDIR(status.st_mode), "libcurl"};
  }
  return std::nullopt;
}

std::string no_ca_certificates_message() {
  return "no CA certificates found to check HTTPS servers with: set SSL_CERT_FILE to a CA bundle "
         "file (or SSL_CERT_DIR to a folder of certificates), or install the system's CA "
         "certificates (the ca-certificates package) or Python's certifi";
}

}  // namespace corvane_burn_watch::http
