#include "ui/ApePage.h"

#include <QComboBox>

#include "ui/SettingsHelp.h"

namespace qm::ui {

CApePage::CApePage(FormatPageTargets targets, QWidget* parent)
    : CFormatPage(QStringLiteral("APE"), kHelpApeSettings, std::move(targets), parent) {
    auto& b = Bindings();
    QComboBox* level = AddCombo("APECompressionLevel", QStringLiteral("Compression:"));
    int value = 0;
    for (const char* name : {"Fast", "Normal", "High", "Extra high", "Insane"}) {
        AddChoice(level, QString::fromLatin1(name), value++);
    }
    b.Field<long long>(
        std::make_unique<ComboView>(level),
        [](auto& f) -> auto& { return f.ape.compressionLevel; });
    QComboBox* rate = AddCombo("APESamplerate", QStringLiteral("Sample rate:"));
    AddSampleRates(rate);
    b.Field<long long>(
        std::make_unique<ComboView>(rate), [](auto& f) -> auto& { return f.ape.sampleRate; });
    QComboBox* channels = AddCombo("APEChannels", QStringLiteral("Channels:"));
    AddChannels(channels);
    b.Field<long long>(
        std::make_unique<ComboView>(channels), [](auto& f) -> auto& { return f.ape.channels; });
    FinishPage("ApplyNow_APE");
}

} // namespace qm::ui
