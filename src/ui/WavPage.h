// The WAV settings of one or more tracks: sample rate, channels and sample
// width.
#pragma once

#include "ui/FormatPage.h"

namespace qm::ui {

class CWavPage final : public CFormatPage {
    Q_OBJECT

public:
    explicit CWavPage(FormatPageTargets targets, QWidget* parent = nullptr);
};

} // namespace qm::ui
