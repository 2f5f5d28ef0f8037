#pragma once
// Trimming white space the way a Python host's str.strip() does.
#include <string_view>

namespace corvane_burn_watch::python_text {

// `text` without white space at either end: ASCII white space plus the Unicode
// white space a Python host strips (NBSP, U+2000..U+200A, U+3000 and the
// like). Text that is not valid UTF-8 loses only ASCII white space.
std::string_view strip_white_space(std::string_view text);

}  // namespace corvane_burn_watch::python_text
