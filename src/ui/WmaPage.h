// The WMA settings of one or more tracks: one of the fixed configurations
// (bitrate, sample rate, channels, one- or two-pass VBR) or lossless. The
// configurations this system cannot write are marked "(not available)" and
// cannot be chosen.
#pragma once

#include <vector>

#include <QString>

#include "ui/FormatPage.h"

class QCheckBox;
class QComboBox;

namespace qm::ui {

class CWmaPage final : public CFormatPage {
    Q_OBJECT

public:
    explicit CWmaPage(FormatPageTargets targets, QWidget* parent = nullptr);

    // How the configuration list names an entry.
    static QString ConfigurationLabel(int index);
    static constexpr const char* kUnavailable = " (not available)";

protected:
    void UpdateControls() override;

private:
    QCheckBox* m_lossless = nullptr;
    QComboBox* m_configuration = nullptr;
};

} // namespace qm::ui
