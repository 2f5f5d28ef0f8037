#include "corvane_burn_watch/driver/row_checks.hpp"

#include <utility>

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

std::string left_out_rows_line(const std::vector<std::string>& ids) {
  std::string line =
      "left out " + std::to_string(ids.size()) + " row(s) whose netuid is not a whole number: ";
  for (std::size_t i = 0; i < ids.size() && i < kIdsShown; ++i) {
    if (i > 0) line += ", ";
    line += ids[i];
  }
  if (ids.size() > kIdsShown) line += ", ...";
  return line;
}

void warn_if_page_full(std::size_t rows) {
  if (rows < static_cast<std::size_t>(SUBNET_PAGE_LIMIT)) return;
  host::log(host::LogLevel::warning,
            "the subnet list filled its whole page of " + std::to_string(SUBNET_PAGE_LIMIT) +
                " rows: subnets beyond it may be missing and are not watched");
}

}  // namespace corvane_burn_watch::driver
