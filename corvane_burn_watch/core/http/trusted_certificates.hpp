#pragma once
// The certificates of a CA bundle, read once and kept while the file stays the
// same. OpenSSL takes about 20 ms to read the system bundle and a handshake
// about 1 ms, and libcurl would read the bundle again for every connection.
#include <memory>
#include <string>

struct ssl_ctx_st;

namespace corvane_burn_watch::http {

// The certificates and revocation lists of one bundle file. Never changed once
// read, so requests on any thread may share them.
class TrustedCertificates;

// The bundle at `path` as the file is now: the kept reading while the file
// shows the same device, inode, size, modification and change times as when it
// was read, a fresh reading otherwise. Null when the file cannot be read or
// holds nothing to trust: the caller then lets libcurl load it, which refuses
// the connection and says why, as it always did.
std::shared_ptr<const TrustedCertificates> trusted_certificates(const std::string& path);

// Makes the trust store of `context` trust them, as loading the file into it
// would, without copying them all in: the store looks up those it needs
// while it checks a chain. False when OpenSSL runs out of memory.
bool trust_in(const std::shared_ptr<const TrustedCertificates>& certificates, ssl_ctx_st* context);

}  // namespace corvane_burn_watch::http
