// Help and About: every help topic id opens its page (an unknown one the
// summary) from the help folder the program finds, and the About box names
// the program, its version and the Qt it runs on.
#include <fstream>

#include <QDesktopServices>
#include <QTest>
#include <QUrl>

#include "SettingsSupport.h"
#include "support/TempDir.h"
#include "ui/AboutDlg.h"
#include "ui/HelpFolder.h"
#include "ui/SettingsHelp.h"

using namespace qm::ui;

// Stands in for the desktop's browser: notes what it was asked to open.
class UrlCatcher : public QObject {
    Q_OBJECT

public:
    QList<QUrl> opened;

public slots:
    void open(const QUrl& url) { opened << url; }
};

class HelpTopicTest : public QObject {
    Q_OBJECT

private slots:
    void topicTableGivesThePages();
    void helpFolderOfTheBuildTreeIsTheSourceTree();
    void installedProgramFindsItsInstalledPages();
    void openingATopicOpensItsPage();
    void aboutNamesProgramVersionAndQt();
};

void HelpTopicTest::topicTableGivesThePages() {
    const char* const pages[] = {
        "summary.htm",         "summary.htm",           "mp3_settings.htm",
        "wma_settings.htm",    "ogg_settings.htm",      "track_format.htm",
        "id3tag_track.htm",    "general_settings.htm",  "output_settings.htm",
        "id3tag_settings.htm", "playlist_settings.htm", "cddb_settings.htm",
        "cutoff_settings.htm", "cutoff_track.htm",      "player_settings.htm",
        "ape_settings.htm"};
    for (int id = 0; id < 16; ++id) {
        QCOMPARE(HelpTopicFile(id), std::string(pages[id]));
    }
    QCOMPARE(HelpTopicFile(kHelpCddbSettings), std::string("cddb_settings.htm"));
    for (const int unknown : {16, 99, -1, 1 << 30}) {
        QCOMPARE(HelpTopicFile(unknown), std::string("summary.htm"));
    }
}

void HelpTopicTest::helpFolderOfTheBuildTreeIsTheSourceTree() {
    const std::filesystem::path folder = HelpFolder();
    QCOMPARE(std::filesystem::weakly_canonical(folder),
             std::filesystem::weakly_canonical(QM_SOURCE_DIR "/help"));
    for (int id = 0; id < 16; ++id) {
        QVERIFY2(std::filesystem::is_regular_file(folder / HelpTopicFile(id)),
                 HelpTopicFile(id).c_str());
    }
}

void HelpTopicTest::installedProgramFindsItsInstalledPages() {
    qmtest::TempDir prefix;
    const std::filesystem::path program = prefix.path() / "bin" / "quavermill";
    const std::filesystem::path pages = prefix.path() / "share" / "quavermill" / "help";
    QVERIFY(InstalledHelpFolder(program).empty());
    std::filesystem::create_directories(pages);
    QVERIFY(InstalledHelpFolder(program).empty());
    std::ofstream(pages / "summary.htm") << "<html></html>";
    QCOMPARE(InstalledHelpFolder(program), pages);
}

void HelpTopicTest::openingATopicOpensItsPage() {
    UrlCatcher browser;
    QDesktopServices::setUrlHandler(QStringLiteral("file"), &browser, "open");
    QVERIFY(OpenHelpTopic(99));
    QVERIFY(OpenHelpTopic(kHelpMp3Settings));
    QDesktopServices::unsetUrlHandler(QStringLiteral("file"));
    QCOMPARE(browser.opened.size(), 2);
    QVERIFY(browser.opened[0].isLocalFile());
    const std::filesystem::path summary = browser.opened[0].toLocalFile().toStdString();
    QCOMPARE(summary.filename().string(), std::string("summary.htm"));
    QVERIFY(std::filesystem::is_regular_file(summary));
    QCOMPARE(std::filesystem::path(browser.opened[1].toLocalFile().toStdString()).filename(),
             std::filesystem::path("mp3_settings.htm"));
}

void HelpTopicTest::aboutNamesProgramVersionAndQt() {
    const QString text = AboutText();
    QVERIFY2(text.contains(QStringLiteral("Quavermill 0.")), qPrintable(text));
    QVERIFY(text.contains(QString::fromLatin1(qVersion())));
    qmtest::settingsui::MessageCatcher boxes;
    ShowAboutDialog(nullptr);
    QCOMPARE(boxes.Messages().size(), std::size_t{1});
    QCOMPARE(boxes.Messages()[0].title, QStringLiteral("About Quavermill"));
}

QTEST_MAIN(HelpTopicTest)
#include "HelpTopicTest.moc"
