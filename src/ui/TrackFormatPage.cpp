#include "ui/TrackFormatPage.h"

#include <QComboBox>

#include "ui/SettingsHelp.h"

namespace qm::ui {

CTrackFormatPage::CTrackFormatPage(FormatPageTargets targets, QWidget* parent)
    : CFormatPage(QStringLiteral("Format"), kHelpTrackFormat, std::move(targets), parent) {
    QComboBox* format = AddCombo("Format", QStringLiteral("Output format:"));
    AddFormatChoices(format);
    Bindings().Bind<long long>(
        std::make_unique<ComboView>(format),
        [](const FormatSettings& f) { return static_cast<long long>(f.format); },
        [](FormatSettings& f, const long long& value) {
            f.format = static_cast<OutputFormat>(value);
        });
    FinishPage("ApplyNow_Format");
}

} // namespace qm::ui
