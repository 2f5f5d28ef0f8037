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

// The first ten of `ids`, joined by ", ", with ", ..." when there are more.
std::string ids_text(const std::vector<std::string>& ids);

// Rows that share a subnet id (by its whole-number value, so "7" and "07"
// are one subnet) are kept once: rows that all give the same burn keep the
// first of them; rows whose burns differ are all left out, so that the
// subnet sits the pass out instead of taking whichever row came last. Writes
// one warning line naming the repeated ids. Rows whose id is no whole number
// are left as they are.
SubnetRows drop_duplicate_rows(SubnetRows rows);

// Writes a warning line when `rows` fills the whole page of the subnet list,
// or says how many came when there are more than the page asked for.
void warn_if_page_full(std::size_t rows);

}  // namespace corvane_burn_watch::driver
