#include "core/Text.h"

#include <glib.h>

#include <algorithm>
#include <cstdarg>
#include <cstdio>
#include <cstring>

namespace qm {

std::string_view Utf8Prefix(std::string_view text, std::size_t maxBytes) {
    if (text.size() <= maxBytes) {
        return text;
    }
    std::size_t cut = maxBytes;
    // Step back over continuation bytes to the start of the sequence that
    // would be split, and drop that sequence whole.
    while (cut > 0 && (static_cast<unsigned char>(text[cut]) & 0xC0) == 0x80) {
        --cut;
    }
    return text.substr(0, cut);
}

void CopyTruncated(char* dest, std::size_t capacity, const char* text) {
    if (dest == nullptr || capacity == 0) {
        return;
    }
    std::string_view part = Utf8Prefix(text != nullptr ? text : "", capacity - 1);
    std::memcpy(dest, part.data(), part.size());
    dest[part.size()] = '\0';
}

std::string Format(const char* fmt, ...) {
    va_list args;
    va_start(args, fmt);
    va_list copy;
    va_copy(copy, args);
    const int needed = std::vsnprintf(nullptr, 0, fmt, copy);
    va_end(copy);
    std::string out;
    if (needed > 0) {
        out.resize(static_cast<std::size_t>(needed));
        std::vsnprintf(out.data(), out.size() + 1, fmt, args);
    }
    va_end(args);
    return out;
}

bool EqualsNoCase(std::string_view a, std::string_view b) {
    if (a.size() != b.size()) {
        return false;
    }
    for (std::size_t i = 0; i < a.size(); ++i) {
        unsigned char x = static_cast<unsigned char>(a[i]);
        unsigned char y = static_cast<unsigned char>(b[i]);
        if (x >= 'A' && x <= 'Z') {
            x = static_cast<unsigned char>(x - 'A' + 'a');
        }
        if (y >= 'A' && y <= 'Z') {
            y = static_cast<unsigned char>(y - 'A' + 'a');
        }
        if (x != y) {
            return false;
        }
    }
    return true;
}

bool StartsWithNoCase(std::string_view text, std::string_view prefix) {
    return text.size() >= prefix.size() && EqualsNoCase(text.substr(0, prefix.size()), prefix);
}

std::int32_t LeadingInteger(std::string_view text, bool* found) {
    std::size_t at = 0;
    while (at < text.size() && (text[at] == ' ' || (text[at] >= '\t' && text[at] <= '\r'))) {
        ++at;
    }
    bool negative = false;
    if (at < text.size() && (text[at] == '+' || text[at] == '-')) {
        negative = text[at] == '-';
        ++at;
    }
    constexpr std::int64_t kLimit = std::int64_t{INT32_MAX} + 1;
    std::int64_t value = 0;
    const std::size_t digits = at;
    for (; at < text.size() && text[at] >= '0' && text[at] <= '9'; ++at) {
        value = std::min<std::int64_t>(value * 10 + (text[at] - '0'), kLimit);
    }
    if (found != nullptr) {
        *found = at > digits;
    }
    value = negative ? -value : value;
    return static_cast<std::int32_t>(std::clamp<std::int64_t>(value, INT32_MIN, INT32_MAX));
}

std::string MakeValidUtf8(std::string_view text) {
    if (g_utf8_validate_len(text.data(), text.size(), nullptr)) {
        return std::string(text);
    }
    gchar* valid = g_utf8_make_valid(text.data(), static_cast<gssize>(text.size()));
    std::string out = valid != nullptr ? valid : "";
    g_free(valid);
    return out;
}

std::string Utf8FromLegacy(std::string_view text) {
    std::string out;
    out.reserve(text.size());
    const char* p = text.data();
    const char* const end = p + text.size();
    while (p < end) {
        const gchar* stop = nullptr;
        if (g_utf8_validate(p, end - p, &stop)) {
            out.append(p, end);
            break;
        }
        out.append(p, stop);
        gsize written = 0;
        gchar* converted = g_convert(stop, 1, "UTF-8", "WINDOWS-1252", nullptr, &written, nullptr);
        out += converted != nullptr ? std::string(converted, written) : std::string("\xEF\xBF\xBD");
        g_free(converted);
        p = stop + 1;
    }
    return out;
}

void BlankControls(std::string& text) {
    std::size_t out = 0;
    for (std::size_t i = 0; i < text.size(); ++i) {
        const auto c = static_cast<unsigned char>(text[i]);
        if (c == 0xC2 && i + 1 < text.size() &&
            (static_cast<unsigned char>(text[i + 1]) & 0xE0) == 0x80) {
            text[out++] = ' ';
            ++i;
        } else {
            text[out++] = c < 0x20 || c == 0x7F ? ' ' : text[i];
        }
    }
    text.resize(out);
}

} // namespace qm
