// The settings file as the program opens it at start (OpenSettingsStore, a
// damaged file opening empty) and every setting read from it: the main
// settings for every drive, and the values the dialogs keep. What was read
// saves and reads back to itself.
#include <cstdlib>

#include "FuzzSupport.h"
#include "platform/SettingsStore.h"
#include "settings/Settings.h"

namespace {

QuavermillSettings Fresh() {
    QuavermillSettings settings;
    settings.drive.driveCount = kMaxDrives;
    return settings;
}

// The settings saved into an empty store and read back from it.
QuavermillSettings SavedAndRead(const QuavermillSettings& settings) {
    const auto store =
        qm::OpenSettingsStore(qmfuzz::ScratchFolder() / "never-saved.conf", qm::StoreOpen::Create);
    SaveSettings(settings, *store);
    QuavermillSettings read = Fresh();
    LoadSettings(read, *store);
    return read;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    static const std::filesystem::path file = qmfuzz::ScratchFolder() / "Quavermill.conf";
    qmfuzz::WriteInput(file, qmfuzz::AsText(data, size));
    const auto store = qm::OpenSettingsStore(file, qm::StoreOpen::Create);
    if (!store) {
        return 0;
    }
    QuavermillSettings settings = Fresh();
    LoadSettings(settings, *store);
    ApplyNowSettings applyNow;
    LoadApplyNow(applyNow, *store);
    RipAlbumSettings ripAlbum;
    LoadRipAlbumSettings(ripAlbum, *store);
    LogWindowPosition position;
    (void)LoadLogWindowPosition(position, *store);
    for (const std::string& name : store->Names()) {
        (void)store->ReadString(name);
        (void)store->ReadBinary(name);
    }

    // A value may be mended on its first reading (a number out of range, a
    // real rounded to what the file keeps); from then on it stays.
    const QuavermillSettings once = SavedAndRead(settings);
    if (SavedAndRead(once) != once) {
        std::abort();
    }
    return 0;
}
