#include "ui/Mp3Page.h"

#include <QCheckBox>
#include <QComboBox>
#include <QFormLayout>

#include "core/Trace.h"
#include "ui/SettingsHelp.h"

namespace qm::ui {

namespace {

// The bitrates of MPEG-1 (32000 Hz and up) and of MPEG-2 and 2.5 (below);
// the encoder takes the nearest one its sample rate allows.
constexpr int kBitrates[] = {8,  16,  24,  32,  40,  48,  56,  64,  80,
                             96, 112, 128, 144, 160, 192, 224, 256, 320};

QString Kbps(long long value) {
    return QStringLiteral("%1 kbps").arg(value);
}

void AddBitrates(QComboBox* combo) {
    for (const int kbps : kBitrates) {
        AddChoice(combo, Kbps(kbps), kbps);
    }
}

} // namespace

CMp3Page::CMp3Page(FormatPageTargets targets, QWidget* parent)
    : CFormatPage(QStringLiteral("MP3"), kHelpMp3Settings, std::move(targets), parent) {
    auto& b = Bindings();
    m_variable = AddCheck(QStringLiteral("Variable bitrate (VBR)"), Fields());
    m_variable->setObjectName(QStringLiteral("MP3Variable"));
    b.Field<bool>(
        std::make_unique<CheckView>(m_variable), [](auto& f) -> auto& { return f.mp3.variable; });

    m_minimum = AddCombo("MP3MinBitrate", QStringLiteral("Bitrate (minimum with VBR):"));
    AddBitrates(m_minimum);
    b.Field<long long>(
        std::make_unique<ComboView>(m_minimum, Kbps),
        [](auto& f) -> auto& { return f.mp3.minBitrate; });
    m_maximum = AddCombo("MP3MaxBitrate", QStringLiteral("Maximum bitrate:"));
    AddBitrates(m_maximum);
    b.Field<long long>(
        std::make_unique<ComboView>(m_maximum, Kbps),
        [](auto& f) -> auto& { return f.mp3.maxBitrate; });
    m_average = AddCombo("MP3AvgBitrate", QStringLiteral("Average bitrate:"));
    AddChoice(m_average, QStringLiteral("Off (use the VBR quality)"), 0);
    AddBitrates(m_average);
    b.Field<long long>(
        std::make_unique<ComboView>(m_average, Kbps),
        [](auto& f) -> auto& { return f.mp3.avgBitrate; });
    m_quality = AddCombo("MP3VBRQuality", QStringLiteral("VBR quality:"));
    for (int quality = 0; quality <= 9; ++quality) {
        const QString label = quality == 0   ? QStringLiteral("0 (best)")
                              : quality == 9 ? QStringLiteral("9 (smallest)")
                                             : QString::number(quality);
        AddChoice(m_quality, label, quality);
    }
    b.Field<long long>(
        std::make_unique<ComboView>(m_quality), [](auto& f) -> auto& { return f.mp3.vbrQuality; });

    QComboBox* mode = AddCombo("MP3Channels", QStringLiteral("Channel mode:"));
    AddChoice(mode, QStringLiteral("stereo"), 0);
    AddChoice(mode, QStringLiteral("joint stereo"), 1);
    AddChoice(mode, QStringLiteral("dual channel"), 2);
    AddChoice(mode, QStringLiteral("mono"), 3);
    b.Field<long long>(
        std::make_unique<ComboView>(mode), [](auto& f) -> auto& { return f.mp3.channels; });
    QComboBox* rate = AddCombo("MP3Samplerate", QStringLiteral("Sample rate:"));
    AddSampleRates(rate);
    b.Field<long long>(
        std::make_unique<ComboView>(rate), [](auto& f) -> auto& { return f.mp3.sampleRate; });

    connect(m_variable, &QCheckBox::stateChanged, this, &CMp3Page::UpdateControls);
    connect(m_average, &QComboBox::currentIndexChanged, this, &CMp3Page::UpdateControls);
    FinishPage("ApplyNow_MP3");
}

void CMp3Page::UpdateControls() {
    const bool variable = m_variable->checkState() != Qt::Unchecked;
    m_maximum->setEnabled(variable);
    m_average->setEnabled(variable);
    // The quality counts only without an average bitrate.
    m_quality->setEnabled(variable && ChoiceValue(m_average) <= 0);
}

bool CMp3Page::Validate() {
    QM_TRACE("Mp3Page");
    const long long minimum = ChoiceValue(m_minimum);
    const long long maximum = ChoiceValue(m_maximum);
    if (m_variable->checkState() == Qt::Checked && minimum > 0 && maximum > 0 &&
        minimum > maximum) {
        Warn(QStringLiteral("Warning"),
             QStringLiteral("The minimum bitrate must not lie above the maximum bitrate."));
        m_minimum->setFocus();
        QM_RETURN(0, false);
    }
    QM_RETURN(1, true);
}

} // namespace qm::ui
