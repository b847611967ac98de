// What the fuzz targets share: a scratch folder of their own for the readers
// that take a file by its path, and writing an input there.
#pragma once

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <string_view>

namespace qmfuzz {

// A folder under the temporary folder, made at the first call and removed
// with its contents when the process ends.
const std::filesystem::path& ScratchFolder();

// Replaces `file` with `bytes`; aborts when that fails, since a target that
// cannot write its input tests nothing.
void WriteInput(const std::filesystem::path& file, std::string_view bytes);

inline std::string_view AsText(const std::uint8_t* data, std::size_t size) {
    return {reinterpret_cast<const char*>(data), size};
}

} // namespace qmfuzz
