#include "disc/XmcdText.h"

#include "core/RemoveSpaces.h"
#include "core/Text.h"

namespace qm {

std::string XmcdValue(std::string_view text, std::string_view key, bool* found) {
    std::string joined;
    bool any = false;
    while (!text.empty()) {
        const auto end = text.find_first_of("\r\n");
        const std::string_view line = text.substr(0, end);
        text = end == std::string_view::npos ? std::string_view() : text.substr(end + 1);
        const auto equals = line.find('=');
        if (equals != std::string_view::npos && EqualsNoCase(line.substr(0, equals), key)) {
            // Joined before decoding: a server may cut between a backslash
            // and the letter it escapes.
            joined += line.substr(equals + 1);
            any = true;
        }
    }
    if (found != nullptr) {
        *found = any;
    }
    return XmcdUnescape(joined);
}

std::string XmcdUnescape(std::string_view value) {
    std::string out;
    out.reserve(value.size());
    for (std::size_t i = 0; i < value.size(); ++i) {
        if (value[i] != '\\' || i + 1 == value.size()) {
            out += value[i];
            continue;
        }
        switch (value[i + 1]) {
        case 'n':
            out += '\n';
            break;
        case 't':
            out += '\t';
            break;
        case '\\':
            out += '\\';
            break;
        default:
            out += '\\';
            continue; // the next character is read as itself
        }
        ++i;
    }
    return out;
}

std::string XmcdEscape(std::string_view value) {
    std::string out;
    out.reserve(value.size());
    for (char c : value) {
        switch (c) {
        case '\\':
            out += "\\\\";
            break;
        case '\n':
            out += "\\n";
            break;
        case '\t':
            out += "\\t";
            break;
        case '\r':
            break; // a CR LF break is written as one "\n"
        default:
            out += c;
        }
    }
    return out;
}

std::string XmcdLines(std::string_view key, std::string_view value, std::string_view eol) {
    const std::string escaped = XmcdEscape(value);
    // A key too long to leave room for text still gets its line.
    const std::size_t room = key.size() + 1 < kXmcdLineBytes ? kXmcdLineBytes - key.size() - 1 : 16;
    std::string out;
    std::string_view rest(escaped);
    // An escape is never cut in two: count the backslashes that end a
    // piece; an odd run ends with half an escape.
    const auto withoutHalfEscape = [&rest](std::string_view piece) {
        std::size_t backslashes = 0;
        while (backslashes < piece.size() && piece[piece.size() - 1 - backslashes] == '\\') {
            ++backslashes;
        }
        if (backslashes % 2 == 1 && piece.size() < rest.size()) {
            piece.remove_suffix(1);
        }
        return piece;
    };
    do {
        std::string_view piece = withoutHalfEscape(Utf8Prefix(rest, room));
        if (piece.empty()) {
            // No whole character fits: bytes that are none (continuation
            // bytes, after an escape or alone) longer than a line. The line
            // is cut where it is full, or it would never end.
            piece = withoutHalfEscape(rest.substr(0, room));
        }
        out += key;
        out += '=';
        out += piece;
        out += eol;
        rest.remove_prefix(piece.size());
    } while (!rest.empty());
    return out;
}

bool XmcdSplit(std::string_view text, std::string* artist, std::string* title) {
    const auto at = text.find(" / ");
    if (at == std::string_view::npos) {
        return false;
    }
    *artist = std::string(text.substr(0, at));
    *title = std::string(text.substr(at + 3));
    RemoveSpacesFromStartAndEnd(*artist);
    RemoveSpacesFromStartAndEnd(*title);
    return true;
}

} // namespace qm
