#include "ui/QuavermillApp.h"

#include <cstdio>
#include <system_error>

#include "core/CrashHandler.h"
#include "core/Diagnostics.h"
#include "core/Trace.h"
#include "disc/CdioDrive.h"
#include "disc/CdioLog.h"
#include "disc/DriveList.h"
#include "platform/SettingsStore.h"
#include "platform/UserFolders.h"
#include "ui/AboutDlg.h"
#include "ui/HelpFolder.h"
#include "ui/MainFrame.h"

#ifndef QM_VERSION
#define QM_VERSION "0"
#endif

namespace qm::ui {

namespace {

constexpr int kTracerSlots = 10;
constexpr int kTracerLines = 20;
constexpr int kRunLogLines = 40;

bool IsDriveIndex(const std::string& text) {
    return !text.empty() && text.size() < 4 &&
           text.find_first_not_of("0123456789") == std::string::npos;
}

} // namespace

CQuavermillApp::CQuavermillApp()
    : m_data(std::make_unique<CData>()), m_wmaTable(WmaConfigurationTable),
      m_finishEvent(qm::Event::OpenNamed("Conversion finished event", false)), m_keyPath(kKeyPath),
      m_productName(kProductName) {
    QM_TRACE_AS("CQuavermillApp", "Quavermill");
}

CQuavermillApp::~CQuavermillApp() {
    QM_TRACE_AS("~CQuavermillApp", "Quavermill");
    // The window (and the grab job it owns) goes before the data it uses.
    m_mainWnd.reset();
}

int CQuavermillApp::OpenDevice(const std::string& device) {
    QM_TRACE("Quavermill");
    auto& drives = qm::DriveList::Instance();
    if (IsDriveIndex(device)) {
        const int index = std::stoi(device);
        if (index >= static_cast<int>(drives.Drives().size())) {
            std::fprintf(stderr, "quavermill: there is no drive %s\n", device.c_str());
            QM_RETURN(0, -1);
        }
        QM_RETURN(1, index);
    }
    const int known = drives.IndexOf(device);
    if (known >= 0) {
        QM_RETURN(2, known);
    }
    std::error_code ec;
    if (std::filesystem::is_block_file(device, ec)) {
        QM_RETURN(3, drives.AddDrive(qm::CdioDrive::ForDevice(device)));
    }
    std::string error;
    const int index = drives.AddImage(device, &error);
    if (index < 0) {
        std::fprintf(stderr, "quavermill: cannot open the disc image: %s\n", error.c_str());
    }
    QM_RETURN(4, index);
}

bool CQuavermillApp::InitInstance(const StartOptions& options) {
    QM_TRACE("Quavermill");
    const std::filesystem::path dataFolder = qm::ResolveDataFolder(options.dataDir);
    qm::InstallCrashHandler({.productLine = std::string(kProductName) + " v" QM_VERSION,
                             .programName = "quavermill",
                             .dataFolder = dataFolder,
                             .mode = qm::CrashReportMode::kStartReportWindow,
                             .reportProgram = {}});
    // The store every later step reads and writes.
    if (!options.settingsFile.empty()) {
        qm::SetSettingsPath(options.settingsFile);
    }
    std::error_code ec;
    m_programFolder = std::filesystem::current_path(ec);
    m_traceFile = m_programFolder / kTraceFileName;
    g_FunctionTracer.Init(kTracerSlots, kTracerLines);
    // The run log stays in memory: the tracer writes nothing to disk.
    g_Log.Init(kRunLogLines, nullptr);
    qm::InstallCdioLogHandler();

    // The first-run defaults of the default track and of CDDB are what the
    // settings structs start with.
    m_mainWnd = std::make_unique<CMainFrame>(*this);

    if (!options.device.empty()) {
        m_deviceIndex = OpenDevice(options.device);
    }
    m_data->SetDataFolder(dataFolder);
    Settings().drive.driveCount =
        static_cast<std::int32_t>(qm::DriveList::Instance().Drives().size());
    ::LoadSettings(Settings());

    if (!m_mainWnd->Create()) {
        m_exitCode = 1;
        m_mainWnd.reset();
        QM_RETURN(0, false);
    }
    m_mainWnd->show();
    const std::string crashNotice = qm::TakeWaitingCrashNotice(dataFolder);
    if (!crashNotice.empty()) {
        m_data->AddToLog(crashNotice, kLogAttention);
        std::fprintf(stderr, "quavermill: %s\n", crashNotice.c_str());
    }
    QM_RETURN(1, true);
}

void CQuavermillApp::OnHelp() {
    QM_TRACE("Quavermill");
    OpenHelpTopic(m_helpTopicId);
}

void CQuavermillApp::OnAppAbout() {
    QM_TRACE("Quavermill");
    ShowAboutDialog(m_mainWnd.get());
}

} // namespace qm::ui
