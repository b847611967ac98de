#include "ui/FormatPage.h"

#include <QCheckBox>
#include <QComboBox>
#include <QFormLayout>

#include "core/Trace.h"

namespace qm::ui {

std::vector<FormatSettings*> FormatsOf(const std::vector<TrackRecord*>& tracks) {
    std::vector<FormatSettings*> formats;
    formats.reserve(tracks.size());
    for (TrackRecord* track : tracks) {
        formats.push_back(&track->format);
    }
    return formats;
}

CFormatPage::CFormatPage(const QString& title, int helpTopicId, FormatPageTargets targets,
                         QWidget* parent)
    : CSettingsPage(title, helpTopicId, parent), m_targets(std::move(targets)),
      m_fields(AddGroup(title)) {}

QComboBox* CFormatPage::AddCombo(const char* name, const QString& label) {
    auto* combo = new QComboBox(this);
    combo->setObjectName(QString::fromLatin1(name));
    m_fields->addRow(label, combo);
    return combo;
}

void CFormatPage::FinishPage(const char* applyNowName) {
    if (m_targets.applyNow != nullptr) {
        m_applyNow = AddCheck(QStringLiteral("Apply changes to all tracks"));
        m_applyNow->setObjectName(QString::fromLatin1(applyNowName));
    }
    Column()->addStretch(1);
    Load();
}

void CFormatPage::Load() {
    QM_TRACE("FormatPage");
    m_bindings.Load(m_targets.formats);
    if (m_applyNow != nullptr && m_targets.applyNow != nullptr) {
        m_applyNow->setChecked(*m_targets.applyNow);
    }
    UpdateControls();
}

void CFormatPage::Store() {
    QM_TRACE("FormatPage");
    m_bindings.Store(m_targets.formats);
    if (m_applyNow != nullptr && m_targets.applyNow != nullptr) {
        *m_targets.applyNow = m_applyNow->isChecked();
        if (*m_targets.applyNow) {
            // Only what was changed here: each track keeps the rest.
            m_bindings.Store(m_targets.allTracks);
        }
    }
}

} // namespace qm::ui
