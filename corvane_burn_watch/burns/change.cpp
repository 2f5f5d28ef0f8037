// A change triple as a host hands one over.
#include <string>
#include <utility>

#include "corvane_burn_watch/burns/burns.hpp"
#include "corvane_burn_watch/core/errors.hpp"
#include "corvane_burn_watch/core/text/python_text.hpp"

namespace corvane_burn_watch {
namespace {

std::string burn_text(Value& burn) {
  if (std::string* text = burn.as_text()) return std::move(*text);
  throw TypeError(std::string("a burn value must be str, not ") + burn.kind_name());
}

}  // namespace

ChangeTriple change_from_value(Value change) {
  Array* items = change.as_list();
  if (!items)
    throw TypeError(std::string("a change must be a sequence of 3 items, not ") +
                    change.kind_name());
  if (items->size() != 3)
    throw ValueError("a change must hold exactly 3 items (subnet id, old burn, new burn), got " +
                     std::to_string(items->size()));
  return {python_text::plain_text((*items)[0]), burn_text((*items)[1]), burn_text((*items)[2])};
}

}  // namespace corvane_burn_watch
