// The main window's bars: actions of the command table, the menus and the
// track list's menu, the toolbars, the info bar and the format bar.
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
#include "ui/CddbLookup.h"
#include "ui/CddbServersListDlg.h"
#include "ui/InstanceChecker.h"
#include "ui/LogDlg.h"
#include "ui/MainFrameCommands.h"
#include "ui/QuavermillApp.h"
#include "ui/SettingsHelp.h"
#include "ui/TrackPropertiesSheet.h"
#include "ui/TracksWnd.h"

namespace qm::ui {

using namespace mainframe;

QAction* CMainFrame::Action(int id) const {
    QM_TRACE("MainFrm");
    const auto found = m_actions.find(id);
    QM_RETURN(0, found != m_actions.end() ? found->second : nullptr);
}

QAction* CMainFrame::AddCommand(int id, const QString& text, const QString& tip) {
    QM_TRACE("MainFrm");
    auto* action = new QAction(text, this);
    action->setObjectName(QString::number(id));
    if (!tip.isEmpty()) {
        action->setToolTip(tip);
        action->setStatusTip(tip);
        action->setIconText(tip);
    }
    m_actions[id] = action;
    QM_RETURN(0, action);
}

void CMainFrame::CreateActions() {
    QM_TRACE("MainFrm");
    QStyle* look = style();
    auto on = [this](int id, auto handler) {
        connect(Action(id), &QAction::triggered, this, handler);
    };
    AddCommand(ID_OPEN_DISC_IMAGE, QStringLiteral("Open disc image..."),
               QStringLiteral("Open a disc image (CUE, TOC, NRG) as a drive"));
    AddCommand(ID_DRIVE_INFO, QStringLiteral("Drive &information..."),
               QStringLiteral("The drive's vendor, model and read offset"));
    AddCommand(ID_GRAB, QStringLiteral("&Grab"), QStringLiteral("Grab CD"))
        ->setIcon(look->standardIcon(QStyle::SP_DialogSaveButton));
    AddCommand(ID_GRAB_MULTI, QStringLiteral("Grab Multi CD"), QStringLiteral("Grab Multi CD"))
        ->setIcon(look->standardIcon(QStyle::SP_DriveCDIcon));
    AddCommand(ID_RIP_ALBUM, QStringLiteral("Rip album"), QStringLiteral("Rip disk as album"));
    AddCommand(ID_STOP, QStringLiteral("&Stop"), QStringLiteral("Stop process"))
        ->setIcon(look->standardIcon(QStyle::SP_BrowserStop));
    AddCommand(ID_GET_CDDB_INFO, QStringLiteral("Get CDDB Info"),
               QStringLiteral("Get CDDB Info for current CD-disk from Internet"))
        ->setIcon(look->standardIcon(QStyle::SP_DriveNetIcon));
    AddCommand(ID_LOAD_LOCAL_CDDB, QStringLiteral("Load from local CDDB"));
    AddCommand(ID_SAVE_LOCAL_CDDB, QStringLiteral("Save to local CDDB"));
    AddCommand(ID_VIEW_LOG, QStringLiteral("View &log"), QStringLiteral("View log"))
        ->setIcon(look->standardIcon(QStyle::SP_FileDialogDetailedView));
    AddCommand(ID_APP_EXIT, QStringLiteral("E&xit"));
    AddCommand(ID_SELECT_ALL, QStringLiteral("Select &all\tCtrl-A"),
               QStringLiteral("Select all tracks"))
        ->setShortcut(QKeySequence(QStringLiteral("Ctrl+A")));
    AddCommand(ID_MARK_SELECTED, QStringLiteral("Mark selected track(s)\tCtrl-M"),
               QStringLiteral("Mark selected track(s) for grabbing"))
        ->setShortcut(QKeySequence(QStringLiteral("Ctrl+M")));
    AddCommand(ID_UNMARK_SELECTED, QStringLiteral("&Unmark selected track(s)\tCtrl-U"))
        ->setShortcut(QKeySequence(QStringLiteral("Ctrl+U")));
    AddCommand(ID_MIXED_CD, QStringLiteral("Enable &mixed CD mode"));
    AddCommand(ID_TRACK_SETTINGS, QStringLiteral("&Properties of track(s)"),
               QStringLiteral("Properties of track(s)"))
        ->setIcon(look->standardIcon(QStyle::SP_FileDialogInfoView));
    AddCommand(ID_SETTINGS, QStringLiteral("&Settings"), QStringLiteral("Settings"))
        ->setIcon(look->standardIcon(QStyle::SP_FileDialogListView));
    AddCommand(ID_REFRESH, QStringLiteral("Refresh"), QStringLiteral("Refresh CD"))
        ->setIcon(look->standardIcon(QStyle::SP_BrowserReload));
    for (const SettingsEntry& entry : kSettingsEntries) {
        AddCommand(entry.id, QString::fromLatin1(entry.text), QString::fromLatin1(entry.tip));
        const SettingsPageId page = entry.page;
        connect(Action(entry.id), &QAction::triggered, this,
                [this, page] { OpenSettingsAt(page); });
    }
    AddCommand(ID_HELP, QStringLiteral("Help"), QStringLiteral("Help"))
        ->setIcon(look->standardIcon(QStyle::SP_DialogHelpButton));
    AddCommand(ID_APP_ABOUT, QStringLiteral("&About Quavermill..."));
    AddCommand(ID_PLAYER_PLAY, QStringLiteral("Play"), QStringLiteral("Play"))
        ->setIcon(look->standardIcon(QStyle::SP_MediaPlay));
    AddCommand(ID_PLAYER_PAUSE, QStringLiteral("Pause"), QStringLiteral("Pause"))
        ->setIcon(look->standardIcon(QStyle::SP_MediaPause));
    AddCommand(ID_PLAYER_PREVIOUS, QStringLiteral("Previous"), QStringLiteral("Previous track"))
        ->setIcon(look->standardIcon(QStyle::SP_MediaSkipBackward));
    AddCommand(ID_PLAYER_NEXT, QStringLiteral("Next"), QStringLiteral("Next track"))
        ->setIcon(look->standardIcon(QStyle::SP_MediaSkipForward));

    on(ID_OPEN_DISC_IMAGE, &CMainFrame::OnOpenDiscImage);
    on(ID_DRIVE_INFO, &CMainFrame::OnDriveInfo);
    on(ID_GRAB, &CMainFrame::OnGrab);
    on(ID_GRAB_MULTI, &CMainFrame::OnGrabMulti);
    on(ID_RIP_ALBUM, &CMainFrame::OnRipAlbum);
    on(ID_STOP, &CMainFrame::OnStop);
    on(ID_GET_CDDB_INFO, &CMainFrame::OnGetCDDBInfo);
    on(ID_LOAD_LOCAL_CDDB, &CMainFrame::OnLoadLocalCDDB);
    on(ID_SAVE_LOCAL_CDDB, &CMainFrame::OnSaveLocalCDDB);
    on(ID_VIEW_LOG, &CMainFrame::OnViewLog);
    on(ID_APP_EXIT, &CMainFrame::close);
    on(ID_SELECT_ALL, &CMainFrame::OnSelectAll);
    on(ID_MARK_SELECTED, &CMainFrame::OnMarkSelected);
    on(ID_UNMARK_SELECTED, &CMainFrame::OnUnMarkSelected);
    on(ID_MIXED_CD, &CMainFrame::OnMixedCD);
    on(ID_TRACK_SETTINGS, &CMainFrame::OnTrackSettings);
    on(ID_SETTINGS, &CMainFrame::OnSettings);
    on(ID_REFRESH, &CMainFrame::OnRefresh);
    on(ID_HELP, &CMainFrame::OnHelp);
    on(ID_APP_ABOUT, &CMainFrame::About);
    // Nothing plays yet: the player has no job behind it, so its commands
    // stay off.
    for (const int id : {ID_PLAYER_PLAY, ID_PLAYER_PAUSE, ID_PLAYER_PREVIOUS, ID_PLAYER_NEXT}) {
        Action(id)->setEnabled(false);
    }
    Action(ID_STOP)->setEnabled(false);
}

void CMainFrame::CreateMenus() {
    QM_TRACE("MainFrm");
    QMenu* file = menuBar()->addMenu(QStringLiteral("&File"));
    file->addAction(Action(ID_OPEN_DISC_IMAGE));
    file->addAction(Action(ID_DRIVE_INFO));
    file->addSeparator();
    for (const int id : {ID_GRAB, ID_RIP_ALBUM, ID_STOP, ID_GET_CDDB_INFO, ID_LOAD_LOCAL_CDDB,
                         ID_SAVE_LOCAL_CDDB, ID_VIEW_LOG}) {
        file->addAction(Action(id));
    }
    file->addSeparator();
    file->addAction(Action(ID_APP_EXIT));

    QMenu* edit = menuBar()->addMenu(QStringLiteral("&Edit"));
    edit->addAction(Action(ID_SELECT_ALL));
    edit->addAction(Action(ID_MARK_SELECTED));
    edit->addAction(Action(ID_UNMARK_SELECTED));
    edit->addSeparator();
    edit->addAction(Action(ID_MIXED_CD));
    edit->addSeparator();
    edit->addAction(Action(ID_TRACK_SETTINGS));
    edit->addAction(Action(ID_SETTINGS));

    QMenu* settings = menuBar()->addMenu(QStringLiteral("&Settings"));
    for (const SettingsEntry& entry : kSettingsEntries) {
        settings->addAction(Action(entry.id));
    }

    QMenu* help = menuBar()->addMenu(QStringLiteral("&Help"));
    help->addAction(Action(ID_HELP));
    help->addAction(Action(ID_APP_ABOUT));

    // The track list's menu: its own texts for the row commands.
    m_tracksMenu = new QMenu(this);
    m_tracksMenu->setObjectName(QStringLiteral("TracksMenu"));
    m_tracksMenu->addAction(Action(ID_GRAB));
    m_tracksMenu->addAction(Action(ID_REFRESH));
    m_tracksMenu->addSeparator();
    m_tracksMenu->addAction(Action(ID_TRACK_SETTINGS));
    m_tracksMenu->addAction(Action(ID_SETTINGS));
    m_tracksMenu->addAction(Action(ID_GET_CDDB_INFO));
    m_tracksMenu->addSeparator();
    m_tracksMenu->addAction(QStringLiteral("Select &all"), this, &CMainFrame::OnSelectAll);
    m_tracksMenu->addAction(QStringLiteral("Mark selected track(s)"), this,
                            &CMainFrame::OnMarkSelected);
    m_tracksMenu->addAction(QStringLiteral("&Unmark selected track(s)"), this,
                            &CMainFrame::OnUnMarkSelected);
}

void CMainFrame::CreateToolBars() {
    QM_TRACE("MainFrm");
    m_mainBar = addToolBar(QStringLiteral("Main"));
    m_mainBar->setObjectName(QStringLiteral("MainBar"));
    m_mainBar->setToolButtonStyle(Qt::ToolButtonTextUnderIcon);
    // Short labels under the icons; the tips say the rest.
    const std::pair<int, const char*> labels[] = {
        {ID_GRAB, "Grab"},
        {ID_GRAB_MULTI, "Grab Multi CD"},
        {ID_STOP, "Stop"},
        {ID_REFRESH, "Refresh"},
        {ID_GET_CDDB_INFO, "CDDB"},
        {ID_VIEW_LOG, "Log"},
        {ID_TRACK_SETTINGS, "Properties"},
        {ID_SETTINGS, "Settings"},
        {ID_HELP, "Help"},
    };
    for (const auto& [id, label] : labels) {
        Action(id)->setIconText(QString::fromLatin1(label));
    }
    for (const int id : std::initializer_list<int>{ID_GRAB, ID_GRAB_MULTI, ID_STOP, 0, ID_REFRESH,
                                                   ID_GET_CDDB_INFO, ID_VIEW_LOG, 0,
                                                   ID_TRACK_SETTINGS, ID_SETTINGS, 0, ID_HELP}) {
        if (id == 0) {
            m_mainBar->addSeparator();
        } else {
            m_mainBar->addAction(Action(id));
        }
    }
    // The row commands and the settings pages with a tip, as text buttons,
    // beside the player.
    addToolBarBreak();
    QToolBar* pages = addToolBar(QStringLiteral("Settings pages"));
    pages->setObjectName(QStringLiteral("PagesBar"));
    pages->setToolButtonStyle(Qt::ToolButtonTextOnly);
    pages->addAction(Action(ID_RIP_ALBUM));
    pages->addSeparator();
    for (const SettingsEntry& entry : kSettingsEntries) {
        if (entry.tip[0] != '\0') {
            QAction* action = Action(entry.id);
            QString label = QString::fromLatin1(entry.tip);
            label.remove(QStringLiteral(" settings"));
            action->setIconText(label);
            pages->addAction(action);
        }
    }

    m_playerBar = addToolBar(QStringLiteral("Player"));
    m_playerBar->setObjectName(QStringLiteral("PlayerBar"));
    for (const int id : {ID_PLAYER_PREVIOUS, ID_PLAYER_PLAY, ID_PLAYER_PAUSE, ID_PLAYER_NEXT}) {
        m_playerBar->addAction(Action(id));
    }
    m_slider = new QSlider(Qt::Horizontal, m_playerBar);
    m_slider->setObjectName(QStringLiteral("PlayerSlider"));
    m_slider->setMinimumWidth(160);
    m_slider->setEnabled(false);
    m_playerBar->addWidget(m_slider);
    m_timeDisplay = new QLabel(QStringLiteral("(--:--)"), m_playerBar);
    m_timeDisplay->setObjectName(QStringLiteral("TimeDisplay"));
    m_timeDisplay->setMinimumWidth(60);
    m_timeDisplay->setAlignment(Qt::AlignCenter);
    m_playerBar->addWidget(m_timeDisplay);
    connect(m_slider, &QSlider::valueChanged, this, [this] { SyncPlayerSlider(); });
    ConnectPlayer();
}

void CMainFrame::CreateInfoBar() {
    QM_TRACE("MainFrm");
    auto* bar = new QWidget(this);
    bar->setObjectName(QStringLiteral("InfoBar"));
    auto* layout = new QHBoxLayout(bar);
    layout->setContentsMargins(4, 4, 4, 0);
    auto labelled = [&](const char* label, QWidget* field, int stretch) {
        auto* text = new QLabel(QString::fromLatin1(label), bar);
        text->setBuddy(field);
        layout->addWidget(text);
        layout->addWidget(field, stretch);
    };
    m_cover = new QLabel(bar);
    m_cover->setObjectName(QStringLiteral("CoverArt"));
    m_cover->setFixedSize(40, 40);
    m_cover->setScaledContents(true);
    m_cover->hide();
    layout->addWidget(m_cover);
    m_artist = new QLineEdit(bar);
    m_artist->setObjectName(QStringLiteral("Artist"));
    labelled("&Artist:", m_artist, 3);
    m_album = new QLineEdit(bar);
    m_album->setObjectName(QStringLiteral("Album"));
    labelled("Al&bum:", m_album, 3);
    m_year = new QLineEdit(bar);
    m_year->setObjectName(QStringLiteral("Year"));
    m_year->setValidator(new QIntValidator(0, 9999, m_year));
    m_year->setMaximumWidth(60);
    labelled("&Year:", m_year, 0);
    m_genre = new QComboBox(bar);
    m_genre->setObjectName(QStringLiteral("Genre"));
    // Editable, so that a genre the table lacks is kept as the disc says.
    m_genre->setEditable(true);
    m_genre->setInsertPolicy(QComboBox::NoInsert);
    for (const char* name : GenreTable) {
        m_genre->addItem(QString::fromLatin1(name));
    }
    labelled("&Genre:", m_genre, 1);
    m_writeTrackNumber = new QCheckBox(QStringLiteral("Write track's number"), bar);
    m_writeTrackNumber->setObjectName(QStringLiteral("WriteTrackNumber"));
    m_writeTrackNumber->setChecked(m_data.Settings().window.StoreTrackNumber);
    layout->addWidget(m_writeTrackNumber);
    m_drive = new QComboBox(bar);
    m_drive->setObjectName(QStringLiteral("Drive"));
    m_drive->setMinimumContentsLength(16);
    labelled("&Drive:", m_drive, 2);

    connect(m_artist, &QLineEdit::editingFinished, this, &CMainFrame::OnChangeArtist);
    connect(m_album, &QLineEdit::editingFinished, this, &CMainFrame::OnChangeArtist);
    connect(m_writeTrackNumber, &QCheckBox::toggled, this,
            [this](bool on) { m_data.Settings().window.StoreTrackNumber = on; });
    connect(m_drive, &QComboBox::activated, this, &CMainFrame::OnSelChangeDrive);
    centralWidget()->layout()->addWidget(bar);
}

void CMainFrame::CreateFormatBar() {
    QM_TRACE("MainFrm");
    auto* bar = new QWidget(this);
    bar->setObjectName(QStringLiteral("FormatBar"));
    auto* layout = new QHBoxLayout(bar);
    layout->setContentsMargins(4, 0, 4, 4);
    auto* formatGroup = new QGroupBox(QStringLiteral("Output format"), bar);
    auto* formatLayout = new QHBoxLayout(formatGroup);
    m_format = new QComboBox(formatGroup);
    m_format->setObjectName(QStringLiteral("Format"));
    m_format->addItem(QStringLiteral(" "), kBlankFormat);
    formatLayout->addWidget(m_format);
    layout->addWidget(formatGroup);

    m_outputGroup = new QGroupBox(QStringLiteral("Output folder"), bar);
    m_outputGroup->setObjectName(QStringLiteral("OutputGroup"));
    auto* outputLayout = new QHBoxLayout(m_outputGroup);
    m_outputFolder = new QLineEdit(m_outputGroup);
    m_outputFolder->setObjectName(QStringLiteral("OutputFolder"));
    m_browse = new QPushButton(QStringLiteral("Browse"), m_outputGroup);
    m_browse->setObjectName(QStringLiteral("Browse"));
    m_progress = new QProgressBar(m_outputGroup);
    m_progress->setObjectName(QStringLiteral("MainProgress"));
    m_progress->setTextVisible(false);
    m_speed = new QLabel(QStringLiteral("----"), m_outputGroup);
    m_speed->setObjectName(QStringLiteral("Speed"));
    m_speed->setMinimumWidth(60);
    outputLayout->addWidget(m_outputFolder, 1);
    outputLayout->addWidget(m_browse);
    outputLayout->addWidget(m_progress, 1);
    outputLayout->addWidget(m_speed);
    m_progress->hide();
    m_speed->hide();
    layout->addWidget(m_outputGroup, 1);

    connect(m_format, &QComboBox::activated, this, &CMainFrame::OnSelChangeFormat);
    connect(m_outputFolder, &QLineEdit::textEdited, this, &CMainFrame::OnChangeOutDir);
    connect(m_browse, &QPushButton::clicked, this, &CMainFrame::OnBrowse);
    centralWidget()->layout()->addWidget(bar);
}

} // namespace qm::ui
