// The alert and snapshot texts: plain text lines joined by single line feeds,
// with no line feed after the last line.
#include <algorithm>
#include <numeric>
#include <string>
#include <string_view>
#include <vector>

#include "corvane_burn_watch/burns/burns.hpp"
#include "corvane_burn_watch/core/text/python_numbers.hpp"
#include "corvane_burn_watch/core/text/python_text.hpp"
#include "corvane_burn_watch/telegram/alert_parts.hpp"
#include "corvane_burn_watch/telegram/subnet_order.hpp"
#include "corvane_burn_watch/telegram/telegram.hpp"

namespace corvane_burn_watch {
namespace {

// " → ": a space, U+2192 RIGHTWARDS ARROW and a space.
constexpr std::string_view kArrow = " \xE2\x86\x92 ";

std::string alert_header(std::string_view updated_at) {
  std::string text = "Owner burn rate changed\n";
  text.append(updated_at);
  text += " UTC\n";  // the empty third line follows this line feed
  return text;
}

void append_change_line(std::string& text, std::string_view subnet_id, std::string_view old_burn,
                        std::string_view new_burn) {
  text += "\nSN";
  text.append(subnet_id);
  text += ": ";
  text += format_owner_burn(old_burn);
  text.append(kArrow);
  text += format_owner_burn(new_burn);
}

}  // namespace

std::string format_burn_alert(const ChangeList& changes, std::string_view updated_at) {
  std::string text = alert_header(updated_at);
  for (const ChangeTriple& change : changes)
    append_change_line(text, change.subnet_id, change.old_burn, change.new_burn);
  return text;
}

std::string telegram::alert_change_line(const ChangeTriple& change) {
  std::string line;
  append_change_line(line, change.subnet_id, change.old_burn, change.new_burn);
  return line.substr(1);  // without the line feed that joins it to the text
}

std::string format_burn_snapshot(std::span<const SubnetRow> rows, std::string_view updated_at) {
  // Every key is computed first, so an unusable id fails before any line is built.
  std::vector<json::Integer> keys;
  keys.reserve(rows.size());
  for (const SubnetRow& row : rows)
    keys.push_back(row.netuid ? telegram::subnet_sort_key(*row.netuid) : json::Integer{"0"});
  std::vector<std::size_t> order(rows.size());
  std::iota(order.begin(), order.end(), std::size_t{0});
  std::stable_sort(order.begin(), order.end(), [&](std::size_t a, std::size_t b) {
    return numbers::compare_integers(keys[a], keys[b]) < 0;
  });

  std::string text = "Subnet owner burn rates (startup)\n";
  text.append(updated_at);
  text += " UTC\n";
  text += std::to_string(rows.size());
  text += " subnets\n";  // the empty fourth line follows this line feed
  for (std::size_t index : order) {
    const SubnetRow& row = rows[index];
    text += "\nSN";
    text += row.netuid ? python_text::plain_text(*row.netuid) : std::string("None");
    text += ": ";
    text += format_owner_burn(owner_burn_from_row(row));
  }
  return text;
}

}  // namespace corvane_burn_watch
