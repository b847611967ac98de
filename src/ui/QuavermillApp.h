// The application object: the shared data (stages, tracks, ripper, job
// state) and the settings for the whole run, the WMA configuration table,
// the finish event the grab job waits on, the program folder and the help
// topic shown. InitInstance starts the program and creates the main window.
#pragma once

#include <array>
#include <filesystem>
#include <memory>
#include <string>

#include "jobs/Data.h"
#include "platform/Event.h"
#include "settings/WmaConfigurationTable.h"

namespace qm::ui {

class CMainFrame;

// What the command line gives the program (as quavermill-cli's global
// options do).
struct StartOptions {
    std::string device;       // drive index, device path or disc image
    std::string settingsFile; // the settings store file
    std::string dataDir;      // the data folder holding "Local CDDB"
};

class CQuavermillApp {
public:
    static constexpr const char* kProductName = "Quavermill";
    static constexpr const char* kKeyPath = "SOFTWARE\\Hollowcraft\\Quavermill";
    static constexpr const char* kTraceFileName = "log_tracer.txt";
    // Set (to anything) in automated runs: the "General error" box closes
    // itself once shown.
    static constexpr const char* kAutoCloseVariable = "QM_AUTOCLOSE_DIALOGS";

    CQuavermillApp();
    ~CQuavermillApp();
    CQuavermillApp(const CQuavermillApp&) = delete;
    CQuavermillApp& operator=(const CQuavermillApp&) = delete;

    // Starts the program: tracer, settings, main window. False when it must
    // end (no CD drive at all); the exit code is then ExitCode().
    bool InitInstance(const StartOptions& options = {});
    int ExitCode() const { return m_exitCode; }

    // Opens the help page of the current help topic.
    void OnHelp();
    void OnAppAbout();

    CData& Data() { return *m_data; }
    QuavermillSettings& Settings() { return m_data->Settings(); }
    CMainFrame* MainWindow() const { return m_mainWnd.get(); }
    int GetHelpTopicId() const { return m_helpTopicId; }
    void SetHelpTopicId(int id) { m_helpTopicId = id; }
    const std::filesystem::path& ProgramFolder() const { return m_programFolder; }
    const std::filesystem::path& TraceFilePath() const { return m_traceFile; }
    const std::string& KeyPath() const { return m_keyPath; }
    const std::string& ProductName() const { return m_productName; }
    const std::array<WmaConfiguration, kWmaConfigurationCount + 1>& WmaTable() const {
        return m_wmaTable;
    }
    // The drive the command line named (-1: none; the settings choose).
    int GetDeviceIndex() const { return m_deviceIndex; }

private:
    // Makes the drive --device names known; its index, or -1 (reason on
    // standard error) when it does not open.
    static int OpenDevice(const std::string& device);

    std::unique_ptr<CData> m_data;
    std::array<WmaConfiguration, kWmaConfigurationCount + 1> m_wmaTable;
    qm::EventHandle m_finishEvent;
    std::filesystem::path m_programFolder;
    std::filesystem::path m_traceFile;
    std::string m_keyPath;
    std::string m_productName;
    int m_helpTopicId = 0;
    int m_deviceIndex = -1;
    int m_exitCode = 0;
    std::unique_ptr<CMainFrame> m_mainWnd;
};

} // namespace qm::ui
