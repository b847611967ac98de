// Helpers of the settings sheet tests: a settings store of their own, a
// hand that answers message boxes, and setting a page's named widgets as a
// user would.
#pragma once

#include <filesystem>
#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

#include <QObject>
#include <QString>
#include <QTimer>
#include <QWidget>

#include "settings/Settings.h"
#include "support/TempDir.h"

namespace qm::ui {
class CSettingsSheet;
} // namespace qm::ui

namespace qmtest::settingsui {

// Points the settings store at a file in a fresh folder for the life of the
// object.
class SettingsFile {
public:
    SettingsFile();
    ~SettingsFile();
    SettingsFile(const SettingsFile&) = delete;
    SettingsFile& operator=(const SettingsFile&) = delete;

    const std::filesystem::path& Path() const { return m_path; }
    bool Exists() const;
    // A value as the store holds it, if it does.
    std::optional<std::string> Value(const char* name) const;

private:
    TempDir m_dir;
    std::filesystem::path m_path;
};

// What a fresh start reads from the store.
QuavermillSettings Reload(int driveCount);
ApplyNowSettings ReloadApplyNow();

// Answers every message box shown while it lives: notes its title and text
// and presses OK.
class MessageCatcher : public QObject {
    Q_OBJECT

public:
    MessageCatcher();

    struct Message {
        QString title;
        QString text;
    };
    const std::vector<Message>& Messages() const { return m_messages; }
    void Clear() { m_messages.clear(); }

private:
    void Look();

    QTimer m_timer;
    std::vector<Message> m_messages;
};

// A named widget below `root`; throws when there is none.
template <class W> W* Find(QWidget* root, const char* name) {
    W* widget = root->findChild<W*>(QString::fromLatin1(name));
    if (widget == nullptr) {
        throw std::runtime_error(std::string("no widget named ") + name);
    }
    return widget;
}

void SetCheck(QWidget* root, const char* name, bool on);
// Chooses the item of a combo that carries `value`.
void Choose(QWidget* root, const char* name, long long value);
// Replaces a line's text by typing (selecting all first).
void Type(QWidget* root, const char* name, const QString& text);
void SetSpin(QWidget* root, const char* name, double value);
void Click(QWidget* root, const char* name);

// Shows page `index` of the sheet as choosing it in the page list does;
// throws when the page shown refuses to be left.
QWidget* ShowAt(qm::ui::CSettingsSheet* sheet, int index);
void PressOk(qm::ui::CSettingsSheet* sheet);

} // namespace qmtest::settingsui
