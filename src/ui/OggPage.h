// The Ogg Vorbis settings of one or more tracks: quality or average bitrate,
// sample rate and channels.
#pragma once

#include "ui/FormatPage.h"

class QCheckBox;
class QComboBox;
class QDoubleSpinBox;

namespace qm::ui {

class COggPage final : public CFormatPage {
    Q_OBJECT

public:
    explicit COggPage(FormatPageTargets targets, QWidget* parent = nullptr);

protected:
    void UpdateControls() override;

private:
    QCheckBox* m_abr = nullptr;
    QDoubleSpinBox* m_quality = nullptr;
    QComboBox* m_bitrate = nullptr;
};

} // namespace qm::ui
