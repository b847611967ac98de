#include "ui/CuttingPage.h"

#include <QCheckBox>
#include <QDoubleSpinBox>
#include <QFormLayout>

#include "core/Trace.h"

namespace qm::ui {

namespace {

QDoubleSpinBox* SecondsBox(QWidget* parent, const char* name) {
    auto* spin = new QDoubleSpinBox(parent);
    spin->setObjectName(QString::fromLatin1(name));
    // Kept as "%.1lf": tenths of a second.
    spin->setDecimals(1);
    spin->setSingleStep(0.5);
    spin->setRange(0.0, CCuttingPage::kMaxSeconds);
    spin->setSuffix(QStringLiteral(" s"));
    return spin;
}

} // namespace

CCuttingPage::CCuttingPage(int helpTopicId, std::vector<TrackRecord*> tracks, QWidget* parent)
    : CSettingsPage(QStringLiteral("Cutting"), helpTopicId, parent), m_tracks(std::move(tracks)) {
    QM_TRACE("CuttingPage");
    auto& b = m_bindings;
    QFormLayout* form = AddGroup(QStringLiteral("Cut the track"));
    m_cut = AddCheck(QStringLiteral("Cut the track"), form);
    m_cut->setObjectName(QStringLiteral("CutFromTrack"));
    b.Field<bool>(
        std::make_unique<CheckView>(m_cut), [](auto& t) -> auto& { return t.cutFromTrack; });
    m_begin = SecondsBox(this, "CutFromBegin");
    form->addRow(QStringLiteral("Leave out at the start:"), m_begin);
    b.Field<double>(
        std::make_unique<DoubleSpinView>(m_begin), [](auto& t) -> auto& { return t.cutFromBegin; });
    m_end = SecondsBox(this, "CutFromEnd");
    form->addRow(QStringLiteral("Leave out at the end:"), m_end);
    b.Field<double>(
        std::make_unique<DoubleSpinView>(m_end), [](auto& t) -> auto& { return t.cutFromEnd; });
    m_first =
        AddCheck(QStringLiteral("Grab only the first seconds (instead of cutting the end)"), form);
    m_first->setObjectName(QStringLiteral("DoRipFirst"));
    b.Field<bool>(
        std::make_unique<CheckView>(m_first), [](auto& t) -> auto& { return t.doRipFirst; });
    m_firstSeconds = SecondsBox(this, "RipFirst");
    form->addRow(QStringLiteral("Seconds to grab:"), m_firstSeconds);
    b.Field<double>(
        std::make_unique<DoubleSpinView>(m_firstSeconds),
        [](auto& t) -> auto& { return t.ripFirst; });
    Column()->addStretch(1);

    connect(m_cut, &QCheckBox::stateChanged, this, &CCuttingPage::UpdateControls);
    connect(m_first, &QCheckBox::stateChanged, this, &CCuttingPage::UpdateControls);
    Load();
}

void CCuttingPage::UpdateControls() {
    // Partly checked (the tracks differ) keeps the values editable.
    const bool cut = m_cut->checkState() != Qt::Unchecked;
    const bool first = m_first->checkState() != Qt::Unchecked;
    m_begin->setEnabled(cut);
    m_first->setEnabled(cut);
    m_end->setEnabled(cut && m_first->checkState() != Qt::Checked);
    m_firstSeconds->setEnabled(cut && first);
}

void CCuttingPage::Load() {
    QM_TRACE("CuttingPage");
    m_bindings.Load(m_tracks);
    UpdateControls();
}

void CCuttingPage::Store() {
    QM_TRACE("CuttingPage");
    m_bindings.Store(m_tracks);
}

} // namespace qm::ui
