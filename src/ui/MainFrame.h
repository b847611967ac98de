// The application's main window: menus, toolbars and the context menu over
// the command table, the info bar (disc names, genre, "Write track's
// number", drive), the format bar (format, output folder, progress, speed),
// the player toolbar, and the track list window as its client. Commands turn
// into calls on the track list and its grab job, on the shared data and on
// the dialogs; a timer watches the selected drive for discs coming and
// going.
#pragma once

#include <map>
#include <memory>
#include <optional>
#include <string>

#include <QMainWindow>
#include <QTimer>

#include "jobs/TracksView.h"
#include "ui/SettingsSheet.h"

class CData;
class QAction;
class QCheckBox;
class QComboBox;
class QGroupBox;
class QLabel;
class QLineEdit;
class QMenu;
class QProgressBar;
class QPushButton;
class QSlider;
class QToolBar;

namespace qm::ui {

class CInstanceChecker;
class CQuavermillApp;
class CTracksWnd;

// Command ids, as the command table numbers them.
enum CommandId : int {
    ID_STOP = 32781,
    ID_GRAB = 32782,
    ID_GRAB_MULTI = 32783,
    ID_REFRESH = 32784,
    ID_TRACK_SETTINGS = 32785,
    ID_SETTINGS = 32786,
    ID_GET_CDDB_INFO = 32787,
    ID_HELP = 32788,
    ID_MARK_SELECTED = 32789,
    ID_SELECT_ALL = 32790,
    ID_UNMARK_SELECTED = 32791,
    ID_PLAYER_PLAY = 32793,
    ID_VIEW_LOG = 32801,
    ID_RIP_ALBUM = 32802,
    ID_SAVE_LOCAL_CDDB = 32803,
    ID_LOAD_LOCAL_CDDB = 32804,
    ID_GENERAL_SETTINGS = 32805,
    ID_OUTPUT_SETTINGS = 32806,
    ID_WMA_SETTINGS = 32807,
    ID_MP3_SETTINGS = 32808,
    ID_OGG_SETTINGS = 32809,
    ID_PLAYER_SETTINGS = 32810,
    ID_ID3TAG_SETTINGS = 32811,
    ID_PLAYLIST_SETTINGS = 32812,
    ID_CDDB_SETTINGS = 32813,
    ID_MIXED_CD = 32817,
    ID_APE_SETTINGS = 32820,
    ID_WAV_SETTINGS = 32821,
    ID_FLAC_SETTINGS = 32822,
    // Ours: open a disc image as a drive; the player's other buttons.
    ID_OPEN_DISC_IMAGE = 32830,
    ID_PLAYER_PAUSE = 32831,
    ID_PLAYER_NEXT = 32832,
    ID_PLAYER_PREVIOUS = 32833,
    ID_DRIVE_INFO = 32834,
    ID_APP_ABOUT = 57664,
    ID_APP_EXIT = 57665,
};

class CMainFrame : public QMainWindow {
    Q_OBJECT

public:
    static constexpr const char* kProductTitle = "Quavermill";
    static constexpr const char* kMultiDiscTitle = " [Grabbing Multi CD]";
    static constexpr int kDrivePollMs = 2000;
    static constexpr const char* kNoDriveMessage =
        "Failed to detect any CD drive!\nMay be you have no CD drive or no installed ASPI "
        "manager !";

    explicit CMainFrame(CQuavermillApp& app, QWidget* parent = nullptr);
    ~CMainFrame() override;

    // Builds the track list's drive side: finds the drives, attaches the
    // chosen one, runs the instance check and reads the disc. False, after
    // the "General error" dialog, when there is no CD drive at all.
    bool Create();

    CTracksWnd& Tracks() { return *m_tracks; }
    QAction* Action(int id) const;
    QMenu* TracksMenu() const { return m_tracksMenu; }

    // The window side of the track list's view.
    void SetMainProgressRange(int maximum);
    void SetMainProgress(int position);
    void SetSpeedText(const std::string& text);
    void EnableControls(bool enable);
    InfoBarValues GetInfoBar() const;
    void SetInfoBar(const InfoBarValues& values);
    void SyncFormatCombo(bool haveDisc, std::optional<OutputFormat> format);
    void SetMixedCDMenuText(bool mixedOn);
    void ShowTracksMenu(const QPoint& globalPos);
    void UpdateWindowTitle();
    void OnMultiDiscEnd();
    void RunTracksCommand(TracksCommand command);
    void SyncPlayerSlider();

