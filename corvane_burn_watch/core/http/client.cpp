#include "corvane_burn_watch/core/http/client.hpp"

#include <curl/curl.h>
#include <fcntl.h>
#include <openssl/opensslv.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cmath>
#include <exception>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "corvane_burn_watch/core/errors.hpp"
#include "corvane_burn_watch/core/host/seams.hpp"
#include "corvane_burn_watch/core/http/control_characters.hpp"
#include "corvane_burn_watch/core/http/redact.hpp"
#include "corvane_burn_watch/core/http/trusted_certificates.hpp"
#include "corvane_burn_watch/core/json/parse.hpp"

namespace corvane_burn_watch::http {
namespace {

struct EasyCleanup {
  void operator()(CURL* handle) const { curl_easy_cleanup(handle); }
};
using EasyHandle = std::unique_ptr<CURL, EasyCleanup>;

struct ListCleanup {
  void operator()(curl_slist* list) const { curl_slist_free_all(list); }
};
using HeaderList = std::unique_ptr<curl_slist, ListCleanup>;

// Four times libcurl's default, and still below the C library's threshold for
// mapping fresh memory on every request.
constexpr long kReceiveBufferBytes = 64 * 1024;

// What the callbacks collect during one exchange.
struct Exchange {
  CURL* handle = nullptr;
  Response response;
  std::exception_ptr stopped;  // what the interrupt check threw, if anything
};

// A declared length up to this is reserved at once; a larger one (which a
// server may claim falsely) is left to grow as the data comes.
constexpr curl_off_t kLargestReservation = 64 << 20;

size_t on_body(char* data, size_t size, size_t count, void* user) {
  Exchange& exchange = *static_cast<Exchange*>(user);
  std::string& body = exchange.response.body;
  if (body.empty()) {
    // One allocation of the whole body: growing it piece by piece would copy
    // it again and again, and touch fresh memory each time.
    curl_off_t length = -1;
    if (curl_easy_getinfo(exchange.handle, CURLINFO_CONTENT_LENGTH_DOWNLOAD_T, &length) ==
            CURLE_OK &&
        length > 0 && length <= kLargestReservation)
      // With room after it, a decoder reads the body where it lies.
      body.reserve(static_cast<std::size_t>(length) + json::kReadAhead);
  }
  body.append(data, size * count);
  return size * count;
}

// Keeps the status line's reason phrase ("HTTP/1.1 503 Service Unavailable");
// the last status line wins, after an interim 100 Continue.
size_t on_header(char* data, size_t size, size_t count, void* user) {
  std::string_view line(data, size * count);
  if (line.substr(0, 5) == "HTTP/") {
    while (!line.empty() && (line.back() == '\r' || line.back() == '\n')) line.remove_suffix(1);
    // Version, space, three-digit status, then an optional space and reason.
    const auto space = line.find(' ');
    std::string_view reason;
    if (space != std::string_view::npos && line.size() > space + 4) reason = line.substr(space + 5);
    static_cast<Exchange*>(user)->response.reason.assign(reason);
  }
  return size * count;
}

// libcurl calls this often during a transfer and about once a second while
// waiting, which lets the host stop a long wait (Ctrl-C) promptly.
int on_progress(void* user, curl_off_t, curl_off_t, curl_off_t, curl_off_t) {
  try {
    host::check_interrupt();
    return 0;
  } catch (...) {
    static_cast<Exchange*>(user)->stopped = std::current_exception();
    return 1;
  }
}

NetworkError::Kind kind_of(CURLcode code) {
  switch (code) {
    case CURLE_COULDNT_RESOLVE_HOST:
    case CURLE_COULDNT_RESOLVE_PROXY:
    case CURLE_COULDNT_CONNECT:
    case CURLE_SEND_ERROR:
    case CURLE_RECV_ERROR:
    case CURLE_GOT_NOTHING:
    case CURLE_PARTIAL_FILE:
      return NetworkError::Kind::connection;
    case CURLE_OPERATION_TIMEDOUT:
      return NetworkError::Kind::timeout;
    default:
      return NetworkError::Kind::other;
  }
}

void append_line(HeaderList& list, const std::string& line) {
  curl_slist* extended = curl_slist_append(list.get(), line.c_str());
  if (!extended) throw std::bad_alloc();
  list.release();  // `extended` is the same list (or a new one if it was empty)
  list.reset(extended);
}

void append_header(HeaderList& list, const std::string& name, const std::string& value) {
  require_no_control_characters(value, "the value of header " + name);
  // "Name:" with nothing after it would remove the header; "Name;" sends it empty.
  append_line(list, value.empty() ? name + ";" : name + ": " + value);
}

// The kept certificates can go straight into libcurl's OpenSSL context only
// when libcurl runs on the OpenSSL this library is built with.
bool curl_shares_our_openssl() {
  static const bool same = [] {
    const char* version = curl_version_info(CURLVERSION_NOW)->ssl_version;
    const std::string expected = "OpenSSL/" + std::to_string(OPENSSL_VERSION_MAJOR) + ".";
    return version && std::string_view(version).substr(0, expected.size()) == expected;
  }();
  return same;
}

bool is_https(std::string_view url) {
  constexpr std::string_view kScheme = "https://";
  return url.size() >= kScheme.size() &&
         std::equal(kScheme.begin(), kScheme.end(), url.begin(), [](char a, char b) {
           return a == std::tolower(static_cast<unsigned char>(b));
         });
}

// Called by libcurl with the fresh OpenSSL context of the connection, before
// the handshake: trusts the kept certificates of the bundle.
CURLcode on_ssl_context(CURL*, void* context, void* certificates) {
  return trust_in(*static_cast<const std::shared_ptr<const TrustedCertificates>*>(certificates),
                  static_cast<ssl_ctx_st*>(context))
             ? CURLE_OK
             : CURLE_OUT_OF_MEMORY;
}

// A CA bundle must be a regular file: reading a FIFO (or a device) would wait
// past every deadline. Opened without waiting, and checked on what was opened.
// A file that cannot be opened is left to libcurl's own error.
void require_regular_bundle(const std::string& path) {
  const int fd = ::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
  if (fd < 0) return;
  struct stat info {};
  const bool regular = ::fstat(fd, &info) == 0 && S_ISREG(info.st_mode);
  ::close(fd);
  if (!regular)
    throw NetworkError(NetworkError::Kind::other,
                       "the CA file " + path + " (SSL_CERT_FILE) is not a regular file",
                       /*nothing_sent=*/true);
}

// libcurl's whole-exchange bound in milliseconds; 0 would mean no bound at
// all, so a deadline under a millisecond becomes one millisecond.
long deadline_milliseconds(double seconds) {
  return static_cast<long>(std::clamp(std::ceil(seconds * 1000), 1.0, 1e9));
}

std::string info_text(CURL* h, CURLINFO info) {
  char* text = nullptr;
  return curl_easy_getinfo(h, info, &text) == CURLE_OK && text ? std::string(text) : std::string();
}

std::optional<CaCertificates> choose(CURL* h, const std::string& ca_bundle,
                                     const std::string& ca_fallback) {
  if (!ca_bundle.empty()) return CaCertificates{ca_bundle, false, "settings"};
  std::string built_in = info_text(h, CURLINFO_CAINFO);
  if (built_in.empty()) built_in = info_text(h, CURLINFO_CAPATH);
  return find_ca_certificates(ca_fallback, built_in);
}

// Chooses what the request trusts: the request's bundle, else the first found
// on this machine (ca_certificates.hpp). Over HTTPS a bundle's certificates
// come from the kept reading (see trusted_certificates.hpp), which `kept`
// holds until the request ends, instead of libcurl parsing the file once
// more; everything else about the check stays libcurl's, and so do its errors
// when the file cannot be read.
void set_trust(CURL* h, const Request& request, std::shared_ptr<const TrustedCertificates>& kept) {
  const bool https = is_https(request.url);
  const auto chosen = choose(h, request.ca_bundle, request.ca_fallback);
  if (!chosen) {
    // Without any, libcurl would fail every handshake with a bare "error
    // setting certificate file".
    if (https) throw NetworkError(NetworkError::Kind::other, no_ca_certificates_message(), true);
    return;
  }
  // The environment's file (or the settings') is the only one not found as
  // a regular file already.
  if (chosen->origin == "settings" || chosen->origin == "SSL_CERT_FILE")
    require_regular_bundle(chosen->path);
  if (chosen->is_folder) {
    curl_easy_setopt(h, CURLOPT_CAPATH, chosen->path.c_str());
    curl_easy_setopt(h, CURLOPT_CAINFO, nullptr);
    return;
  }
  if (https && curl_shares_our_openssl()) {
    kept = trusted_certificates(chosen->path);
    if (kept && curl_easy_setopt(h, CURLOPT_SSL_CTX_FUNCTION, on_ssl_context) == CURLE_OK) {
      curl_easy_setopt(h, CURLOPT_SSL_CTX_DATA, &kept);
      curl_easy_setopt(h, CURLOPT_CAINFO, nullptr);  // read already: libcurl must not read it again
      return;
    }
  }
  curl_easy_setopt(h, CURLOPT_CAINFO, chosen->path.c_str());
}

std::vector<std::string> split_list(const char* const* items) {
  std::vector<std::string> list;
  for (; items && *items; ++items) list.emplace_back(*items);
  return list;
}

}  // namespace

void global_init() {
  static std::once_flag once;
  std::call_once(once, [] { curl_global_init(CURL_GLOBAL_DEFAULT); });
}

Response perform(const Request& request) {
  global_init();
  EasyHandle easy(curl_easy_init());
  if (!easy) throw NetworkError(NetworkError::Kind::other, "cannot create an HTTP handle");
  CURL* h = easy.get();

  Exchange exchange;
  exchange.handle = h;
  char error_text[CURL_ERROR_SIZE] = {};
  HeaderList headers;
  for (const auto& [name, value] : request.headers) append_header(headers, name, value);

  curl_easy_setopt(h, CURLOPT_URL, request.url.c_str());
  curl_easy_setopt(h, CURLOPT_PROTOCOLS_STR, "http,https");
  // The host is a threaded process: libcurl must never use signals there.
  curl_easy_setopt(h, CURLOPT_NOSIGNAL, 1L);
  // HTTP/1.1 keeps the reason phrase of the status line.
  curl_easy_setopt(h, CURLOPT_HTTP_VERSION, static_cast<long>(CURL_HTTP_VERSION_1_1));
  // The time-out bounds connecting and every wait for data, not the whole exchange.
  curl_easy_setopt(h, CURLOPT_CONNECTTIMEOUT, request.timeout_seconds);
  curl_easy_setopt(h, CURLOPT_LOW_SPEED_LIMIT, 1L);
  curl_easy_setopt(h, CURLOPT_LOW_SPEED_TIME, request.timeout_seconds);
  if (request.deadline_seconds > 0)
    curl_easy_setopt(h, CURLOPT_TIMEOUT_MS, deadline_milliseconds(request.deadline_seconds));
  std::shared_ptr<const TrustedCertificates> trusted;
  set_trust(h, request, trusted);
  if (request.method == "POST") {
    // "Expect:" with no value stops libcurl's 100-continue round trip.
    append_line(headers, "Expect:");
    curl_easy_setopt(h, CURLOPT_POST, 1L);
    curl_easy_setopt(h, CURLOPT_POSTFIELDS, request.body.data());
    curl_easy_setopt(h, CURLOPT_POSTFIELDSIZE_LARGE, static_cast<curl_off_t>(request.body.size()));
  }
  curl_easy_setopt(h, CURLOPT_HTTPHEADER, headers.get());
  // A page of subnets is half a megabyte: fewer, larger reads, each of which
  // costs a poll and a receive call.
  curl_easy_setopt(h, CURLOPT_BUFFERSIZE, kReceiveBufferBytes);
  curl_easy_setopt(h, CURLOPT_WRITEFUNCTION, on_body);
  curl_easy_setopt(h, CURLOPT_WRITEDATA, &exchange);
  curl_easy_setopt(h, CURLOPT_HEADERFUNCTION, on_header);
  curl_easy_setopt(h, CURLOPT_HEADERDATA, &exchange);
  curl_easy_setopt(h, CURLOPT_NOPROGRESS, 0L);
  curl_easy_setopt(h, CURLOPT_XFERINFOFUNCTION, on_progress);
  curl_easy_setopt(h, CURLOPT_XFERINFODATA, &exchange);
  curl_easy_setopt(h, CURLOPT_ERRORBUFFER, error_text);

  host::check_interrupt();
  const CURLcode code = curl_easy_perform(h);
  if (exchange.stopped) std::rethrow_exception(exchange.stopped);
  if (code != CURLE_OK) {
    std::string message = error_text[0] ? error_text : curl_easy_strerror(code);
    const bool nothing_sent = code == CURLE_COULDNT_RESOLVE_HOST ||
                              code == CURLE_COULDNT_RESOLVE_PROXY || code == CURLE_COULDNT_CONNECT;
    throw NetworkError(kind_of(code), redact(std::move(message), request.secrets), nothing_sent);
  }
  curl_easy_getinfo(h, CURLINFO_RESPONSE_CODE, &exchange.response.status);
  return std::move(exchange.response);
}

std::optional<CaCertificates> chosen_ca_certificates(const std::string& ca_bundle,
                                                     const std::string& ca_fallback) {
  global_init();
  EasyHandle easy(curl_easy_init());
  if (!easy) throw std::bad_alloc();
  return choose(easy.get(), ca_bundle, ca_fallback);
}

LibraryFeatures library_features() {
  global_init();
  const curl_version_info_data* info = curl_version_info(CURLVERSION_NOW);
  LibraryFeatures result;
  result.curl_version = info->version ? info->version : "";
  result.ssl_version = info->ssl_version ? info->ssl_version : "";
  result.protocols = split_list(info->protocols);
  if (info->age >= CURLVERSION_ELEVENTH) {
    result.features = split_list(info->feature_names);
  }
  return result;
}

}  // namespace corvane_burn_watch::http
