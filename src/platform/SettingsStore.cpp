// The store over GLib's key files: GKeyFile parses and writes the text
// (escapes, comments kept), g_file_set_contents replaces the file through a
// flushed temporary file and a rename.
#include "platform/SettingsStore.h"

#include <glib.h>

#include <cstdlib>
#include <fstream>
#include <mutex>
#include <system_error>
#include <unordered_map>

#include "platform/UserFolders.h"

namespace qm {

namespace {

constexpr const char* kGroup = "Quavermill";
constexpr const char* kHexPrefix = "hex:";

struct KeyFileDeleter {
    void operator()(GKeyFile* file) const { g_key_file_free(file); }
};
using KeyFilePtr = std::unique_ptr<GKeyFile, KeyFileDeleter>;

struct ErrorHolder {
    GError* error = nullptr;
    ~ErrorHolder() { g_clear_error(&error); }
};

// A name as the store compares names: ASCII letters in lower case.
std::string FoldedName(std::string_view name) {
    std::string folded(name);
    for (char& c : folded) {
        c = g_ascii_tolower(c);
    }
    return folded;
}

bool IsStorableName(std::string_view name) {
    if (name.empty() || name.front() == ' ' || name.back() == ' ' || name.front() == '#' ||
        name.front() == '\t' || name.back() == '\t') {
        return false;
    }
    for (char c : name) {
        if (c == '=' || c == '[' || c == ']' || c == '\n' || c == '\r' || c == '\0') {
            return false;
        }
    }
    return g_utf8_validate(name.data(), static_cast<gssize>(name.size()), nullptr);
}

int HexDigit(char c) {
    if (c >= '0' && c <= '9') {
        return c - '0';
    }
    if (c >= 'a' && c <= 'f') {
        return c - 'a' + 10;
    }
    if (c >= 'A' && c <= 'F') {
        return c - 'A' + 10;
    }
    return -1;
}

class KeyFileSettingsStore final : public SettingsStore {
public:
    KeyFileSettingsStore(std::filesystem::path file, KeyFilePtr keys, bool damaged)
        : m_file(std::move(file)), m_keys(std::move(keys)), m_damaged(damaged) {
        IndexNames();
    }

    bool Has(std::string_view name) const override { return !StoredName(name).empty(); }

    std::optional<std::string> ReadString(std::string_view name) const override {
        const std::string stored = StoredName(name);
        if (stored.empty()) {
            return std::nullopt;
        }
        ErrorHolder error;
        gchar* value = g_key_file_get_string(m_keys.get(), kGroup, stored.c_str(), &error.error);
        if (value == nullptr && error.error != nullptr &&
            g_error_matches(error.error, G_KEY_FILE_ERROR, G_KEY_FILE_ERROR_INVALID_VALUE) &&
            g_utf8_validate(RawValue(stored).c_str(), -1, nullptr)) {
            // A backslash typed by hand that starts no escape ("{ARTIST}\{ALBUM}"):
            // the value is taken as it stands.
            return RawValue(stored);
        }
        if (value == nullptr) {
            return std::nullopt;
        }
        std::string text(value);
        g_free(value);
        return text;
    }

    std::optional<std::vector<std::uint8_t>> ReadBinary(std::string_view name) const override {
        const auto text = ReadString(name);
        if (!text || text->rfind(kHexPrefix, 0) != 0) {
            return std::nullopt;
        }
        const std::string_view digits = std::string_view(*text).substr(4);
        if (digits.size() % 2 != 0) {
            return std::nullopt;
        }
        std::vector<std::uint8_t> bytes;
        bytes.reserve(digits.size() / 2);
        for (std::size_t i = 0; i < digits.size(); i += 2) {
            const int high = HexDigit(digits[i]);
            const int low = HexDigit(digits[i + 1]);
            if (high < 0 || low < 0) {
                return std::nullopt;
            }
            bytes.push_back(static_cast<std::uint8_t>(high * 16 + low));
        }
        return bytes;
    }

    bool WriteString(std::string_view name, std::string_view value) override {
        if (!IsStorableName(name)) {
            return false;
        }
        std::string stored = StoredName(name);
        if (stored.empty()) {
            stored = std::string(name);
            m_names.emplace(FoldedName(name), stored);
        }
        // GKeyFile values are NUL-terminated text: a NUL ends the value here
        // as it would for a registry string.
        const std::string text(value.substr(0, value.find('\0')));
        g_key_file_set_string(m_keys.get(), kGroup, stored.c_str(), text.c_str());
        return true;
    }

    bool WriteBinary(std::string_view name, std::span<const std::uint8_t> value) override {
        static constexpr char kDigits[] = "0123456789abcdef";
        std::string text = kHexPrefix;
        text.reserve(text.size() + value.size() * 2);
        for (std::uint8_t byte : value) {
            text += kDigits[byte >> 4];
            text += kDigits[byte & 0x0F];
        }
        return WriteString(name, text);
    }

    bool Remove(std::string_view name) override {
        const std::string stored = StoredName(name);
        if (stored.empty()) {
            return false;
        }
        const bool removed =
            g_key_file_remove_key(m_keys.get(), kGroup, stored.c_str(), nullptr) != FALSE;
        IndexNames(); // another spelling of the name may now be the one found
        return removed;
    }

    std::vector<std::string> Names() const override {
        std::vector<std::string> names;
        gsize count = 0;
        gchar** keys = g_key_file_get_keys(m_keys.get(), kGroup, &count, nullptr);
        for (gsize i = 0; keys != nullptr && i < count; ++i) {
            names.emplace_back(keys[i]);
        }
        g_strfreev(keys);
        return names;
    }

