#pragma once
// Keeping a text on one line: a log line carries text a server sent (an error
// body, a subnet id, a chat's description), and a line feed or a terminal
// escape in it could start a line of its own that looks like ours.
#include <string>
#include <string_view>

namespace corvane_burn_watch::one_line {

// `text` with every control character written as an escape: "\n", "\r" and
// "\t", "\xNN" for the other C0 controls, DEL and the C1 controls (U+0080 to
// U+009F, NEL included), and "\u2028" / "\u2029" for the line and paragraph
// separators. Everything else, backslashes included, stays as it is.
std::string escape_controls(std::string_view text);

}  // namespace corvane_burn_watch::one_line
