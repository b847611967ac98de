// The MP3 settings of one or more tracks: constant or variable bitrate (with
// a quality, or an average bitrate), the bitrates, channel mode and sample
// rate.
#pragma once

#include "ui/FormatPage.h"

class QCheckBox;
class QComboBox;

namespace qm::ui {

class CMp3Page final : public CFormatPage {
    Q_OBJECT

public:
    explicit CMp3Page(FormatPageTargets targets, QWidget* parent = nullptr);

    // With variable bitrate the minimum must not lie above the maximum.
    bool Validate() override;

protected:
    void UpdateControls() override;

private:
    QCheckBox* m_variable = nullptr;
    QComboBox* m_minimum = nullptr;
    QComboBox* m_maximum = nullptr;
    QComboBox* m_average = nullptr;
    QComboBox* m_quality = nullptr;
};

} // namespace qm::ui
