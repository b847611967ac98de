#include "ui/OggPage.h"

#include <QCheckBox>
#include <QComboBox>
#include <QDoubleSpinBox>
#include <QFormLayout>

#include "ui/SettingsHelp.h"

namespace qm::ui {

COggPage::COggPage(FormatPageTargets targets, QWidget* parent)
    : CFormatPage(QStringLiteral("OGG"), kHelpOggSettings, std::move(targets), parent) {
    auto& b = Bindings();
    m_abr = AddCheck(QStringLiteral("Code at an average bitrate instead of a quality"), Fields());
    m_abr->setObjectName(QStringLiteral("OGGABR"));
    b.Field<bool>(
        std::make_unique<CheckView>(m_abr), [](auto& f) -> auto& { return f.ogg.abr; });

    m_quality = new QDoubleSpinBox(this);
    m_quality->setObjectName(QStringLiteral("OGGQuality"));
    // Kept as hundredths.
    m_quality->setDecimals(2);
    m_quality->setRange(0.0, 10.0);
    m_quality->setSingleStep(0.5);
    m_quality->setToolTip(QStringLiteral("0 is the smallest file, 10 the best sound"));
    Fields()->addRow(QStringLiteral("Quality (0 to 10):"), m_quality);
    b.Field<double>(
        std::make_unique<DoubleSpinView>(m_quality),
        [](auto& f) -> auto& { return f.ogg.quality; });

    m_bitrate = AddCombo("OGGAvgBitrate", QStringLiteral("Average bitrate:"));
    for (const int kbps : {64, 80, 96, 112, 128, 160, 192, 224, 256, 320}) {
        AddChoice(m_bitrate, QStringLiteral("%1 kbps").arg(kbps), kbps);
    }
    b.Field<long long>(
        std::make_unique<ComboView>(m_bitrate,
                                    [](long long v) { return QStringLiteral("%1 kbps").arg(v); }),
        [](auto& f) -> auto& { return f.ogg.avgBitrate; });

    QComboBox* rate = AddCombo("OGGSamplerate", QStringLiteral("Sample rate:"));
    AddSampleRates(rate);
    b.Field<long long>(
        std::make_unique<ComboView>(rate), [](auto& f) -> auto& { return f.ogg.sampleRate; });
    QComboBox* channels = AddCombo("OGGChannels", QStringLiteral("Channels:"));
    AddChannels(channels);
    b.Field<long long>(
        std::make_unique<ComboView>(channels), [](auto& f) -> auto& { return f.ogg.channels; });
    connect(m_abr, &QCheckBox::stateChanged, this, &COggPage::UpdateControls);
    FinishPage("ApplyNow_OGG");
}

void COggPage::UpdateControls() {
    const Qt::CheckState abr = m_abr->checkState();
    m_quality->setEnabled(abr != Qt::Checked);
    m_bitrate->setEnabled(abr != Qt::Unchecked);
}

} // namespace qm::ui
