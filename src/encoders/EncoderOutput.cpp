#include "encoders/EncoderOutput.h"

#include <filesystem>
#include <system_error>

namespace qm {

std::unique_ptr<RiffFile> CreateOutputFile(const std::string& path) {
    if (path.empty()) {
        return nullptr;
    }
    auto file = std::make_unique<RiffFile>(kEncoderFileBuffer);
    if (!file->Create(path)) {
        return nullptr;
    }
    return file;
}

void RemoveOutputFile(const std::string& path) {
    std::error_code ignored;
    if (!path.empty() && std::filesystem::exists(path, ignored)) {
        std::filesystem::remove(path, ignored);
    }
}

} // namespace qm
