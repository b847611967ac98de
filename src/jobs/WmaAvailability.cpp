#include "jobs/WmaAvailability.h"

#include "core/Trace.h"
#include "encoders/WMAEncoder.h"
#include "settings/WmaConfigurationTable.h"

namespace qm {

const std::vector<bool>& AvailableWmaConfigurations() {
    static const std::vector<bool> available = [] {
        std::vector<bool> rows;
        for (int i = 0; i < kWmaConfigurationCount; ++i) {
            const WmaConfiguration& row = WmaConfigurationTable[static_cast<std::size_t>(i)];
            rows.push_back(CWMAEncoder::IsConfigurationAvailable(
                0, row.bitrate, static_cast<std::int32_t>(row.sampleRate), row.channels,
                row.vbr ? 1 : 0, row.passes));
        }
        return rows;
    }();
    return available;
}

bool IsWmaConfigurationAvailable(std::int32_t index) {
    if (index < 0 || index >= kWmaConfigurationCount) {
        return false;
    }
    return AvailableWmaConfigurations()[static_cast<std::size_t>(index)];
}

bool IsWmaLosslessAvailable() {
    // What the grab asks for a lossless track.
    static const bool available = CWMAEncoder::IsConfigurationAvailable(1, 100, 44100, 2, 0, 1);
    return available;
}

} // namespace qm
