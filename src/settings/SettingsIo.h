// Reading and writing single settings in their stored text forms. A Loader
// and a Saver offer the same calls, so that each list of keys is written
// once (as a template over the two) and loading and saving cannot drift
// apart. Internal to the settings library.
#pragma once

#include <cstdint>
#include <initializer_list>
#include <optional>
#include <string>

#include "platform/SettingsStore.h"

namespace qm::settings {

// How a boolean is read: T is 1 only for "True", F is 0 only for "False",
// LowerF is 0 only for "false" (and written in lower case).
enum class BoolRule { T, F, LowerF };

// What a number becomes: nothing to ignore the stored value (the setting
// keeps what it has), else the value to take.
using Fix = std::optional<long long> (*)(long long);

// Decimal integer as the C library reads it: leading blanks, a sign, the
// leading digits; anything else gives 0. Clamped to the 32-bit range.
long long ParseInteger(const std::string& text);
// A real number the same way (locale-independent; not finite gives 0).
double ParseReal(const std::string& text);
// "%.1lf", always with a dot.
std::string FormatReal(double value);

class Loader {
public:
    explicit Loader(const SettingsStore& store) : m_store(store) {}

    const SettingsStore& Store() const { return m_store; }
    // The value's text, when it exists and is short enough.
    std::optional<std::string> Text(const char* name) const;

    void Bool(const char* name, bool& value, BoolRule rule, std::optional<bool> missing);
    template <typename T>
    void Int(const char* name, T& value, std::optional<long long> missing, Fix fix = nullptr) {
        if (missing) {
            value = static_cast<T>(*missing);
        }
        if (const auto text = Text(name)) {
            const std::optional<long long> taken =
                fix != nullptr ? fix(ParseInteger(*text)) : ParseInteger(*text);
            if (taken) {
                value = static_cast<T>(*taken);
            }
        }
    }
    void Real(const char* name, double& value, std::optional<double> missing);
    void String(const char* name, std::string& value, std::optional<std::string> missing);
    // A value stored as one of `names` (its index); a text matching none
    // gives `other`, or keeps the value when `other` is empty.
    void Choice(const char* name, std::int32_t& value, std::initializer_list<const char*> names,
                std::optional<std::int32_t> missing, std::optional<std::int32_t> other);

private:
    const SettingsStore& m_store;
};

class Saver {
public:
    explicit Saver(SettingsStore& store) : m_store(store) {}

    SettingsStore& Store() { return m_store; }
    void Text(const char* name, const std::string& text) { m_store.WriteString(name, text); }

    void Bool(const char* name, const bool& value, BoolRule rule, std::optional<bool> missing);
    template <typename T>
    void Int(const char* name, const T& value, std::optional<long long> /*missing*/,
             Fix /*fix*/ = nullptr) {
        Text(name, std::to_string(static_cast<long long>(value)));
    }
    void Real(const char* name, const double& value, std::optional<double> missing);
    void String(const char* name, const std::string& value, std::optional<std::string> missing);
    void Choice(const char* name, const std::int32_t& value,
                std::initializer_list<const char*> names, std::optional<std::int32_t> missing,
                std::optional<std::int32_t> other);

private:
    SettingsStore& m_store;
};

} // namespace qm::settings
