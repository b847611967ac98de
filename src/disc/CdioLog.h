// libcdio's messages. Its default handler ends the process on an error (a
// missing .cue is one), so every program installs ours before it touches a
// drive; the drive list does it on first use.
#pragma once

#include <string>

namespace qm {

void InstallCdioLogHandler();

// The first warnings or errors libcdio reported since ClearCdioMessage, for
// messages about images that would not open.
std::string LastCdioMessage();
void ClearCdioMessage();

} // namespace qm
