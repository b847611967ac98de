#include "ui/FlacPage.h"

#include <QComboBox>
#include <QStandardItemModel>

#include "ui/SettingsHelp.h"

namespace qm::ui {

CFlacPage::CFlacPage(FormatPageTargets targets, QWidget* parent)
    : CFormatPage(QStringLiteral("FLAC"), kHelpTrackFormat, std::move(targets), parent) {
    auto& b = Bindings();
    m_level = AddCombo("FLACCompressionLevel", QStringLiteral("Compression level:"));
    for (int level = 0; level <= 8; ++level) {
        const QString label = level == 0   ? QStringLiteral("0 (fastest)")
                              : level == 8 ? QStringLiteral("8 (smallest)")
                                           : QString::number(level);
        AddChoice(m_level, label, level);
    }
    b.Field<long long>(
        std::make_unique<ComboView>(m_level),
        [](auto& f) -> auto& { return f.flac.compressionLevel; });
    QComboBox* rate = AddCombo("FLACSamplerate", QStringLiteral("Sample rate:"));
    AddSampleRates(rate);
    b.Field<long long>(
        std::make_unique<ComboView>(rate), [](auto& f) -> auto& { return f.flac.sampleRate; });
    m_channels = AddCombo("FLACChannels", QStringLiteral("Channels:"));
    AddChannels(m_channels);
    b.Field<long long>(
        std::make_unique<ComboView>(m_channels), [](auto& f) -> auto& { return f.flac.channels; });
    connect(m_channels, &QComboBox::currentIndexChanged, this, &CFlacPage::UpdateControls);
    FinishPage("ApplyNow_FLAC");
}

void CFlacPage::UpdateControls() {
    const bool mono = ChoiceValue(m_channels) == 1;
    auto* model = qobject_cast<QStandardItemModel*>(m_level->model());
    for (int i = 0; i < m_level->count(); ++i) {
        const long long level =
            m_level->itemData(i).isValid() ? m_level->itemData(i).toLongLong() : -1;
        model->item(i)->setEnabled(!mono || level < 0 || level == 0 || level == 3);
    }
    const long long level = ChoiceValue(m_level);
    if (mono && level >= 0 && level != 0 && level != 3) {
        m_level->setCurrentIndex(m_level->findData(QVariant(3LL)));
    }
}

} // namespace qm::ui
