#include "encoders/FileSink.h"

#include <fcntl.h>
#include <unistd.h>

#include <filesystem>
#include <functional>
#include <system_error>

#include "core/Text.h"
#include "core/Trace.h"
#include "platform/RiffFile.h"

namespace fs = std::filesystem;

namespace {

// The longest file name the file systems we write to take.
constexpr std::size_t kMaxNameBytes = 255;

} // namespace

std::string CFileSink::TemporaryPath(const std::string& path) {
    const fs::path final(path);
    const std::string name = final.filename().string();
    const std::size_t suffix = std::char_traits<char>::length(kTemporarySuffix);
    if (name.size() + suffix <= kMaxNameBytes) {
        return path + kTemporarySuffix;
    }
    // A name already as long as names may be: its head and a hash of the
    // whole name keep names that differ only near the end apart.
    const std::string hash = qm::Format("~%016zx", std::hash<std::string>{}(name));
    const std::string head(qm::Utf8Prefix(name, kMaxNameBytes - suffix - hash.size()));
    return (final.parent_path() / (head + hash + kTemporarySuffix)).string();
}

CFileSink::~CFileSink() {
    QM_TRACE("~CFileSink");
    // The derived sink has closed its file by now; an output that was
    // never committed is unfinished.
    DiscardOutput();
}

bool CFileSink::BeginOutput(const std::string& path) {
    QM_TRACE("FileSink");
    DiscardOutput();
    std::error_code ignored;
    if (path.empty() || fs::is_directory(path, ignored)) {
        QM_RETURN(0, false);
    }
    m_outputPath = path;
    m_temporaryPath = TemporaryPath(path);
    QM_RETURN(1, true);
}

void CFileSink::ReserveOutput() {
    QM_TRACE("FileSink");
    if (m_outputPath.empty() || m_reserved) {
        QM_RETURN(0);
    }
    // Only where there is no file: an old file holds the name already.
    const int fd = ::open(m_outputPath.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
    if (fd >= 0) {
        ::close(fd);
        m_reserved = true;
    }
    QM_EXIT(1);
}

std::unique_ptr<qm::RiffFile> CFileSink::CreateOutputFile(std::size_t bufferSize) {
    QM_TRACE("FileSink");
    if (m_outputPath.empty()) {
        QM_RETURN(0, nullptr);
    }
    ReserveOutput();
    auto file = std::make_unique<qm::RiffFile>(bufferSize);
    if (!file->Create(m_temporaryPath)) {
        QM_RETURN(1, nullptr);
    }
    QM_RETURN(2, file);
}

bool CFileSink::CommitOutput() {
    QM_TRACE("FileSink");
    if (m_outputPath.empty()) {
        QM_RETURN(0, false);
    }
    std::error_code error;
    const fs::file_status old = fs::status(m_outputPath, error);
    if (!m_reserved && fs::is_regular_file(old)) {
        // Truncating the old file in place kept its mode; the new file does too.
        fs::permissions(m_temporaryPath, old.permissions(), error);
    }
    error.clear();
    fs::rename(m_temporaryPath, m_outputPath, error);
    if (error) {
        DiscardOutput();
        QM_RETURN(1, false);
    }
    m_reserved = false;
    m_outputPath.clear();
    m_temporaryPath.clear();
    QM_RETURN(2, true);
}

bool CFileSink::EndOutput(bool keep) {
    QM_TRACE("FileSink");
    if (keep) {
        QM_RETURN(0, CommitOutput());
    }
    DiscardOutput();
    QM_RETURN(1, false);
}

void CFileSink::DiscardOutput() {
    QM_TRACE("FileSink");
    std::error_code ignored;
    if (!m_temporaryPath.empty()) {
        fs::remove(m_temporaryPath, ignored);
    }
    if (m_reserved) {
        fs::remove(m_outputPath, ignored);
        m_reserved = false;
    }
    m_outputPath.clear();
    m_temporaryPath.clear();
    QM_EXIT(0);
}
