// The output file of a compressing sink: created when the sink starts, filled
// through a buffer of moderate size (so a full disk shows while the stream
// runs, not only at the end) and removed when the stream must not survive.
#pragma once

#include <memory>
#include <string>

#include "platform/RiffFile.h"

namespace qm {

constexpr std::size_t kEncoderFileBuffer = 64 * 1024;

// Creates (or truncates) `path`; null when it cannot be created.
std::unique_ptr<RiffFile> CreateOutputFile(const std::string& path);

// Deletes the file at `path` when there is one; a failure is ignored.
void RemoveOutputFile(const std::string& path);

} // namespace qm
