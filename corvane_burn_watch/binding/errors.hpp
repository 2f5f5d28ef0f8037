#pragma once
// The library's exceptions as Python's own: OSError with its errno,
// ConnectionError and TimeoutError for the network, the Unicode errors with
// their positions, and the host's own exception back when a seam raised it.
#include <exception>

namespace corvane_burn_watch::binding {

// An exception translator for nanobind::register_exception_translator.
void translate_error(const std::exception_ptr& error, void*);

}  // namespace corvane_burn_watch::binding
