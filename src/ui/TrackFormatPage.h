// The output format of the selected tracks, with its own "Apply changes to
// all tracks" switch ("ApplyNow_Format").
#pragma once

#include "ui/FormatPage.h"

namespace qm::ui {

class CTrackFormatPage final : public CFormatPage {
    Q_OBJECT

public:
    explicit CTrackFormatPage(FormatPageTargets targets, QWidget* parent = nullptr);
};

} // namespace qm::ui
