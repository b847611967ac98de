// One page of the "Settings" sheet or of "Properties of track(s)": it shows
// the values of the records it was given, checks what the user typed when
// the page is left, and writes the changed values back when the sheet is
// confirmed (OK or Apply). Nothing is written before that, so Cancel leaves
// every record as it was.
#pragma once

#include <QString>
#include <QWidget>

class QBoxLayout;
class QCheckBox;
class QFormLayout;
class QGroupBox;

namespace qm::ui {

class CSettingsPage : public QWidget {
    Q_OBJECT

public:
    // `helpTopicId` is the application's help topic id of the page.
    CSettingsPage(const QString& title, int helpTopicId, QWidget* parent = nullptr);

    const QString& Title() const { return m_title; }
    int HelpTopicId() const { return m_helpTopicId; }

    // Shows the records' values (again, after an Apply).
    virtual void Load() = 0;
    // Checks the typed values when the page is left or the sheet confirmed;
    // on a fault it tells the user and answers false, and the page stays.
    virtual bool Validate() { return true; }
    // Writes the changed values into the records.
    virtual void Store() = 0;

protected:
    // The page's column of groups.
    QBoxLayout* Column() const { return m_column; }
    // A titled group with a form inside, added to the column.
    QFormLayout* AddGroup(const QString& title, QGroupBox** group = nullptr);
    // A check box added as a row of `form`, or to the column.
    QCheckBox* AddCheck(const QString& text, QFormLayout* form = nullptr);
    // A warning box over the page.
    void Warn(const QString& title, const QString& text);

private:
    QString m_title;
    int m_helpTopicId;
    QBoxLayout* m_column;
};

} // namespace qm::ui
