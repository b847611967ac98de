// The read methods a drive can be set to, by the names the settings store
// keeps ("ReadMethod_CD%d") and the codes the ripper takes. There is no
// code 3.
#pragma once

#include <array>
#include <string_view>

struct ReadMethodName {
    const char* name;
    int code;
};

inline constexpr std::array<ReadMethodName, 8> kReadMethodNames = {{
    {"Autodetect", 0},
    {"ASPI (1)", 1},
    {"ASPI (2)", 2},
    {"SCSI - Generic", 4},
    {"SCSI - Plextor", 5},
    {"SCSI - NEC", 6},
    {"SCSI - NEC(2)", 7},
    {"SCSI - Generic(2)", 8},
}};

// The code of a stored name (exact match); 0 ("Autodetect") for any other.
int ReadMethodCode(std::string_view name);
// The name of a code; "Autodetect" for a code without a name.
const char* ReadMethodNameOf(int code);
