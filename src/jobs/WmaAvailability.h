// Which WMA configurations this system can write. The encoder's format
// search decides; the answers are worked out once per run and shared by the
// WMA settings page and the track list's format descriptions, so that a
// configuration that would fail is marked before a grab starts.
#pragma once

#include <cstdint>
#include <vector>

namespace qm {

// One entry per row of WmaConfigurationTable (the end entry excluded).
const std::vector<bool>& AvailableWmaConfigurations();
// Whether the configuration with this table index can be written; false for
// an index outside the table.
bool IsWmaConfigurationAvailable(std::int32_t index);
// Whether a lossless stream can be written.
bool IsWmaLosslessAvailable();

} // namespace qm
