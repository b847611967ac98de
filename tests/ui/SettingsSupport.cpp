#include "SettingsSupport.h"

#include <stdexcept>

#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QDialogButtonBox>
#include <QDoubleSpinBox>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>
#include <QSpinBox>
#include <QTest>

#include "platform/SettingsStore.h"
#include "ui/SettingsPage.h"
#include "ui/SettingsSheet.h"

namespace qmtest::settingsui {

SettingsFile::SettingsFile() : m_path(m_dir / "Quavermill.conf") {
    qm::SetSettingsPath(m_path);
}

SettingsFile::~SettingsFile() {
    qm::SetSettingsPath({});
}

bool SettingsFile::Exists() const {
    return std::filesystem::exists(m_path);
}

std::optional<std::string> SettingsFile::Value(const char* name) const {
    const auto store = qm::OpenSettingsStore(m_path, qm::StoreOpen::Existing);
    if (!store) {
        return std::nullopt;
    }
    return store->ReadString(name);
}

QuavermillSettings Reload(int driveCount) {
    QuavermillSettings settings;
    settings.drive.driveCount = driveCount;
    LoadSettings(settings);
    return settings;
}

ApplyNowSettings ReloadApplyNow() {
    ApplyNowSettings values;
    ReadSettingsStore([&](const qm::SettingsStore& store) { LoadApplyNow(values, store); });
    return values;
}

MessageCatcher::MessageCatcher() {
    connect(&m_timer, &QTimer::timeout, this, &MessageCatcher::Look);
    m_timer.start(10);
}

void MessageCatcher::Look() {
    auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
    if (box == nullptr) {
        return;
    }
    m_messages.push_back({box->windowTitle(), box->text()});
    if (QAbstractButton* ok = box->button(QMessageBox::Ok)) {
        ok->click();
    } else {
        box->reject();
    }
}

void SetCheck(QWidget* root, const char* name, bool on) {
    Find<QCheckBox>(root, name)->setCheckState(on ? Qt::Checked : Qt::Unchecked);
}

void Choose(QWidget* root, const char* name, long long value) {
    auto* combo = Find<QComboBox>(root, name);
    const int index = combo->findData(QVariant(value));
    if (index < 0) {
        throw std::runtime_error(std::string("no such choice in ") + name);
    }
    combo->setCurrentIndex(index);
}

void Type(QWidget* root, const char* name, const QString& text) {
    auto* line = Find<QLineEdit>(root, name);
    line->selectAll();
    QTest::keyClick(line, Qt::Key_Delete);
    QTest::keyClicks(line, text);
}

void SetSpin(QWidget* root, const char* name, double value) {
    if (auto* spin = root->findChild<QDoubleSpinBox*>(QString::fromLatin1(name))) {
        spin->setValue(value);
        return;
    }
    Find<QSpinBox>(root, name)->setValue(static_cast<int>(value));
}

void Click(QWidget* root, const char* name) {
    Find<QPushButton>(root, name)->click();
}

QWidget* ShowAt(qm::ui::CSettingsSheet* sheet, int index) {
    if (!sheet->ShowPage(index)) {
        throw std::runtime_error("the page shown refused to be left");
    }
    return sheet->Page(index);
}

void PressOk(qm::ui::CSettingsSheet* sheet) {
    sheet->findChild<QDialogButtonBox*>()->button(QDialogButtonBox::Ok)->click();
}

} // namespace qmtest::settingsui
