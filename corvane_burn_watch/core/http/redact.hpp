#pragma once
// Hiding secrets (the bot token) in texts that came back from the wire.
//
// A secret can come back in any form it took on the way out: as itself,
// percent-encoded (any of its bytes as %XX, in either case of hex digit), or
// form-encoded (a space as "+"). A server that quotes the request path, or
// decodes and re-encodes it, sends it back in one of these forms.
#include <string>
#include <vector>

namespace corvane_burn_watch::http {

// Replaces every occurrence of each secret in `text`, in any of its wire
// forms, by "<redacted>".
std::string redact(std::string text, const std::vector<std::string>& secrets);

// Overwrites every occurrence of each secret in `bytes`, in any of its wire
// forms, with as many '*': the length and every other byte's position stay.
void mask(std::string& bytes, const std::vector<std::string>& secrets);

}  // namespace corvane_burn_watch::http
