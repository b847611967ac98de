#include "settings/SettingsIo.h"

#include <charconv>
#include <cmath>
#include <cstdlib>
#include <limits>

#include "core/Text.h"
#include "settings/Settings.h"

namespace qm::settings {

namespace {

std::size_t SkipBlanks(const std::string& text) {
    std::size_t at = 0;
    while (at < text.size() && (text[at] == ' ' || (text[at] >= '\t' && text[at] <= '\r'))) {
        ++at;
    }
    return at;
}

} // namespace

long long ParseInteger(const std::string& text) {
    return qm::LeadingInteger(text);
}

double ParseReal(const std::string& text) {
    std::size_t at = SkipBlanks(text);
    if (at < text.size() && text[at] == '+') {
        ++at;
    }
    double value = 0.0;
    const auto result = std::from_chars(text.data() + at, text.data() + text.size(), value);
    if (result.ec != std::errc() || !std::isfinite(value)) {
        return 0.0;
    }
    return value;
}

std::string FormatReal(double value) {
    char buffer[64];
    const auto result =
        std::to_chars(buffer, buffer + sizeof buffer, value, std::chars_format::fixed, 1);
    if (result.ec != std::errc()) {
        return "0.0";
    }
    return std::string(buffer, result.ptr);
}

std::optional<std::string> Loader::Text(const char* name) const {
    auto text = m_store.ReadString(name);
    if (text && text->size() > kMaxSettingBytes) {
        return std::nullopt;
    }
    return text;
}

void Loader::Bool(const char* name, bool& value, BoolRule rule, std::optional<bool> missing) {
    if (missing) {
        value = *missing;
    }
    if (const auto text = Text(name)) {
        switch (rule) {
        case BoolRule::T:
            value = *text == "True";
            break;
        case BoolRule::F:
            value = *text != "False";
            break;
        case BoolRule::LowerF:
            value = *text != "false";
            break;
        }
    }
}

void Loader::Real(const char* name, double& value, std::optional<double> missing) {
    if (missing) {
        value = *missing;
    }
    if (const auto text = Text(name)) {
        value = ParseReal(*text);
    }
}

void Loader::String(const char* name, std::string& value, std::optional<std::string> missing) {
    if (missing) {
        value = *missing;
    }
    if (auto text = Text(name)) {
        value = std::move(*text);
    }
}

void Loader::Choice(const char* name, std::int32_t& value, std::initializer_list<const char*> names,
                    std::optional<std::int32_t> missing, std::optional<std::int32_t> other) {
    if (missing) {
        value = *missing;
    }
    const auto text = Text(name);
    if (!text) {
        return;
    }
    std::int32_t index = 0;
    for (const char* known : names) {
        if (*text == known) {
            value = index;
            return;
        }
        ++index;
    }
    if (other) {
        value = *other;
    }
}

void Saver::Bool(const char* name, const bool& value, BoolRule rule,
                 std::optional<bool> /*missing*/) {
    if (rule == BoolRule::LowerF) {
        Text(name, value ? "true" : "false");
    } else {
        Text(name, value ? "True" : "False");
    }
}

void Saver::Real(const char* name, const double& value, std::optional<double> /*missing*/) {
    Text(name, FormatReal(value));
}

void Saver::String(const char* name, const std::string& value,
                   std::optional<std::string> /*missing*/) {
    Text(name, value);
}

void Saver::Choice(const char* name, const std::int32_t& value,
                   std::initializer_list<const char*> names,
                   std::optional<std::int32_t> /*missing*/, std::optional<std::int32_t> /*other*/) {
    const bool known = value >= 0 && static_cast<std::size_t>(value) < names.size();
    Text(name, names.begin()[known ? value : 0]);
}

} // namespace qm::settings
