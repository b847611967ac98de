// Writing a file so that a failure (a full disk, a refused write, a crash)
// never damages what was there before: the new bytes go into a temporary file
// beside the old one, are flushed to the disk, and only then take the old
// file's place in one rename.
#pragma once

#include <filesystem>
#include <string_view>

namespace qm {

// Creates `file` (truncating an old one) with `contents`, flushed to the
// disk. It takes the permissions of `keepModeOf` when that names an existing
// file, else the usual ones for a new file. A symbolic link at `file` is not
// followed. On failure the file is removed and the result is false.
bool WriteNewFile(const std::filesystem::path& file, std::string_view contents,
                  const std::filesystem::path& keepModeOf = {});

// Replaces the contents of `file` (created when missing) in one step: readers
// see the old contents or the new ones, never a mixture, and a failure leaves
// the old file as it was. A symbolic link is kept; the file it points to is
// replaced. The file keeps its permissions.
bool ReplaceFileContents(const std::filesystem::path& file, std::string_view contents);

} // namespace qm
