// `config list`, `config get NAME`, `config set NAME VALUE`: the settings
// store by its value names and text forms, so that everything the settings
// pages edit can be set from the terminal too. Values are written as given;
// list and get show what the program makes of them (a value out of range
// reads as its default, as it would at start-up).
#include <algorithm>
#include <cstdio>
#include <memory>
#include <regex>
#include <string>
#include <vector>

#include "CliContext.h"
#include "core/Text.h"
#include "disc/DriveList.h"
#include "platform/SettingsStore.h"
#include "settings/Settings.h"

namespace qmcli {

namespace {

// A store that lives in memory only: what the settings look like in their
// text forms, without touching a file.
class MemoryStore : public qm::SettingsStore {
public:
    bool Has(std::string_view name) const override { return Find(name) != nullptr; }
    std::optional<std::string> ReadString(std::string_view name) const override {
        const Value* value = Find(name);
        if (value == nullptr) {
            return std::nullopt;
        }
        if (!value->binary) {
            return value->text;
        }
        std::string hex = "hex:";
        for (const std::uint8_t byte : value->bytes) {
            hex += qm::Format("%02x", byte);
        }
        return hex;
    }
    std::optional<std::vector<std::uint8_t>> ReadBinary(std::string_view name) const override {
        const Value* value = Find(name);
        if (value == nullptr || !value->binary) {
            return std::nullopt;
        }
        return value->bytes;
    }
    bool WriteString(std::string_view name, std::string_view text) override {
        Value& value = Slot(name);
        value.binary = false;
        value.text = std::string(text);
        return true;
    }
    bool WriteBinary(std::string_view name, std::span<const std::uint8_t> bytes) override {
        Value& value = Slot(name);
        value.binary = true;
        value.bytes.assign(bytes.begin(), bytes.end());
        return true;
    }
    bool Remove(std::string_view name) override {
        const auto found = std::find_if(m_values.begin(), m_values.end(), [&](const Value& v) {
            return qm::EqualsNoCase(v.name, name);
        });
        if (found == m_values.end()) {
            return false;
        }
        m_values.erase(found);
        return true;
    }
    std::vector<std::string> Names() const override {
        std::vector<std::string> names;
        for (const Value& value : m_values) {
            names.push_back(value.name);
        }
        return names;
    }
    bool Save() override { return false; }

private:
    struct Value {
        std::string name;
        bool binary = false;
        std::string text;
        std::vector<std::uint8_t> bytes;
    };
    const Value* Find(std::string_view name) const {
        for (const Value& value : m_values) {
            if (qm::EqualsNoCase(value.name, name)) {
                return &value;
            }
        }
        return nullptr;
    }
    Value& Slot(std::string_view name) {
        for (Value& value : m_values) {
            if (qm::EqualsNoCase(value.name, name)) {
                return value;
            }
        }
        m_values.push_back(Value{std::string(name), false, {}, {}});
        return m_values.back();
    }
    std::vector<Value> m_values;
};

constexpr const char* kLogPositionNames[] = {"LogLeftPosition", "LogTopPosition",
                                             "LogRightPosition", "LogBottomPosition"};

// The drive index a "ReadMethod_CD%d" name holds, or -1.
int ReadMethodIndex(const std::string& name) {
    static const std::regex kPattern("ReadMethod_CD([0-9]{1,3})", std::regex::icase);
    std::smatch match;
    if (!std::regex_match(name, match, kPattern)) {
        return -1;
    }
    const int index = std::stoi(match[1].str());
    return index < kMaxDrives ? index : -1;
}

// How many drives' read methods to show: the drives there are, and every
// drive the store holds a read method for (or `atLeast`).
int DriveCount(const qm::SettingsStore* store, int atLeast) {
    int count = std::max(atLeast, static_cast<int>(qm::DriveList::Instance().Drives().size()));
    if (store != nullptr) {
        for (const std::string& name : store->Names()) {
            count = std::max(count, ReadMethodIndex(name) + 1);
        }
    }
    return std::min(count, kMaxDrives);
}

// Every value of the store as the program reads it, in its text form: the
// settings of LoadSettings and the values dialogs keep themselves.
std::unique_ptr<MemoryStore> EffectiveValues(const qm::SettingsStore* store, int driveCount) {
    QuavermillSettings settings;
    settings.drive.driveCount = driveCount;
    ApplyNowSettings applyNow;
    RipAlbumSettings ripAlbum;
    LogWindowPosition position;
    bool hasPosition = false;
    if (store != nullptr) {
        LoadSettings(settings, *store);
        LoadApplyNow(applyNow, *store);
        LoadRipAlbumSettings(ripAlbum, *store);
        hasPosition = LoadLogWindowPosition(position, *store);
    }
    auto values = std::make_unique<MemoryStore>();
    SaveSettings(settings, *values);
    SaveApplyNow(applyNow, *values);
    SaveRipAlbumSettings(ripAlbum, *values);
    if (hasPosition) {
        SaveLogWindowPosition(position, *values);
    }
    return values;
}

// The name as the program writes it, for a name given in any case; "" when
// it names no setting.
std::string CanonicalName(const std::string& name) {
    const int drive = ReadMethodIndex(name);
    if (drive >= 0) {
        return qm::Format("ReadMethod_CD%d", drive);
    }
    for (const char* known : kLogPositionNames) {
        if (qm::EqualsNoCase(name, known)) {
            return known;
        }
    }
    const auto defaults = EffectiveValues(nullptr, 0);
    for (const std::string& known : defaults->Names()) {
        if (qm::EqualsNoCase(name, known)) {
            return known;
        }
    }
    return "";
}

std::unique_ptr<qm::SettingsStore> OpenExisting() {
    return qm::OpenSettingsStore(qm::SettingsPath(), qm::StoreOpen::Existing);
}

int RunList(const CliContext& /*context*/) {
    const auto store = OpenExisting();
    const auto values = EffectiveValues(store.get(), DriveCount(store.get(), 0));
    for (const std::string& name : values->Names()) {
        std::printf("%s=%s\n", name.c_str(), values->ReadString(name).value_or("").c_str());
    }
    return kExitOk;
}

int RunGet(const std::string& name) {
    const std::string canonical = CanonicalName(name);
    if (canonical.empty()) {
        PrintError("there is no setting named '" + name + "' (see 'config list')");
        return kExitUsage;
    }
    const auto store = OpenExisting();
    const auto values =
        EffectiveValues(store.get(), DriveCount(store.get(), ReadMethodIndex(canonical) + 1));
    const std::optional<std::string> value = values->ReadString(canonical);
    if (!value && store != nullptr) {
        // A value no loader reads (a log position stored alone): as stored.
        std::printf("%s\n", store->ReadString(canonical).value_or("").c_str());
        return kExitOk;
    }
    std::printf("%s\n", value.value_or("").c_str());
    return kExitOk;
}

int RunSet(const std::string& name, const std::string& value) {
    const std::string canonical = CanonicalName(name);
    if (canonical.empty()) {
        PrintError("there is no setting named '" + name + "' (see 'config list')");
        return kExitUsage;
    }
    std::string damage;
    auto store = qm::OpenSettingsStore(qm::SettingsPath(), qm::StoreOpen::Create, &damage);
    if (!store) {
        PrintError("cannot read the settings store " + qm::SettingsPath().string());
        return kExitFailed;
    }
    if (!damage.empty()) {
        PrintError("the settings store is damaged (" + damage +
                   "); it is kept beside the new one with \".damaged\" appended to its name");
    }
    if (qm::EqualsNoCase(canonical, "ProxyPassword")) {
        // Kept enciphered: through the settings' own writer.
        QuavermillSettings settings;
        LoadSettings(settings, *store);
        settings.cddb.ProxyPassword = value;
        MemoryStore written;
        SaveSettings(settings, written);
        const auto bytes =
            written.ReadBinary("ProxyPassword").value_or(std::vector<std::uint8_t>{});
        store->WriteBinary(canonical, bytes);
    } else if (!store->WriteString(canonical, value)) {
        PrintError("the store cannot hold that value");
        return kExitUsage;
    }
    if (!store->Save()) {
        PrintError("cannot save the settings store " + qm::SettingsPath().string());
        return kExitFailed;
    }
    const auto values =
        EffectiveValues(store.get(), DriveCount(store.get(), ReadMethodIndex(canonical) + 1));
    const std::optional<std::string> read = values->ReadString(canonical);
    if (read && *read != value && !qm::EqualsNoCase(canonical, "ProxyPassword")) {
        std::fprintf(stderr, "quavermill-cli: stored; the program reads %s as '%s'\n",
                     canonical.c_str(), read->c_str());
    }
    return kExitOk;
}

} // namespace

Command AddConfigCommand(CLI::App& app) {
    struct Arguments {
        std::string name;
        std::string value;
    };
    auto arguments = std::make_shared<Arguments>();
    Command command;
    command.app = app.add_subcommand(
        "config", "Read and write the settings store by its value names (as the settings pages "
                  "edit them)");
    command.app->require_subcommand(1);
    CLI::App* list = command.app->add_subcommand("list", "Every setting and its value");
    CLI::App* get = command.app->add_subcommand("get", "The value of one setting");
    get->add_option("NAME", arguments->name, "Value name, e.g. NameFormat")->required();
    CLI::App* set = command.app->add_subcommand("set", "Store a value");
    set->add_option("NAME", arguments->name, "Value name, e.g. NameFormat")->required();
    set->add_option("VALUE", arguments->value, "The value as text, e.g. True")->required();
    command.app->footer("Booleans are True/False; names match without regard to case; "
                        "--settings FILE edits another store.");
    command.run = [arguments, list, get, set](const CliContext& context) {
        if (list->parsed()) {
            return RunList(context);
        }
        if (get->parsed()) {
            return RunGet(arguments->name);
        }
        if (set->parsed()) {
            return RunSet(arguments->name, arguments->value);
        }
        return static_cast<int>(kExitUsage);
    };
    return command;
}

} // namespace qmcli
