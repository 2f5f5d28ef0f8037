#include "corvane_burn_watch/driver/row_checks.hpp"

#include <algorithm>
#include <optional>
#include <utility>

#include "corvane_burn_watch/burns/burns.hpp"
#include "corvane_burn_watch/core/host/seams.hpp"
#include "corvane_burn_watch/core/text/python_numbers.hpp"
#include "corvane_burn_watch/core/text/python_text.hpp"

namespace corvane_burn_watch::driver {
namespace {

constexpr std::size_t kIdsShown = 10;

}  // namespace

RowSplit split_watchable_rows(SubnetRows rows) {
  RowSplit split;
  split.kept.reserve(rows.size());
  for (SubnetRow& row : rows) {
    // The same id text the burn map keys and the change list sorts by.
    std::string id = row.netuid ? python_text::plain_text(*row.netuid) : "(missing)";
    if (row.netuid && numbers::read_integer(id))
      split.kept.push_back(std::move(row));
    else
      split.left_out.push_back(std::move(id));
  }
  return split;
}

std::string ids_text(const std::vector<std::string>& ids) {
  std::string text;
  for (std::size_t i = 0; i < ids.size() && i < kIdsShown; ++i) {
    if (i > 0) text += ", ";
    text += ids[i];
  }
  if (ids.size() > kIdsShown) text += ", ...";
  return text;
}

std::string left_out_rows_line(const std::vector<std::string>& ids) {
  return "left out " + std::to_string(ids.size()) +
         " row(s) whose netuid is not a whole number: " + ids_text(ids);
}

SubnetRows drop_duplicate_rows(SubnetRows rows) {
  // Sorted by id value, positions kept: n log n, however many rows repeat.
  struct Keyed {
    json::Integer id;
    std::size_t position;
  };
  std::vector<Keyed> keyed;
  keyed.reserve(rows.size());
  for (std::size_t i = 0; i < rows.size(); ++i)
    if (rows[i].netuid)
      if (std::optional<json::Integer> id =
              numbers::read_integer(python_text::plain_text(*rows[i].netuid)))
        keyed.push_back({std::move(*id), i});
  std::stable_sort(keyed.begin(), keyed.end(), [](const Keyed& a, const Keyed& b) {
    return numbers::compare_integers(a.id, b.id) < 0;
  });
  std::vector<bool> drop(rows.size(), false);
  std::vector<std::string> repeated;
  for (std::size_t first = 0; first < keyed.size();) {
    std::size_t end = first + 1;
    while (end < keyed.size() && keyed[end].id == keyed[first].id) ++end;
    if (end - first > 1) {
      repeated.push_back(keyed[first].id.digits);
      const std::string burn = owner_burn_from_row(rows[keyed[first].position]);
      bool agree = true;
      for (std::size_t i = first + 1; i < end; ++i)
        agree = agree && owner_burn_from_row(rows[keyed[i].position]) == burn;
      for (std::size_t i = agree ? first + 1 : first; i < end; ++i) drop[keyed[i].position] = true;
    }
    first = end;
  }
  if (repeated.empty()) return rows;
  host::log(host::LogLevel::warning,
            std::to_string(repeated.size()) +
                " subnet(s) came in more than one row (kept once where the rows agree, left out "
                "of this pass where they differ): " +
                ids_text(repeated));
  SubnetRows kept;
  kept.reserve(rows.size());
  for (std::size_t i = 0; i < rows.size(); ++i)
    if (!drop[i]) kept.push_back(std::move(rows[i]));
  return kept;
}

void warn_if_page_full(std::size_t rows) {
  const auto page = static_cast<std::size_t>(SUBNET_PAGE_LIMIT);
  if (rows < page) return;
  if (rows > page) {
    // A service that ignores the page size: say what came, not that the page
    // was full.
    host::log(host::LogLevel::warning, "the subnet list came with " + std::to_string(rows) +
                                           " rows for a page of " + std::to_string(page) +
                                           ": the service ignored the page size; all " +
                                           std::to_string(rows) + " are watched");
    return;
  }
  host::log(host::LogLevel::warning,
            "the subnet list filled its whole page of " + std::to_string(SUBNET_PAGE_LIMIT) +
                " rows: subnets beyond it may be missing and are not watched");
}

}  // namespace corvane_burn_watch::driver