    // Commands.
    void OnGrab();
    void OnGrabMulti();
    void OnRipAlbum();
    void OnStop();
    void OnRefresh();
    void OnGetCDDBInfo();
    void OnLoadLocalCDDB();
    void OnSaveLocalCDDB();
    void OnViewLog();
    // The selected drive's vendor, model and read offset.
    void OnDriveInfo();
    void OnSelectAll();
    void OnMarkSelected();
    void OnUnMarkSelected();
    void OnMixedCD();
    void OnTrackSettings();
    void OnSettings();
    void OpenSettingsAt(SettingsPageId page);
    void OnHelp();
    void About();
    // Opens `path` (CUE, TOC, NRG) as a drive and selects it; false, after
    // an error box, when it does not open.
    bool OpenDiscImage(const std::string& path);
    void OnOpenDiscImage();
    // The end of a player's run: its error, if any, in a box.
    void OnProcessEnd();

    // The player toolbar (MainFramePlayer.cpp): play/stop, pause, the
    // neighbouring tracks, the position slider and timer 99's display.
    void OnPlayerPlay();
    void OnPlayerPause();
    void OnPlayerNext();
    void OnPlayerPrevious();
    void OnPlayerTimer();
    // The slider: dragged to `seconds` (sliderMoved), released, or stepped.
    void OnHScroll(int seconds, bool released);
    QSlider* PlayerSlider() const { return m_slider; }
    QLabel* TimeDisplay() const { return m_timeDisplay; }
    QTimer& PlayerTimer() { return m_playerTimer; }

    // Info bar and format bar.
    void OnSelChangeFormat(int index);
    void OnSelChangeDrive(int index);
    void OnBrowse();
    void OnChangeOutDir(const QString& text);
    void OnChangeArtist();
    // Polls the selected drive: a new disc refreshes the list, a removed
    // one clears it (only with "AutoRefresh").
    void OnDeviceChange();

protected:
    void closeEvent(QCloseEvent* event) override;

private:
    QAction* AddCommand(int id, const QString& text, const QString& tip = {});
    void CreateActions();
    void CreateMenus();
    void CreateToolBars();
    void CreateInfoBar();
    void CreateFormatBar();
    void FillDriveCombo();
    // Detaches the ripper and attaches it to drive `index` with its read
    // method; the list is refreshed.
    void SelectDrive(int index);
    bool OutputFolderGiven();
    void StartGrab();
    void ShowOutputFolder();
    void ConnectPlayer();
    // No disc: the "Error" box; a changed disc: the self-answering question.
    // False when playing must not start.
    bool CheckPlayerDisc();
    void ShowPlayerButton(bool playing);
    void StartPlayerTimer();
    void StopPlayerTimer();
    // Moves the selection by `step` audio rows; plays the new row when a
    // track was playing.
    void PlayNeighbour(int step);

    CQuavermillApp& m_app;
    CData& m_data;
    CTracksWnd* m_tracks = nullptr;
    std::map<int, QAction*> m_actions;
    QMenu* m_tracksMenu = nullptr;
    QToolBar* m_mainBar = nullptr;
    QToolBar* m_playerBar = nullptr;
    QSlider* m_slider = nullptr;
    QLabel* m_timeDisplay = nullptr;
    QLabel* m_cover = nullptr; // the chosen release's front cover, beside the info bar
    QLineEdit* m_artist = nullptr;
    QLineEdit* m_album = nullptr;
    QLineEdit* m_year = nullptr;
    QComboBox* m_genre = nullptr;
    QCheckBox* m_writeTrackNumber = nullptr;
    QComboBox* m_drive = nullptr;
    QComboBox* m_format = nullptr;
    QGroupBox* m_outputGroup = nullptr;
    QLineEdit* m_outputFolder = nullptr;
    QPushButton* m_browse = nullptr;
    QProgressBar* m_progress = nullptr;
    QLabel* m_speed = nullptr;
    QTimer m_drivePoll;
    // Timer 99: the player's display while a track plays.
    QTimer m_playerTimer;
    std::int32_t m_lastPlayerPosition = -2;
    int m_unchangedTicks = 0;
    // Held while the window lives: the first instance's record.
    std::unique_ptr<CInstanceChecker> m_instanceChecker;
    std::uint32_t m_polledDiscId = 0;
    bool m_stopRequested = false;
    // Close was asked for while a grab ran.
    bool m_closeWhenIdle = false;
    bool m_syncing = false;
};

} // namespace qm::ui
