#include "corvane_burn_watch/core/http/trusted_certificates.hpp"

#include <openssl/err.h>
#include <openssl/ssl.h>
#include <openssl/x509.h>
#include <sys/stat.h>

#include <cstdint>
#include <mutex>
#include <optional>
#include <vector>

namespace corvane_burn_watch::http {

class TrustedCertificates {
 public:
  std::vector<std::unique_ptr<X509, decltype(&X509_free)>> certificates;
  std::vector<std::unique_ptr<X509_CRL, decltype(&X509_CRL_free)>> revocation_lists;
};

namespace {

// What tells one version of a file from another without reading it.
struct FileIdentity {
  dev_t device = 0;
  ino_t inode = 0;
  off_t size = 0;
  std::int64_t modified_ns = 0;
  std::int64_t changed_ns = 0;  // moves also when the modification time is set back

  bool operator==(const FileIdentity&) const = default;
};

std::int64_t nanoseconds(const timespec& time) {
  return std::int64_t{time.tv_sec} * 1'000'000'000 + time.tv_nsec;
}

std::optional<FileIdentity> identity_of(const std::string& path) {
  struct stat status {};
  if (stat(path.c_str(), &status) != 0) return std::nullopt;
  return FileIdentity{status.st_dev, status.st_ino, status.st_size, nanoseconds(status.st_mtim),
                      nanoseconds(status.st_ctim)};
}

// Reads the bundle with the loader libcurl itself uses (OpenSSL's, into a
// scratch store), so that exactly the same certificates are trusted.
std::shared_ptr<const TrustedCertificates> read_bundle(const std::string& path) {
  // A failed reading leaves its errors to no one: libcurl reads OpenSSL's
  // error queue when a later handshake fails.
  ERR_set_mark();
  std::unique_ptr<X509_STORE, decltype(&X509_STORE_free)> store(X509_STORE_new(), X509_STORE_free);
  if (!store || X509_STORE_load_file(store.get(), path.c_str()) != 1) {
    ERR_pop_to_mark();
    return nullptr;
  }
  ERR_pop_to_mark();
  auto read = std::make_shared<TrustedCertificates>();
  STACK_OF(X509_OBJECT)* objects = X509_STORE_get0_objects(store.get());
  for (int i = 0; i < sk_X509_OBJECT_num(objects); ++i) {
    X509_OBJECT* object = sk_X509_OBJECT_value(objects, i);
    if (X509* certificate = X509_OBJECT_get0_X509(object)) {
      X509_up_ref(certificate);
      read->certificates.emplace_back(certificate, X509_free);
    } else if (X509_CRL* list = X509_OBJECT_get0_X509_CRL(object)) {
      X509_CRL_up_ref(list);
      read->revocation_lists.emplace_back(list, X509_CRL_free);
    }
  }
  return read;
}

struct Kept {
  std::mutex mutex;
  std::string path;
  FileIdentity identity;
  std::shared_ptr<const TrustedCertificates> certificates;
};

// Never destroyed: a request may still run on a daemon thread while the
// process exits.
Kept& kept() {
  static Kept* const instance = new Kept;
  return *instance;
}

using Shared = std::shared_ptr<const TrustedCertificates>;

// OpenSSL asks a store's lookups for the certificates of a subject (or the
// revocation lists of an issuer) that the store does not hold yet while it
// builds and checks a chain. This one adds the kept ones that match, as
// OpenSSL's own directory lookup adds the files it finds, so that a
// connection takes from the bundle only the few it needs.
int find_by_subject(X509_LOOKUP* lookup, X509_LOOKUP_TYPE type, const X509_NAME* name,
                    X509_OBJECT* found) {
  const auto& trusted = **static_cast<Shared*>(X509_LOOKUP_get_method_data(lookup));
  X509_STORE* store = X509_LOOKUP_get_store(lookup);
  X509* first_certificate = nullptr;
  X509_CRL* first_list = nullptr;
  if (type == X509_LU_X509) {
    for (const auto& certificate : trusted.certificates) {
      if (X509_NAME_cmp(X509_get_subject_name(certificate.get()), name) != 0) continue;
      if (X509_STORE_add_cert(store, certificate.get()) != 1) return 0;
      if (!first_certificate) first_certificate = certificate.get();
    }
  } else if (type == X509_LU_CRL) {
    for (const auto& list : trusted.revocation_lists) {
      if (X509_NAME_cmp(X509_CRL_get_issuer(list.get()), name) != 0) continue;
      if (X509_STORE_add_crl(store, list.get()) != 1) return 0;
      if (!first_list) first_list = list.get();
    }
  }
  // The caller takes its own reference to what it is handed, so it gets none
  // from here: set1 takes one and the free gives it back (the kept reading
  // holds the object), the way OpenSSL's own lookups hand objects back.
  if (first_certificate) {
    if (X509_OBJECT_set1_X509(found, first_certificate) != 1) return 0;
    X509_free(first_certificate);
    return 1;
  }
  if (first_list) {
    if (X509_OBJECT_set1_X509_CRL(found, first_list) != 1) return 0;
    X509_CRL_free(first_list);
    return 1;
  }
  return 0;
}

void release(X509_LOOKUP* lookup) {
  delete static_cast<Shared*>(X509_LOOKUP_get_method_data(lookup));
}

X509_LOOKUP_METHOD* kept_bundle_lookup() {
  static X509_LOOKUP_METHOD* const method = [] {
    X509_LOOKUP_METHOD* made = X509_LOOKUP_meth_new("kept CA bundle");
    if (made) {
      X509_LOOKUP_meth_set_get_by_subject(made, find_by_subject);
      X509_LOOKUP_meth_set_free(made, release);
    }
    return made;
  }();
  return method;
}

}  // namespace

std::shared_ptr<const TrustedCertificates> trusted_certificates(const std::string& path) {
  // Taken before reading, so that any change after it shows at the next request.
  const auto identity = identity_of(path);
  if (!identity) return nullptr;
  Kept& cache = kept();
  // Held while reading: threads that need the same bundle wait for this one
  // reading instead of each doing their own.
  std::lock_guard lock(cache.mutex);
  if (cache.certificates && cache.path == path && cache.identity == *identity)
    return cache.certificates;
  auto read = read_bundle(path);
  cache.path = path;
  cache.identity = *identity;
  cache.certificates = read;
  return read;
}

bool trust_in(const std::shared_ptr<const TrustedCertificates>& trusted, ssl_ctx_st* context) {
  X509_LOOKUP_METHOD* method = kept_bundle_lookup();
  if (!method) return false;
  X509_LOOKUP* lookup = X509_STORE_add_lookup(SSL_CTX_get_cert_store(context), method);
  if (!lookup) return false;
  // Added before libcurl adds its certificate directory (when the first
  // answer arrives), so the bundle is asked first, as when it was loaded.
  // The store owns the lookup, and through it a share of the reading: the
  // bundle stays alive as long as any connection may still look into it.
  auto* share = new Shared(trusted);
  if (X509_LOOKUP_set_method_data(lookup, share) != 1) {
    delete share;
    return false;
  }
  return true;
}

}  // namespace corvane_burn_watch::http
