#pragma once
// Settings that travel in a request (a header value, the bot token in the URL,
// the chat id) may hold no control character: a CR or LF in a header ends it
// and starts another, so a setting could add headers of its own.
#include <string_view>

namespace corvane_burn_watch::http {

// Whether `value` holds a C0 control character (U+0000 to U+001F) or DEL.
bool has_control_character(std::string_view value);

// Throws ValueError when `value` holds one. The message names `setting` and
// never shows the value, which may be a secret.
void require_no_control_characters(std::string_view value, std::string_view setting);

}  // namespace corvane_burn_watch::http
