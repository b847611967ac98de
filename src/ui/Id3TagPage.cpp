#include "ui/Id3TagPage.h"

#include <QCheckBox>
#include <QComboBox>
#include <QFormLayout>
#include <QLineEdit>

#include "core/GenreTable.h"
#include "core/Trace.h"

namespace qm::ui {

namespace {

QString FieldLabel(const char* field) {
    return QString::fromLatin1(field) + QLatin1Char(':');
}

} // namespace

CId3TagPage::Content CId3TagPage::DefaultTrackSwitches() {
    return {true, {}};
}

CId3TagPage::Content CId3TagPage::DefaultTrackTag() {
    return {false, {"Comment", "URL", "Copyright"}};
}

CId3TagPage::Content CId3TagPage::TrackTag() {
    return {true,
            {"Title", "Artist", "Album", "Year", "Genre", "Track", "Comment", "Copyright", "URL"}};
}

CId3TagPage::CId3TagPage(const QString& title, int helpTopicId, const Content& content,
                         std::vector<TrackRecord*> tracks, QWidget* parent)
    : CSettingsPage(title, helpTopicId, parent), m_tracks(std::move(tracks)) {
    QM_TRACE("Id3TagPage");
    auto& b = m_bindings;
    if (content.switches) {
        QFormLayout* form = AddGroup(QStringLiteral("Tag"));
        const auto check = [&](const char* name, const char* text, auto member) {
            QCheckBox* box = AddCheck(QString::fromUtf8(text), form);
            box->setObjectName(QString::fromLatin1(name));
            b.Field<bool>(std::make_unique<CheckView>(box), member);
        };
        check(
            "EnableTag", "Write a tag into the file", [](auto& t) -> auto& { return t.enableTag; });
        check(
            "UseCustomTag",
            "Use the track's own artist, album, year and genre, "
            "not the disc's",
            [](auto& t) -> auto& { return t.useCustomTag; });
        check(
            "UseAdditionalTag", "Write the comment, copyright and URL",
            [](auto& t) -> auto& { return t.useAdditionalTag; });
    }
    if (!content.fields.empty()) {
        QFormLayout* form = AddGroup(QStringLiteral("Fields"));
        for (const char* field : content.fields) {
            QLineEdit* line = nullptr;
            if (std::string_view(field) == "Genre") {
                auto* genre = new QComboBox(this);
                genre->setObjectName(QStringLiteral("Genre"));
                genre->setEditable(true);
                genre->setInsertPolicy(QComboBox::NoInsert);
                for (int i = 0; i < kNoGenre; ++i) {
                    genre->addItem(QString::fromLatin1(GenreTable[static_cast<std::size_t>(i)]));
                }
                form->addRow(FieldLabel(field), genre);
                line = genre->lineEdit();
            } else {
                line = new QLineEdit(this);
                form->addRow(FieldLabel(field), line);
            }
            line->setObjectName(QString::fromLatin1(field));
            const std::string name = field;
            b.Bind<std::string>(
                std::make_unique<TextView>(line),
                [name](const TrackRecord& track) { return track.tag.GetTag(name); },
                [name](TrackRecord& track, const std::string& value) {
                    // An emptied field goes, whatever source it came from.
                    if (value.empty()) {
                        track.tag.RemoveTag(name, 0);
                    } else {
                        track.tag.SetTag(name, value, 0);
                    }
                });
        }
    }
    Column()->addStretch(1);
    Load();
}

void CId3TagPage::Load() {
    QM_TRACE("Id3TagPage");
    m_bindings.Load(m_tracks);
}

void CId3TagPage::Store() {
    QM_TRACE("Id3TagPage");
    m_bindings.Store(m_tracks);
}

} // namespace qm::ui
