// Small text helpers shared by every subsystem. Text is UTF-8 throughout;
// anything that cuts a string to a byte limit must not split a sequence.
#pragma once

#include <cstddef>
#include <cstdint>
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
// The same for the start of `text`.
bool StartsWithNoCase(std::string_view text, std::string_view prefix);

// The leading decimal number of `text` as the C library's string-to-integer
// conversion reads it (blanks, then an optional sign, then digits), clamped
// to the 32-bit range instead of overflowing. 0 when there is none; `found`
// says whether there were digits.
std::int32_t LeadingInteger(std::string_view text, bool* found = nullptr);

// `text` with every byte that does not belong to a well-formed UTF-8 sequence
// replaced by U+FFFD. Metadata from the network or an old file may be in
// another encoding; file names, tags and playlists must stay UTF-8.
std::string MakeValidUtf8(std::string_view text);

// Text as UTF-8 where it may predate UTF-8 (old CDDB servers and cache
// files): a byte that starts no valid sequence is read as Windows code page
// 1252 (Latin-1 with typographic marks); a byte that code page leaves
// undefined becomes U+FFFD. Valid UTF-8 comes back unchanged.
std::string Utf8FromLegacy(std::string_view text);

// Replaces every control character of UTF-8 text (C0, DEL, and C1 as
// U+0080..U+009F) with one blank: text from outside that goes into names,
// tags and terminals.
void BlankControls(std::string& text);

} // namespace qm
