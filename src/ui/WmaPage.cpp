#include "ui/WmaPage.h"

#include <QCheckBox>
#include <QComboBox>
#include <QFormLayout>
#include <QStandardItemModel>

#include "jobs/WmaAvailability.h"
#include "settings/WmaConfigurationTable.h"
#include "ui/SettingsHelp.h"

namespace qm::ui {

QString CWmaPage::ConfigurationLabel(int index) {
    if (index < 0 || index >= kWmaConfigurationCount) {
        return QStringLiteral("Configuration %1").arg(index);
    }
    const WmaConfiguration& row = WmaConfigurationTable[static_cast<std::size_t>(index)];
    QString rate;
    if (!row.vbr) {
        rate = QStringLiteral("%1 kbps").arg(row.bitrate / 1000);
    } else if (row.passes > 1) {
        rate = QStringLiteral("%1 kbps VBR (2 passes)").arg(row.bitrate / 1000);
    } else {
        rate = QStringLiteral("VBR quality %1").arg(row.bitrate);
    }
    QString label = QStringLiteral("%1, %2 Hz, %3")
                        .arg(rate)
                        .arg(row.sampleRate)
                        .arg(row.channels == 1 ? QStringLiteral("mono") : QStringLiteral("stereo"));
    if (!IsWmaConfigurationAvailable(index)) {
        label += QString::fromLatin1(kUnavailable);
    }
    return label;
}

CWmaPage::CWmaPage(FormatPageTargets targets, QWidget* parent)
    : CFormatPage(QStringLiteral("WMA"), kHelpWmaSettings, std::move(targets), parent) {
    auto& b = Bindings();
    m_lossless = AddCheck(IsWmaLosslessAvailable()
                              ? QStringLiteral("Lossless")
                              : QStringLiteral("Lossless") + QString::fromLatin1(kUnavailable),
                          Fields());
    m_lossless->setObjectName(QStringLiteral("WMALoseless"));
    b.Field<bool>(
        std::make_unique<CheckView>(m_lossless), [](auto& f) -> auto& { return f.wma.lossless; });

    m_configuration = AddCombo("WMAConfiguration", QStringLiteral("Configuration:"));
    auto* model = qobject_cast<QStandardItemModel*>(m_configuration->model());
    for (int i = 0; i < kWmaConfigurationCount; ++i) {
        AddChoice(m_configuration, ConfigurationLabel(i), i);
        if (!IsWmaConfigurationAvailable(i)) {
            // Shown, so a stored one is recognised, but not to be chosen:
            // every grab with it would fail.
            model->item(m_configuration->count() - 1)->setEnabled(false);
        }
    }
    m_configuration->setMaxVisibleItems(20);
    b.Field<long long>(
        std::make_unique<ComboView>(
            m_configuration,
            [](long long index) { return ConfigurationLabel(static_cast<int>(index)); }),
        [](auto& f) -> auto& { return f.wma.configuration; });
    connect(m_lossless, &QCheckBox::stateChanged, this, &CWmaPage::UpdateControls);
    FinishPage("ApplyNow_WMA");
}

void CWmaPage::UpdateControls() {
    m_configuration->setEnabled(m_lossless->checkState() != Qt::Checked);
    // An unavailable lossless can only be switched off.
    if (!IsWmaLosslessAvailable()) {
        m_lossless->setEnabled(m_lossless->checkState() != Qt::Unchecked);
    }
}

} // namespace qm::ui
