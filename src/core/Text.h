// Small text helpers shared by every subsystem. Text is UTF-8 throughout;
// anything that cuts a string to a byte limit must not split a sequence.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

namespace qm {

// The longest prefix of `text` that fits in `maxBytes` bytes and does not end
// inside a UTF-8 sequence.
std::string_view Utf8Prefix(std::string_view text, std::size_t maxBytes);

// Copies `text` into a fixed buffer of `capacity` bytes (NUL included), cut on
// a UTF-8 boundary. A null `text` gives "". Does nothing for capacity 0.
void CopyTruncated(char* dest, std::size_t capacity, const char* text);

// printf into a std::string.
std::string Format(const char* fmt, ...) __attribute__((format(printf, 1, 2)));

// Case-insensitive comparison of ASCII letters (other bytes compare exactly).
bool EqualsNoCase(std::string_view a, std::string_view b);

// Replaces every control character of UTF-8 text (C0, DEL, and C1 as
// U+0080..U+009F) with one blank: text from outside that goes into names,
// tags and terminals.
void BlankControls(std::string& text);

} // namespace qm
