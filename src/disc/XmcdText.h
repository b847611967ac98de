// The xmcd entry format as servers and caches write it: a key may repeat,
// and its lines are joined with nothing between them (servers split every
// line longer than 256 bytes so); values escape a line break as "\n", a tab
// as "\t" and a backslash as "\\"; "artist / title" splits at its first
// " / " (a bare '/' belongs to the name, as in "AC/DC"). Keys match in any
// case.
#pragma once

#include <string>
#include <string_view>

namespace qm {

// The longest line the format allows, line end not counted.
constexpr std::size_t kXmcdLineBytes = 256;

// The joined value of every line of `text` whose key is `key`, escapes
// decoded; `found` tells whether there was such a line. A line ends at CR or
// LF; its key is the text before its first '='.
std::string XmcdValue(std::string_view text, std::string_view key, bool* found = nullptr);

// The value with its escapes decoded; an unknown escape or a lone backslash
// at the end is kept as it stands.
std::string XmcdUnescape(std::string_view value);
// The value as the format writes it: backslash, line break and tab escaped.
std::string XmcdEscape(std::string_view value);

// "key=value" lines for `value` (escaped here), continued on further lines of
// the same key so that none is longer than kXmcdLineBytes; each ends with
// `eol`. Cuts fall between whole characters and whole escapes.
std::string XmcdLines(std::string_view key, std::string_view value, std::string_view eol);

// Splits "artist / title" at the first " / ", both parts with the blanks at
// their ends removed. False, leaving the outputs alone, without " / ".
bool XmcdSplit(std::string_view text, std::string* artist, std::string* title);

} // namespace qm
