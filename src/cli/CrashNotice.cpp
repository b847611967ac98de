#include <cstdio>

#include "CliContext.h"
#include "core/CrashHandler.h"
#include "platform/UserFolders.h"

namespace qmcli {

void UseDataFolderForCrashes(const CliContext& context) {
    const std::filesystem::path dataFolder = qm::ResolveDataFolder(context.dataDir);
    qm::SetCrashDataFolder(dataFolder);
    const std::string notice = qm::TakeWaitingCrashNotice(dataFolder);
    if (!notice.empty()) {
        PrintError(notice);
    }
}

} // namespace qmcli
