#pragma once
// The messages that carry a text to the chat. Telegram refuses a message of
// more than 4,096 characters. Chunks (chunk_text) never cut a line, so a
// chunk of one very long line, or a long text without body lines, can be
// longer than that; such a chunk has its over-long lines cut here, at
// delivery, and every other chunk is sent exactly as it is.
#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

namespace corvane_burn_watch::telegram {

// The longest text, in characters, that Telegram takes in one message.
inline constexpr long long LONGEST_MESSAGE = 4096;

// A chunk as the message number `number` of `total`: "(2/5)\n" before it, or
// the chunk alone when there is only one.
std::string numbered_message(std::string_view chunk, std::size_t number, std::size_t total);

// The pieces each chunk goes out as: the chunk itself when, numbered among all
// pieces, it is at most `longest` characters long; otherwise pieces that are
// short enough for any numbering. A chunk that opens with its header and an
// empty line keeps that opening in every piece, its body lines cut at code
// point boundaries where they do not fit and filled in greedily; any other
// chunk (or one whose header leaves no room) is cut at its last line feed that
// lets a piece fit (that line feed goes in no piece), else at the limit. No
// character is lost. `longest` must leave room for the numbering (over 44).
std::vector<std::vector<std::string>> fit_chunks(const std::vector<std::string>& chunks,
                                                 long long longest = LONGEST_MESSAGE);

// The messages for `chunks`: every piece of fit_chunks, in order, numbered
// when there is more than one.
std::vector<std::string> numbered_messages(const std::vector<std::string>& chunks,
                                           long long longest = LONGEST_MESSAGE);

// The messages send_burn_telegram_messages sends for `text`: its chunks at the
// default limit, as numbered_messages gives them.
std::vector<std::string> text_messages(std::string_view text);

}  // namespace corvane_burn_watch::telegram
