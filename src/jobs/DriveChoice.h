// Which drive a front end opens, and opening it with its read method: the
// window at start-up and on a change of drive, the terminal for every
// command that reads a disc.
#pragma once

#include <cstdint>

class CCDRipper;
struct QuavermillSettings;

// The drive to open: `requested` when it names one (>= 0, taken as it is),
// else the drive that holds an audio disc when "AutoDetectCD" is on, else
// the one "CD-Drive" names, where an index outside the drive list becomes
// 0. -1 when there is no drive at all.
std::int32_t ChooseDrive(CCDRipper& ripper, const QuavermillSettings& settings,
                         std::int32_t requested = -1);

// Lets the ripper's drive go and opens drive `index` with its
// "ReadMethod_CD%d"; "CD-Drive" becomes `index`. False when it does not open.
bool AttachChosenDrive(CCDRipper& ripper, QuavermillSettings& settings, std::int32_t index);
