// The per-user settings store: named values, each a text or a byte string,
// kept in one INI-style text file (group "[Quavermill]", one "name=value"
// line each, byte strings as "hex:" and their digits). Value names match
// without regard to case. Changes stay in memory until Save, which replaces
// the file atomically (a temporary file, flushed, then renamed over the old
// one), so a crash during a save leaves the old file or the new one, never a
// broken one.
//
// The file lives at $XDG_CONFIG_HOME/Hollowcraft/Quavermill.conf
// (~/.config/... when the variable is unset); tests and the --settings
// option point it elsewhere with SetSettingsPath.
#pragma once

#include <cstdint>
#include <filesystem>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace qm {

class SettingsStore {
public:
    SettingsStore() = default;
    SettingsStore(const SettingsStore&) = delete;
    SettingsStore& operator=(const SettingsStore&) = delete;
    virtual ~SettingsStore() = default;

    virtual bool Has(std::string_view name) const = 0;
    // The text of a value (a binary one reads as its "hex:" form); nothing
    // when the value is missing or its text is not UTF-8.
    virtual std::optional<std::string> ReadString(std::string_view name) const = 0;
    // The bytes of a binary value; nothing for a missing or a text value.
    virtual std::optional<std::vector<std::uint8_t>> ReadBinary(std::string_view name) const = 0;
    // A value stored under a name that differs only in case is replaced (its
    // stored spelling stays). False for a name the file cannot hold: empty,
    // with "=", "[", a line break, or blanks at either end.
    virtual bool WriteString(std::string_view name, std::string_view value) = 0;
    virtual bool WriteBinary(std::string_view name, std::span<const std::uint8_t> value) = 0;
    // False when there was no such value.
    virtual bool Remove(std::string_view name) = 0;
    // Every value name, as stored.
    virtual std::vector<std::string> Names() const = 0;
    // Writes the values to the file (creating its folder when needed). False
    // when the file could not be replaced; the old file is then unchanged.
    virtual bool Save() = 0;
};

enum class StoreOpen {
    Existing, // fails when the file is missing, unreadable or not a store
    Create,   // a missing file gives an empty store (created by Save)
};

// A settings file holds a few kilobytes; a larger one than this counts as
// damaged.
inline constexpr std::uintmax_t kMaxSettingsFileBytes = 1024 * 1024;

// Null on failure. A file that exists but cannot be read fails in both
// modes. A damaged file (not a store: garbage, truncated, a line that is not
// "name=value", larger than kMaxSettingsFileBytes) fails with Existing; with
// Create it opens as an empty store, and Save keeps a copy of the damaged
// file beside the new one, with ".damaged" appended to its name, so that
// nothing typed by hand is lost. *damage, when given, says what is wrong
// with a damaged file ("" for a sound one).
std::unique_ptr<SettingsStore> OpenSettingsStore(const std::filesystem::path& file, StoreOpen mode,
                                                 std::string* damage = nullptr);

// $XDG_CONFIG_HOME/Hollowcraft/Quavermill.conf, or ~/.config/... when the
// variable is unset or empty (or not absolute, as the XDG rules say).
std::filesystem::path DefaultSettingsPath();
// Points the store elsewhere (tests, --settings FILE); an empty path goes
// back to the default.
void SetSettingsPath(const std::filesystem::path& file);
// The override when one is set, else the default.
std::filesystem::path SettingsPath();

} // namespace qm