    bool Save() override {
        std::error_code error;
        if (m_file.has_parent_path()) {
            std::filesystem::create_directories(m_file.parent_path(), error);
            if (error) {
                return false;
            }
        }
        if (m_damaged) {
            std::filesystem::path copy = m_file;
            copy += ".damaged";
            std::filesystem::copy_file(m_file, copy,
                                       std::filesystem::copy_options::overwrite_existing, error);
            if (error && std::filesystem::exists(m_file)) {
                return false; // never replace what could not be kept
            }
        }
        gsize length = 0;
        gchar* data = g_key_file_to_data(m_keys.get(), &length, nullptr);
        if (data == nullptr) {
            return false;
        }
        ErrorHolder saveError;
        // CONSISTENT: a temporary file in the same folder, flushed to disk,
        // then renamed over the old file.
        const gboolean saved = g_file_set_contents_full(
            m_file.c_str(), data, static_cast<gssize>(length),
            static_cast<GFileSetContentsFlags>(G_FILE_SET_CONTENTS_CONSISTENT |
                                               G_FILE_SET_CONTENTS_DURABLE),
            0600, &saveError.error);
        g_free(data);
        if (saved) {
            m_damaged = false;
        }
        return saved != FALSE;
    }

private:
    std::string RawValue(const std::string& stored) const {
        gchar* raw = g_key_file_get_value(m_keys.get(), kGroup, stored.c_str(), nullptr);
        std::string text = raw != nullptr ? raw : "";
        g_free(raw);
        return text;
    }

    // The name as stored when a value of that name exists ("" otherwise):
    // of several spellings, the first in the file.
    std::string StoredName(std::string_view name) const {
        const auto found = m_names.find(FoldedName(name));
        return found != m_names.end() ? found->second : std::string();
    }

    // Looking a name up by listing every stored name made reading all
    // settings quadratic in their number; they are indexed once instead.
    void IndexNames() {
        m_names.clear();
        gsize count = 0;
        gchar** keys = g_key_file_get_keys(m_keys.get(), kGroup, &count, nullptr);
        for (gsize i = 0; keys != nullptr && i < count; ++i) {
            m_names.emplace(FoldedName(keys[i]), keys[i]);
        }
        g_strfreev(keys);
    }

    std::filesystem::path m_file;
    KeyFilePtr m_keys;
    std::unordered_map<std::string, std::string> m_names; // folded name -> as stored
    bool m_damaged;
};

std::mutex& PathLock() {
    static std::mutex lock;
    return lock;
}

std::filesystem::path& OverridePath() {
    static std::filesystem::path path;
    return path;
}

} // namespace

std::unique_ptr<SettingsStore> OpenSettingsStore(const std::filesystem::path& file, StoreOpen mode,
                                                 std::string* damage) {
    if (damage != nullptr) {
        damage->clear();
    }
    KeyFilePtr keys(g_key_file_new());
    std::error_code error;
    const bool exists = std::filesystem::exists(file, error);
    if (error) {
        return nullptr;
    }
    if (!exists) {
        if (mode == StoreOpen::Existing) {
            return nullptr;
        }
        return std::make_unique<KeyFileSettingsStore>(file, std::move(keys), false);
    }
    // Reading it ourselves tells an unreadable file (fails in both modes)
    // from a damaged one.
    std::ifstream in(file, std::ios::binary);
    if (!in || std::filesystem::is_directory(file, error)) {
        return nullptr;
    }
    const std::uintmax_t size = std::filesystem::file_size(file, error);
    std::string text;
    std::string why;
    if (!error && size > kMaxSettingsFileBytes) {
        why = "larger than " + std::to_string(kMaxSettingsFileBytes >> 20) + " MB";
    } else {
        text.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
        if (in.bad()) {
            return nullptr;
        }
        ErrorHolder parseError;
        if (text.find('\0') != std::string::npos) {
            why = "a NUL byte in the text";
        } else if (!g_key_file_load_from_data(keys.get(), text.data(), text.size(),
                                              G_KEY_FILE_KEEP_COMMENTS, &parseError.error)) {
            why = parseError.error != nullptr ? parseError.error->message : "not a settings file";
        }
    }
    if (!why.empty()) {
        if (damage != nullptr) {
            *damage = file.string() + ": " + why;
        }
        if (mode == StoreOpen::Existing) {
            return nullptr;
        }
        keys.reset(g_key_file_new());
        return std::make_unique<KeyFileSettingsStore>(file, std::move(keys), true);
    }
    return std::make_unique<KeyFileSettingsStore>(file, std::move(keys), false);
}

std::filesystem::path DefaultSettingsPath() {
    std::filesystem::path base;
    const char* config = std::getenv("XDG_CONFIG_HOME");
    if (config != nullptr && config[0] == '/') {
        base = config;
    } else {
        base = HomeFolder() / ".config";
    }
    return base / "Hollowcraft" / "Quavermill.conf";
}

void SetSettingsPath(const std::filesystem::path& file) {
    std::lock_guard<std::mutex> lock(PathLock());
    OverridePath() = file;
}

std::filesystem::path SettingsPath() {
    {
        std::lock_guard<std::mutex> lock(PathLock());
        if (!OverridePath().empty()) {
            return OverridePath();
        }
    }
    return DefaultSettingsPath();
}

} // namespace qm
