// The APE (Monkey's Audio) settings of one or more tracks: compression
// level, sample rate and channels.
#pragma once

#include "ui/FormatPage.h"

namespace qm::ui {

class CApePage final : public CFormatPage {
    Q_OBJECT

public:
    explicit CApePage(FormatPageTargets targets, QWidget* parent = nullptr);
};

} // namespace qm::ui
