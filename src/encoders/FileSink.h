// The output file of an encoding sink, and the one policy every sink follows
// for it. A stream is written under a temporary name beside its final file
// and takes the final name (in one rename) only once it is complete, so a
// file already at the final path is replaced by a whole new one or not at
// all: Close(false), any failure, and a sink destroyed unclosed remove the
// temporary file and leave that file as it was.
//
// While a stream for a new name runs, an empty placeholder holds the final
// name, so that the naming code (which makes names unique by looking at the
// folder) never hands the same name to a track encoded at the same time.
// The placeholder goes with the temporary file when the stream fails.
#pragma once

#include <cstddef>
#include <memory>
#include <string>

#include "pipeline/Encoder.h"

namespace qm {
class RiffFile;
}

class CFileSink : public CEncoder {
public:
    // Appended to the final name, as playlists are rewritten through
    // "<list>tmp": no name our naming code makes ends in "tmp", so a
    // temporary file never meets real output.
    static constexpr const char* kTemporarySuffix = "tmp";
    // The buffer of a file made by CreateOutputFile: moderate, so that a
    // full disk shows while the stream runs and not only at its end.
    static constexpr std::size_t kEncoderFileBuffer = 64 * 1024;

    // Where the stream for `path` is written until it is complete.
    static std::string TemporaryPath(const std::string& path);

    ~CFileSink() override;

protected:
    CFileSink() = default;

    // Makes `path` the final path of the next stream, removing the
    // unfinished file of an earlier one. False (and no output) when `path`
    // cannot take a file: empty, or a folder.
    bool BeginOutput(const std::string& path);
    // Holds the final name for a stream about to be written (see above).
    // Sinks whose file is created by a library call this just before.
    void ReserveOutput();
    // Reserves the name and creates the temporary file; null when it cannot
    // be created.
    std::unique_ptr<qm::RiffFile> CreateOutputFile(std::size_t bufferSize = kEncoderFileBuffer);
    // Removes the temporary file (closed or not) and the placeholder.
    void DiscardOutput();
    // The end of a stream whose file is closed: commits the output when
    // `keep` (see CommitOutput), else discards it. True only when the file
    // took its final name.
    bool EndOutput(bool keep);

    bool HasOutput() const { return !m_outputPath.empty(); }
    // The final path: what errors and logs name.
    const std::string& OutputPath() const { return m_outputPath; }
    // The path the stream is written to.
    const std::string& TemporaryOutputPath() const { return m_temporaryPath; }

private:
    // Gives the complete, closed temporary file the final name; it takes the
    // permissions of the file it replaces. False when that fails: the
    // temporary file is then removed and the old file left alone.
    bool CommitOutput();

    std::string m_outputPath;
    std::string m_temporaryPath;
    // The placeholder at the final path is ours.
    bool m_reserved = false;
};
