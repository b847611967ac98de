#include "ui/MainFrame.h"

#include <cstdio>
#include <cstdlib>

#include <QAction>
#include <QApplication>
#include <QCheckBox>
#include <QCloseEvent>
#include <QComboBox>
#include <QFileDialog>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QIntValidator>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QMenuBar>
#include <QMessageBox>
#include <QPixmap>
#include <QProgressBar>
#include <QPushButton>
#include <QSlider>
#include <QStyle>
#include <QTimer>
#include <QToolBar>
#include <QVBoxLayout>

#include "core/Diagnostics.h"
#include "core/GenreTable.h"
#include "core/Text.h"
#include "core/Trace.h"
#include "disc/CdAccess.h"
#include "disc/DriveList.h"
#include "jobs/Data.h"
#include "jobs/DriveChoice.h"
#include "ui/CddbLookup.h"
#include "ui/CddbServersListDlg.h"
#include "ui/DriveInfoDlg.h"
#include "ui/InstanceChecker.h"
#include "ui/LogDlg.h"
#include "ui/MainFrameCommands.h"
#include "ui/QuavermillApp.h"
#include "ui/RipAlbumDlg.h"
#include "ui/SettingsHelp.h"
#include "ui/TrackPropertiesSheet.h"
#include "ui/TracksWnd.h"

