#include "ui/SettingsPage.h"

#include <QCheckBox>
#include <QFormLayout>
#include <QGroupBox>
#include <QMessageBox>
#include <QVBoxLayout>

namespace qm::ui {

CSettingsPage::CSettingsPage(const QString& title, int helpTopicId, QWidget* parent)
    : QWidget(parent), m_title(title), m_helpTopicId(helpTopicId), m_column(new QVBoxLayout(this)) {
    m_column->setContentsMargins(0, 0, 0, 0);
}

QFormLayout* CSettingsPage::AddGroup(const QString& title, QGroupBox** group) {
    auto* box = new QGroupBox(title, this);
    auto* form = new QFormLayout(box);
    form->setFieldGrowthPolicy(QFormLayout::ExpandingFieldsGrow);
    m_column->addWidget(box);
    if (group != nullptr) {
        *group = box;
    }
    return form;
}

QCheckBox* CSettingsPage::AddCheck(const QString& text, QFormLayout* form) {
    auto* box = new QCheckBox(text, this);
    if (form != nullptr) {
        form->addRow(box);
    } else {
        m_column->addWidget(box);
    }
    return box;
}

void CSettingsPage::Warn(const QString& title, const QString& text) {
    QMessageBox::warning(this, title, text);
}

} // namespace qm::ui
