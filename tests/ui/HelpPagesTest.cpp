// The help pages in help/: one for every topic the program opens, each a
// well-formed page with a title and the shared style, and no link that leads
// nowhere; every settings page names a topic that has its page.
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSet>
#include <QTest>
#include <QXmlStreamReader>

#include "SettingsSupport.h"
#include "ui/SettingsPage.h"
#include "ui/SettingsSheet.h"
#include "ui/TrackPropertiesSheet.h"

using namespace qm::ui;

namespace {

// The program's help topics by help topic id: 0 and 1 and any other id
// open "summary".
const char* const kTopics[] = {
    "summary",         "summary",         "mp3_settings",      "wma_settings",
    "ogg_settings",    "track_format",    "id3tag_track",      "general_settings",
    "output_settings", "id3tag_settings", "playlist_settings", "cddb_settings",
    "cutoff_settings", "cutoff_track",    "player_settings",   "ape_settings"};

QDir HelpFolder() {
    return QDir(QStringLiteral(QM_SOURCE_DIR "/help"));
}

struct Page {
    QString title;
    QStringList stylesheets;
    QStringList links;
    QString error;
};

Page Read(const QString& path) {
    Page page;
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) {
        page.error = QStringLiteral("cannot be read");
        return page;
    }
    QXmlStreamReader xml(&file);
    while (!xml.atEnd()) {
        if (xml.readNext() != QXmlStreamReader::StartElement) {
            continue;
        }
        const auto attributes = xml.attributes();
        if (xml.name() == QLatin1String("title")) {
            page.title = xml.readElementText().trimmed();
        } else if (xml.name() == QLatin1String("link") &&
                   attributes.value(QLatin1String("rel")) == QLatin1String("stylesheet")) {
            page.stylesheets << attributes.value(QLatin1String("href")).toString();
        } else if (xml.name() == QLatin1String("a")) {
            page.links << attributes.value(QLatin1String("href")).toString();
        }
    }
    if (xml.hasError()) {
        page.error = QStringLiteral("line %1: %2").arg(xml.lineNumber()).arg(xml.errorString());
    }
    return page;
}

} // namespace

class HelpPagesTest : public QObject {
    Q_OBJECT

private slots:
    void everyTopicHasItsPage();
    void pagesAreWellFormedAndLinked();
    void indexListsEveryTopic();
    void everySettingsPageNamesATopic();
};

void HelpPagesTest::everyTopicHasItsPage() {
    for (const char* topic : kTopics) {
        const QString file = HelpFolder().filePath(QString::fromLatin1(topic) + ".htm");
        QVERIFY2(QFileInfo(file).isFile(), qPrintable(file));
    }
}

void HelpPagesTest::pagesAreWellFormedAndLinked() {
    const QStringList pages = HelpFolder().entryList({QStringLiteral("*.htm")}, QDir::Files);
    QVERIFY(pages.size() >= 16);
    for (const QString& name : pages) {
        const Page page = Read(HelpFolder().filePath(name));
        QVERIFY2(page.error.isEmpty(), qPrintable(name + ": " + page.error));
        QVERIFY2(!page.title.isEmpty(), qPrintable(name));
        QVERIFY2(page.stylesheets == QStringList{QStringLiteral("help.css")}, qPrintable(name));
        for (const QString& link : page.links) {
            const QString target = link.section(QLatin1Char('#'), 0, 0);
            QVERIFY2(!link.contains(QLatin1String("://")), qPrintable(name + " -> " + link));
            QVERIFY2(target.isEmpty() || HelpFolder().exists(target),
                     qPrintable(name + " -> " + link));
        }
    }
    QVERIFY(HelpFolder().exists(QStringLiteral("help.css")));
}

void HelpPagesTest::indexListsEveryTopic() {
    const Page index = Read(HelpFolder().filePath(QStringLiteral("index.htm")));
    QVERIFY(index.error.isEmpty());
    const QSet<QString> linked(index.links.begin(), index.links.end());
    for (const char* topic : kTopics) {
        QVERIFY2(linked.contains(QString::fromLatin1(topic) + ".htm"), topic);
    }
}

void HelpPagesTest::everySettingsPageNamesATopic() {
    qmtest::settingsui::SettingsFile file;
    QuavermillSettings settings;
    std::vector<TrackRecord> tracks(2);
    const auto sheet = MakeSettingsSheet(nullptr, settings);
    const auto properties = MakeTrackProperties(nullptr, {&tracks[0], &tracks[1]});
    QSet<int> used;
    for (const CSettingsSheet* shown : {sheet.get(), properties.get()}) {
        for (int i = 0; i < shown->PageCount(); ++i) {
            const int id = shown->Page(i)->HelpTopicId();
            QVERIFY2(id >= 0 && id < static_cast<int>(std::size(kTopics)),
                     qPrintable(shown->Page(i)->Title()));
            used.insert(id);
        }
    }
    // Every topic but the summary belongs to a page.
    for (int id = 2; id < static_cast<int>(std::size(kTopics)); ++id) {
        QVERIFY2(used.contains(id), kTopics[id]);
    }
}

QTEST_MAIN(HelpPagesTest)
#include "HelpPagesTest.moc"
