#pragma once
// Hiding secrets (the bot token) in texts that came back from the wire.
//
// A secret can come back in any form it took on the way out: as itself,
// percent-encoded once or twice (any of its bytes as %XX or %25XX, in either
// case of hex digit), form-encoded (a space as "+") or JSON-escaped (an ASCII
// byte as \u00XX). A server that quotes the request path, or decodes and
// re-encodes it, sends it back in one of these forms.
#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

namespace corvane_burn_watch::http {

// The texts to hide for a bot token, longest first: the token; what of it a
// URL carries as its path (up to a "#" or "?", which end the path); and its
// secret half after the ":" (whole, and up to a "#" or "?"). A piece shorter
// than kShortestSecretPiece is left out: it would hide ordinary words.
std::vector<std::string> token_secrets(std::string_view token);
inline constexpr std::size_t kShortestSecretPiece = 4;

// Replaces every occurrence of each secret in `text`, in any of its wire
// forms, by "<redacted>".
std::string redact(std::string text, const std::vector<std::string>& secrets);

// Overwrites every occurrence of each secret in `bytes`, in any of its wire
// forms, with as many '*': the length and every other byte's position stay.
void mask(std::string& bytes, const std::vector<std::string>& secrets);

}  // namespace corvane_burn_watch::http
