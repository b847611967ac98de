// The FLAC settings of one or more tracks: compression level, sample rate
// and channels. Mono files are coded at level 0 or 3 only (the settings
// store takes no other level for them), so the page offers just those two.
#pragma once

#include "ui/FormatPage.h"

class QComboBox;

namespace qm::ui {

class CFlacPage final : public CFormatPage {
    Q_OBJECT

public:
    explicit CFlacPage(FormatPageTargets targets, QWidget* parent = nullptr);

protected:
    void UpdateControls() override;

private:
    QComboBox* m_level = nullptr;
    QComboBox* m_channels = nullptr;
};

} // namespace qm::ui
