// Hands a mail to the user's own mail client through xdg-email (xdg-utils):
// the client shows it and the user sends it; nothing here ever sends mail.
#pragma once

#include <filesystem>
#include <string>

namespace qm {

enum class MailHandOffResult {
    kHanded,        // the mail client has the message
    kNoMailProgram, // xdg-email is not on PATH
    kFailed,        // xdg-email did not start or reported a failure
};

// The first executable `program` in the folders of $PATH; empty when none.
std::filesystem::path FindProgramOnPath(const std::string& program);

// Runs `xdg-email --subject SUBJECT --body BODY ADDRESS` and waits for it.
MailHandOffResult HandMailToClient(const std::string& address, const std::string& subject,
                                   const std::string& body);

} // namespace qm