namespace qm::ui {

using namespace mainframe;

namespace {

QString ToQt(const std::string& text) {
    return QString::fromStdString(text);
}

} // namespace

CMainFrame::CMainFrame(CQuavermillApp& app, QWidget* parent)
    : QMainWindow(parent), m_app(app), m_data(app.Data()) {
    QM_TRACE_AS("CMainFrame", "MainFrm");
    setObjectName(QStringLiteral("MainFrame"));
    UpdateWindowTitle();
}

CMainFrame::~CMainFrame() {
    QM_TRACE_AS("~CMainFrame", "MainFrm");
    m_drivePoll.stop();
    m_playerTimer.stop();
    // The children go after this object has stopped being the frame: a
    // field losing the focus on the way must not call into it.
    for (QObject* child : findChildren<QObject*>()) {
        QObject::disconnect(child, nullptr, this, nullptr);
    }
}

bool CMainFrame::Create() {
    QM_TRACE("MainFrm");
    QuavermillSettings& settings = m_data.Settings();
    CreateActions();
    CreateMenus();
    CreateToolBars();
    auto* client = new QWidget(this);
    auto* layout = new QVBoxLayout(client);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(2);
    setCentralWidget(client);
    CreateInfoBar();
    m_tracks = new CTracksWnd(m_data, this, client);
    layout->addWidget(m_tracks, 1);
    CreateFormatBar();
    ShowOutputFolder();

    const WindowRect& rect = settings.window.MainFrameRect;
    if (rect.right > rect.left && rect.bottom > rect.top) {
        setGeometry(rect.left, rect.top, rect.right - rect.left, rect.bottom - rect.top);
    } else {
        resize(960, 600);
    }

    CCDRipper& ripper = m_data.Ripper();
    const std::int32_t count = ripper.GetCDNumber();
    if (count == 0) {
        std::fprintf(stderr, "quavermill: %s\n", kNoDriveMessage);
        QMessageBox box(QMessageBox::Critical, QStringLiteral("General error"),
                        QString::fromLatin1(kNoDriveMessage), QMessageBox::Ok, this);
        if (std::getenv(CQuavermillApp::kAutoCloseVariable) != nullptr) {
            QTimer::singleShot(0, &box, &QMessageBox::accept);
        }
        box.exec();
        QM_RETURN(0, false);
    }
    std::int32_t index = ChooseDrive(ripper, settings, m_app.GetDeviceIndex());
    if (index < 0 || index >= count) {
        index = 0;
    }
    settings.drive.CDDrive = index;
    FillDriveCombo();

    // A later instance finds the block and simply runs as well.
    m_instanceChecker = std::make_unique<CInstanceChecker>();
    if (!m_instanceChecker->PreviousInstanceRunning()) {
        m_instanceChecker->TrackFirstInstanceRunning(static_cast<std::uint64_t>(winId()));
    }

    SelectDrive(index);
    connect(&m_drivePoll, &QTimer::timeout, this, &CMainFrame::OnDeviceChange);
    m_drivePoll.start(kDrivePollMs);
    EnableControls(true);
    QM_RETURN(1, true);
}

void CMainFrame::FillDriveCombo() {
    QM_TRACE("MainFrm");
    m_drive->clear();
    int index = 0;
    for (const qm::DriveEntry& entry : qm::DriveList::Instance().Drives()) {
        m_drive->addItem(ToQt(qm::Format("%d: %s", index, entry.drive->Identity().c_str())));
        ++index;
    }
    m_drive->setCurrentIndex(m_data.Settings().drive.CDDrive);
}

void CMainFrame::SelectDrive(int index) {
    QM_TRACE("MainFrm");
    QuavermillSettings& settings = m_data.Settings();
    CCDRipper& ripper = m_data.Ripper();
    if (!AttachChosenDrive(ripper, settings, index)) {
        std::fprintf(stderr, "quavermill: cannot open drive %d\n", index);
    }
    m_drive->setCurrentIndex(index);
    OnRefresh();
}

// --- the track list's window side -------------------------------------------

void CMainFrame::SetMainProgressRange(int maximum) {
    QM_TRACE("MainFrm");
    m_progress->setRange(0, std::max(maximum, 1));
    m_progress->setValue(0);
}

void CMainFrame::SetMainProgress(int position) {
    QM_TRACE("MainFrm");
    m_progress->setValue(position);
}

void CMainFrame::SetSpeedText(const std::string& text) {
    QM_TRACE("MainFrm");
    m_speed->setText(ToQt(text));
}

void CMainFrame::EnableControls(bool enable) {
    QM_TRACE("MainFrm");
    const bool haveDisc = m_tracks != nullptr && m_tracks->TrackList().HasDisc();
    for (QWidget* field : {static_cast<QWidget*>(m_artist), static_cast<QWidget*>(m_album),
                           static_cast<QWidget*>(m_writeTrackNumber),
                           static_cast<QWidget*>(m_genre), static_cast<QWidget*>(m_year)}) {
        field->setEnabled(enable && haveDisc);
    }
    m_drive->setEnabled(enable);
    m_format->setEnabled(enable);
    m_outputFolder->setEnabled(enable);
    m_browse->setEnabled(enable);
    m_playerBar->setEnabled(enable);
    m_outputFolder->setVisible(enable);
    m_browse->setVisible(enable);
    m_progress->setVisible(!enable);
    m_speed->setVisible(!enable);
    m_outputGroup->setTitle(enable ? QStringLiteral("Output folder")
                                   : QStringLiteral("Process progress"));
    Action(ID_GRAB)->setEnabled(enable);
    Action(ID_STOP)->setEnabled(!enable);
    Action(ID_TRACK_SETTINGS)->setEnabled(enable);
    Action(ID_SETTINGS)->setEnabled(enable);
    for (const SettingsEntry& entry : kSettingsEntries) {
        Action(entry.id)->setEnabled(enable);
    }
    for (const int id : kIdleOnly) {
        Action(id)->setEnabled(enable);
    }
    if (enable) {
        m_stopRequested = false;
        if (m_closeWhenIdle) {
            m_closeWhenIdle = false;
            QMetaObject::invokeMethod(this, &CMainFrame::close, Qt::QueuedConnection);
        }
    }
}

InfoBarValues CMainFrame::GetInfoBar() const {
    QM_TRACE("MainFrm");
    InfoBarValues values;
    values.artist = m_artist->text().toStdString();
    values.album = m_album->text().toStdString();
    values.year = m_year->text().toStdString();
    values.genre = m_genre->currentText().trimmed().toStdString();
    values.writeTrackNumber = m_writeTrackNumber->isChecked();
    QM_RETURN(0, values);
}

void CMainFrame::SetInfoBar(const InfoBarValues& values) {
    QM_TRACE("MainFrm");
    m_artist->setText(ToQt(values.artist));
    m_album->setText(ToQt(values.album));
    m_year->setText(ToQt(values.year));
    const int genre = GetGenreNumber(values.genre);
    if (genre >= 0) {
        m_genre->setCurrentIndex(genre);
    } else if (values.genre.empty()) {
        m_genre->setCurrentIndex(m_genre->count() - 1);
    } else {
        m_genre->setCurrentIndex(-1);
        m_genre->setCurrentText(ToQt(values.genre));
    }
    m_writeTrackNumber->setChecked(values.writeTrackNumber);
    // The front cover a look-up brought, while the tracks carry it.
    QPixmap cover;
    for (const TrackRecord& record : m_data.Tracks()) {
        if (record.tag.HasPicture()) {
            const std::string& bytes = record.tag.GetPictureData();
            cover.loadFromData(reinterpret_cast<const uchar*>(bytes.data()),
                               static_cast<uint>(bytes.size()));
            break;
        }
    }
    m_cover->setPixmap(cover);
    m_cover->setVisible(!cover.isNull());
}

void CMainFrame::SyncFormatCombo(bool haveDisc, std::optional<OutputFormat> format) {
    QM_TRACE("MainFrm");
    m_syncing = true;
    const bool idle = !m_data.IsProcessing();
    for (QWidget* field : {static_cast<QWidget*>(m_artist), static_cast<QWidget*>(m_album),
                           static_cast<QWidget*>(m_writeTrackNumber),
                           static_cast<QWidget*>(m_genre), static_cast<QWidget*>(m_year)}) {
        field->setEnabled(haveDisc && idle);
    }
    if (!haveDisc) {
        m_format->clear();
        m_format->addItem(QStringLiteral(" "), kBlankFormat);
        m_format->setCurrentIndex(0);
        m_syncing = false;
        QM_RETURN(0);
    }
    for (int value = 0; value < kFormatCount; ++value) {
        if (m_format->findData(value) < 0) {
            m_format->addItem(QString::fromLatin1(kFormatNames[value]), value);
        }
    }
    const int blank = m_format->findData(kBlankFormat);
    if (format) {
        if (blank >= 0) {
            m_format->removeItem(blank);
        }
        m_format->setCurrentIndex(m_format->findData(static_cast<int>(*format)));
    } else {
        if (blank < 0) {
            m_format->insertItem(0, QStringLiteral(" "), kBlankFormat);
        }
        m_format->setCurrentIndex(0);
    }
    m_syncing = false;
    QM_EXIT(1);
}

void CMainFrame::SetMixedCDMenuText(bool mixedOn) {
    QM_TRACE("MainFrm");
    if (QAction* action = Action(ID_MIXED_CD)) {
        action->setText(mixedOn ? QStringLiteral("Disable &mixed CD mode")
                                : QStringLiteral("Enable &mixed CD mode"));
    }
}

void CMainFrame::ShowTracksMenu(const QPoint& globalPos) {
    QM_TRACE("MainFrm");
    m_tracksMenu->popup(globalPos);
}

void CMainFrame::UpdateWindowTitle() {
    QM_TRACE("MainFrm");
    setWindowTitle(
        ToQt(qm::Format("%s%s", kProductTitle, m_data.IsMultiDisc() ? kMultiDiscTitle : "")));
}

void CMainFrame::RunTracksCommand(TracksCommand command) {
    QM_TRACE("MainFrm");
    switch (command) {
    case TracksCommand::kMarkAll:
        m_tracks->TrackList().MarkAll();
        break;
    case TracksCommand::kGetCDDBInfo:
        OnGetCDDBInfo();
        break;
    case TracksCommand::kToggleMixedCD:
        OnMixedCD();
        break;
    }
}

void CMainFrame::SyncPlayerSlider() {
    QM_TRACE("MainFrm");
    // While a track plays, the slider follows the player.
    if (m_data.IsPlaying()) {
        QM_RETURN(2);
    }
    CTrackList& list = m_tracks->TrackList();
    const std::vector<int> rows = m_tracks->SelectedRows();
    if (rows.empty() || !list.HasDisc() || list.IsDataRow(rows.front())) {
        const QSignalBlocker block(m_slider);
        m_slider->setRange(0, 0);
        m_timeDisplay->setText(QStringLiteral("(--:--)"));
        QM_RETURN(0);
    }
    const std::int32_t seconds =
        m_data.Ripper().GetTrackLength(list.GetFirstTrack() + rows.front(), false);
    {
        const QSignalBlocker block(m_slider);
        m_slider->setRange(0, std::max(seconds, 0));
    }
    const int at = m_slider->value();
    const std::string shown = qm::Format("(%02d:%02d)", at / 60, at % 60);
    // Texts longer than the display are not shown.
    if (shown.size() <= 8) {
        m_timeDisplay->setText(ToQt(shown));
    }
    QM_EXIT(1);
}

// --- commands ------------------------------------------------------------------

bool CMainFrame::OutputFolderGiven() {
    QM_TRACE("MainFrm");
    if (!m_data.Settings().naming.OutputFolder.empty()) {
        QM_RETURN(0, true);
    }
    QMessageBox::warning(this, QStringLiteral("Warning"),
                         QStringLiteral("Output folder is not specified! Please do it now."));
    QM_RETURN(1, false);
}

void CMainFrame::StartGrab() {
    QM_TRACE("MainFrm");
    // Names typed but not yet left belong to this grab.
    m_tracks->Job().StartProcess();
}

void CMainFrame::OnGrab() {
    QM_TRACE("MainFrm");
    if (m_data.IsProcessing() || !OutputFolderGiven()) {
        QM_RETURN(0);
    }
    if (m_data.IsPlaying()) {
        OnPlayerPlay();
    }
    StartGrab();
    QM_EXIT(1);
}

void CMainFrame::OnGrabMulti() {
    QM_TRACE("MainFrm");
    if (m_data.IsProcessing() || !OutputFolderGiven()) {
        QM_RETURN(0);
    }
    if (m_data.IsPlaying()) {
        OnPlayerPlay();
    }
    m_data.SetMultiDisc(true);
    UpdateWindowTitle();
    // Every track of each disc.
    m_tracks->TrackList().MarkAll();
    StartGrab();
    QM_EXIT(1);
}

void CMainFrame::OnMultiDiscEnd() {
    QM_TRACE("MainFrm");
    if (m_stopRequested || !m_data.IsMultiDisc()) {
        UpdateWindowTitle();
        QM_RETURN(0);
    }
    QApplication::beep();
    const auto answer = QMessageBox::information(this, QStringLiteral("Grabbing Multi CD"),
                                                 QStringLiteral("Insert new disk."),
                                                 QMessageBox::Ok | QMessageBox::Cancel);
    if (answer != QMessageBox::Ok) {
        m_data.SetMultiDisc(false);
        UpdateWindowTitle();
        QM_RETURN(1);
    }
    // The next disc is read and grabbed whole.
    OnRefresh();
    CTrackList& list = m_tracks->TrackList();
    if (m_data.IsMultiDisc() && list.HasAudioTracks() && !m_data.IsProcessing()) {
        list.MarkAll();
        StartGrab();
    }
    QM_EXIT(2);
}

void CMainFrame::OnStop() {
    QM_TRACE("MainFrm");
    m_stopRequested = true;
    m_tracks->Job().StopProcess();
}

void CMainFrame::OnRefresh() {
    QM_TRACE("MainFrm");
    if (m_data.IsProcessing()) {
        QM_RETURN(0);
    }
    CTrackList& list = m_tracks->TrackList();
    list.Refresh();
    m_polledDiscId = list.GetDiscId();
    EnableControls(true);
    SyncPlayerSlider();
    QM_EXIT(1);
}

void CMainFrame::OnDeviceChange() {
    QM_TRACE("MainFrm");
    if (!m_data.Settings().job.AutoRefresh || m_data.IsProcessing() ||
        QApplication::activeModalWidget() != nullptr) {
        QM_RETURN(0);
    }
    const std::uint32_t id = m_data.GetCDDBID();
    if (id == m_polledDiscId) {
        QM_RETURN(1);
    }
    // Removal leaves the list with its "No CD in drive" row.
    OnRefresh();
    m_polledDiscId = id;
    QM_EXIT(2);
}

void CMainFrame::OnGetCDDBInfo() {
    QM_TRACE("MainFrm");
    if (m_data.IsProcessing()) {
        QM_RETURN(0);
    }
    CWindowLookupView view(this);
    CNamesLookup::Run(m_data, m_tracks->TrackList(), view);
    QM_EXIT(1);
}

void CMainFrame::OnRipAlbum() {
    QM_TRACE("MainFrm");
    if (m_data.IsProcessing()) {
        QM_RETURN(0);
    }
    // The info bar's names become the disc's before the album takes them.
    m_tracks->TrackList().UpdateCDInfo(true);
    CRipAlbumDlg dialog(m_data, GetInfoBar(), this);
    if (!dialog.OnInitDialog()) {
        QM_RETURN(1);
    }
    dialog.exec();
    QM_EXIT(2);
}

void CMainFrame::OnLoadLocalCDDB() {
    QM_TRACE("MainFrm");
    CTrackList& list = m_tracks->TrackList();
    if (!m_data.LoadLocalCDDB()) {
        QM_RETURN(0);
    }
    list.UpdateCDInfo(false);
    list.FollowMixedCD();
    QM_EXIT(1);
}

void CMainFrame::OnSaveLocalCDDB() {
    QM_TRACE("MainFrm");
    m_tracks->TrackList().UpdateCDInfo(true);
    if (!m_data.SaveLocalCDDB()) {
        QMessageBox::critical(this, QStringLiteral("Error"),
                              QStringLiteral("Failed to save the disc to the local CDDB."));
    }
}

void CMainFrame::OnViewLog() {
    QM_TRACE("MainFrm");
    ShowLogDialog(this, m_data.GrabLog());
}

void CMainFrame::OnDriveInfo() {
    QM_TRACE("MainFrm");
    const std::vector<qm::DriveEntry> drives = qm::DriveList::Instance().Drives();
    const std::int32_t index = m_data.Ripper().GetDriveIndex();
    std::shared_ptr<qm::CdDrive> drive;
    if (index >= 0 && static_cast<std::size_t>(index) < drives.size()) {
        drive = drives[static_cast<std::size_t>(index)].drive;
    }
    const QuavermillSettings& settings = m_data.Settings();
    CDriveInfoDlg dialog(drive, m_data.DataFolder(), settings.verify.AccurateRipServer,
                         settings.verify.ReadOffset, this);
    dialog.exec();
}

void CMainFrame::OnSelectAll() {
    QM_TRACE("MainFrm");
    m_tracks->TrackList().SelectAll();
}

void CMainFrame::OnMarkSelected() {
    QM_TRACE("MainFrm");
    m_tracks->TrackList().MarkSelected(true);
}

void CMainFrame::OnUnMarkSelected() {
    QM_TRACE("MainFrm");
    m_tracks->TrackList().MarkSelected(false);
}

void CMainFrame::OnMixedCD() {
    QM_TRACE("MainFrm");
    m_tracks->TrackList().ToggleMixedCDMode();
}

void CMainFrame::OnTrackSettings() {
    QM_TRACE("MainFrm");
    CTrackList& list = m_tracks->TrackList();
    std::vector<TrackRecord>& records = m_data.Tracks();
    std::vector<TrackRecord*> chosen;
    std::vector<TrackRecord*> all;
    for (int row = 0; row < list.GetRowCount() && row < static_cast<int>(records.size()); ++row) {
        if (list.IsDataRow(row)) {
            continue;
        }
        all.push_back(&records[static_cast<std::size_t>(row)]);
        if (list.IsSelected(row)) {
            chosen.push_back(&records[static_cast<std::size_t>(row)]);
        }
    }
    if (chosen.empty()) {
        QM_RETURN(0);
    }
    TrackPropertiesOptions options;
    options.allTracks = all;
    options.applied = [&list] {
        list.UpdateFormatSettings();
        list.UpdateCDInfo(false);
        list.SyncFormat();
    };
    options.help.help = [this](int topic) {
        m_app.SetHelpTopicId(topic);
        m_app.OnHelp();
    };
    options.help.topicChanged = [this](int topic) { m_app.SetHelpTopicId(topic); };
    ShowTrackProperties(this, chosen, options);
    QM_EXIT(1);
}

void CMainFrame::OnSettings() {
    QM_TRACE("MainFrm");
    OpenSettingsAt(kGeneralPage);
}

void CMainFrame::OpenSettingsAt(SettingsPageId page) {
    QM_TRACE("MainFrm");
    if (m_data.IsProcessing()) {
        QM_RETURN(0);
    }
    QuavermillSettings& settings = m_data.Settings();
    CTrackList& list = m_tracks->TrackList();
    SettingsSheetOptions options;
    options.startPage = page;
    for (const qm::DriveEntry& entry : qm::DriveList::Instance().Drives()) {
        options.driveNames.push_back(entry.drive->Identity());
    }
    settings.drive.driveCount = static_cast<std::int32_t>(options.driveNames.size());
    for (TrackRecord& record : m_data.Tracks()) {
        if (!record.isDataTrack) {
            options.allTracks.push_back(&record);
        }
    }
    for (int device = 0; device < CPlayer::GetDeviceCount(); ++device) {
        options.playbackDevices.push_back(CPlayer::GetDeviceName(device));
    }
    options.pickServer = MakeCddbServerPicker();
    options.applied = [this, &list] {
        ShowOutputFolder();
        list.UpdateFormatSettings();
        list.SyncFormat();
    };
    options.help.help = [this](int topic) {
        m_app.SetHelpTopicId(topic);
        m_app.OnHelp();
    };
    options.help.topicChanged = [this](int topic) { m_app.SetHelpTopicId(topic); };
    const std::int32_t drive = m_data.Ripper().GetDriveIndex();
    ShowSettingsSheet(this, settings, options);
    if (settings.drive.CDDrive != drive) {
        SelectDrive(settings.drive.CDDrive);
    }
    ShowOutputFolder();
    list.UpdateFormatSettings();
    list.SyncFormat();
    QM_EXIT(1);
}

void CMainFrame::OnHelp() {
    QM_TRACE("MainFrm");
    m_app.OnHelp();
}

void CMainFrame::About() {
    QM_TRACE("MainFrm");
    m_app.OnAppAbout();
}

bool CMainFrame::OpenDiscImage(const std::string& path) {
    QM_TRACE("MainFrm");
    std::string error;
    const int index = qm::DriveList::Instance().AddImage(path, &error);
    if (index < 0) {
        QMessageBox::critical(this, QStringLiteral("Error"),
                              ToQt("Cannot open the disc image " + path + ": " + error));
        QM_RETURN(0, false);
    }
    if (index >= m_data.Ripper().GetCDNumber()) {
        // The drive access layer reaches only its first few drives.
        qm::DriveList::Instance().Remove(qm::DriveList::Instance().Drives()[index].drive);
        QMessageBox::critical(this, QStringLiteral("Error"),
                              ToQt(qm::Format("Cannot open the disc image %s: no more than %d "
                                              "drives can be used at a time.",
                                              path.c_str(), qm::kCdMaxDrives)));
        QM_RETURN(1, false);
    }
    m_data.Settings().drive.driveCount =
        static_cast<std::int32_t>(qm::DriveList::Instance().Drives().size());
    m_data.Settings().drive.CDDrive = index;
    FillDriveCombo();
    SelectDrive(index);
    QM_RETURN(2, true);
}

void CMainFrame::OnOpenDiscImage() {
    QM_TRACE("MainFrm");
    const QString path = QFileDialog::getOpenFileName(
        this, QStringLiteral("Open disc image"), QString(),
        QStringLiteral(
            "Disc images (*.cue *.toc *.nrg);;Audio files with a cue sheet (*.flac *.wv *.ape "
            "*.ogg *.wav);;All files (*)"));
    if (!path.isEmpty()) {
        OpenDiscImage(path.toStdString());
    }
}

void CMainFrame::OnProcessEnd() {
    QM_TRACE("MainFrm");
    const CErrorItem* item = g_Error.GetLastActual();
    const bool userStop = item != nullptr && item->code == 30;
    if (item != nullptr && !userStop) {
        QMessageBox::critical(this, QStringLiteral("Error"), ToQt(g_Error.FullMessage(item)));
    }
    g_Error.ResetAll();
    if (!userStop) {
        StopPlayerTimer();
        m_data.StopPlay(false);
        SyncPlayerSlider();
    }
    ShowPlayerButton(false);
}

// --- info bar and format bar ---------------------------------------------------

void CMainFrame::OnSelChangeFormat(int index) {
    QM_TRACE("MainFrm");
    const int value = m_format->itemData(index).toInt();
    if (m_syncing || value < 0 || value >= kFormatCount) {
        QM_RETURN(0);
    }
    CTrackList& list = m_tracks->TrackList();
    std::vector<TrackRecord>& records = m_data.Tracks();
    const std::vector<int> rows = m_tracks->SelectedRows();
    for (int row = 0; row < static_cast<int>(records.size()); ++row) {
        const bool chosen = rows.empty() || std::find(rows.begin(), rows.end(), row) != rows.end();
        if (chosen && !list.IsDataRow(row)) {
            records[static_cast<std::size_t>(row)].format.format = static_cast<OutputFormat>(value);
        }
    }
    list.UpdateFormatSettings();
    list.SyncFormat();
    QM_EXIT(1);
}

void CMainFrame::OnSelChangeDrive(int index) {
    QM_TRACE("MainFrm");
    if (index < 0 || index == m_data.Ripper().GetDriveIndex() || m_data.IsProcessing()) {
        QM_RETURN(0);
    }
    SelectDrive(index);
    QM_EXIT(1);
}

void CMainFrame::OnBrowse() {
    QM_TRACE("MainFrm");
    const QString folder = QFileDialog::getExistingDirectory(this, QStringLiteral("Output folder"),
                                                             m_outputFolder->text());
    if (!folder.isEmpty()) {
        m_outputFolder->setText(folder);
        OnChangeOutDir(folder);
    }
}

void CMainFrame::OnChangeOutDir(const QString& text) {
    QM_TRACE("MainFrm");
    m_data.Settings().naming.OutputFolder = text.toStdString();
}

void CMainFrame::OnChangeArtist() {
    QM_TRACE("MainFrm");
    // The disc takes the names typed, and the tags that held the old ones
    // follow.
    if (!m_data.IsProcessing() && m_tracks->TrackList().HasDisc()) {
        m_tracks->TrackList().UpdateCDInfo(true);
    }
}

void CMainFrame::ShowOutputFolder() {
    QM_TRACE("MainFrm");
    m_outputFolder->setText(ToQt(m_data.Settings().naming.OutputFolder));
}

void CMainFrame::closeEvent(QCloseEvent* event) {
    QM_TRACE("MainFrm");
    if (m_data.IsProcessing()) {
        // The track being grabbed ends "Cancelled" and its partial file is
        // deleted first; the window closes once the job is idle again.
        m_closeWhenIdle = true;
        m_stopRequested = true;
        m_tracks->Job().StopProcess();
        event->ignore();
        QM_RETURN(0);
    }
    m_drivePoll.stop();
    QuavermillSettings& settings = m_data.Settings();
    m_tracks->SaveColumnWidth();
    const QRect frame = geometry();
    settings.window.MainFrameRect = {frame.left(), frame.top(), frame.right() + 1,
                                     frame.bottom() + 1};
    settings.window.StoreTrackNumber = m_writeTrackNumber->isChecked();
    settings.drive.driveCount =
        static_cast<std::int32_t>(qm::DriveList::Instance().Drives().size());
    SaveSettings(settings);
    event->accept();
    QM_EXIT(1);
}

} // namespace qm::ui