#include "ui/WavPage.h"

#include <QComboBox>

#include "ui/SettingsHelp.h"

namespace qm::ui {

CWavPage::CWavPage(FormatPageTargets targets, QWidget* parent)
    : CFormatPage(QStringLiteral("WAV"), kHelpTrackFormat, std::move(targets), parent) {
    auto& b = Bindings();
    QComboBox* rate = AddCombo("WAVSamplerate", QStringLiteral("Sample rate:"));
    AddSampleRates(rate);
    b.Field<long long>(
        std::make_unique<ComboView>(rate), [](auto& f) -> auto& { return f.wav.sampleRate; });
    QComboBox* channels = AddCombo("WAVChannels", QStringLiteral("Channels:"));
    AddChannels(channels);
    b.Field<long long>(
        std::make_unique<ComboView>(channels), [](auto& f) -> auto& { return f.wav.channels; });
    QComboBox* bits = AddCombo("WAVBits", QStringLiteral("Sample width:"));
    AddChoice(bits, QStringLiteral("8 bits"), 8);
    AddChoice(bits, QStringLiteral("16 bits"), 16);
    b.Field<long long>(
        std::make_unique<ComboView>(bits), [](auto& f) -> auto& { return f.wav.bits; });
    FinishPage("ApplyNow_WAV");
}

} // namespace qm::ui
