#pragma once
// Checks a long-running watch makes on the rows it fetched, so that one odd
// row or a full page never blinds it without a word.
#include <cstddef>
#include <string>
#include <vector>

#include "corvane_burn_watch/data_client/data_client.hpp"

namespace corvane_burn_watch::driver {

struct RowSplit {
  SubnetRows kept;                    // rows whose "netuid" reads as a whole number
  std::vector<std::string> left_out;  // the ids of the others, in row order
};

// Splits off the rows that would break a pass: a "netuid" that is missing
// (shown as "(missing)") or whose text form is not a whole number ("abc",
// "None", "1.5", "7.0").
RowSplit split_watchable_rows(SubnetRows rows);

// The warning line for rows left out: their count and the first ten ids.
std::string left_out_rows_line(const std::vector<std::string>& ids);

// Writes a warning line when `rows` fills the whole page of the subnet list.
void warn_if_page_full(std::size_t rows);

}  // namespace corvane_burn_watch::driver
