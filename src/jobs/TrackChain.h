// One track's chain of stages: the ripper reads, the normalizer (when
// normalizing or ripping at maximum speed) holds the whole track, the
// resampler converts to what the encoder of the track's format wants, and
// the encoder writes the file. The stages are the single instances the
// shared data holds for the whole run; this class only configures and wires
// them for one track and runs the rip, on the grab job's worker thread.
#pragma once

#include <atomic>
#include <string>

#include "disc/CDRipper.h"
#include "encoders/APEEncoder.h"
#include "encoders/FLACEncoder.h"
#include "encoders/MP3Encoder.h"
#include "encoders/OGGEncoder.h"
#include "encoders/WAVWriter.h"
#include "encoders/WMAEncoder.h"
#include "pipeline/Normalizer.h"
#include "pipeline/Resampler.h"
#include "platform/Event.h"
#include "settings/FormatSettings.h"
#include "settings/Settings.h"

class CError;
class CLog;
class CProgress;

// The filter and sink stages of the run, one of each.
struct CStageSet {
    CNormalizer normalizer;
    CResampler resampler;
    CWAVWriter wav;
    CMP3Encoder mp3;
    COGGEncoder ogg;
    CFLACEncoder flac;
    CAPEEncoder ape;
    CWMAEncoder wma;
};

class CTrackChain {
public:
    CTrackChain(CCDRipper& ripper, CStageSet& stages);
    CTrackChain(const CTrackChain&) = delete;
    CTrackChain& operator=(const CTrackChain&) = delete;

    // The folder of the running program, where the MP3 library is looked
    // for first.
    static std::string ProgramFolder();
    // How many passes a track of this format takes: 2 for a two-pass WMA
    // configuration (never for lossless WMA), else 1.
    static int PassCount(const FormatSettings& format);
    // Brings stored levels the encoders cannot take back into range: an APE
    // level above 4 becomes 3, a FLAC level above 8 becomes 2.
    static void ClampLevels(FormatSettings& format);

    // The registry, run log and progress tracker the stages report to.
    void SetReports(CError* error, CLog* log, CProgress* progress);

    // Sets the resampler's switches and requested format for the track's
    // format and sets up its encoder to write `path`. The sink, or null when
    // the set-up failed (the encoder filed why).
    CEncoder* SetUpEncoder(const FormatSettings& format, const std::string& path);
    // Wires the chain from `sink` backwards with `finish` as the finish
    // event: resampler, then the normalizer in front when "Normalize" or
    // "RipMaxSpeed" is on. The head of the chain.
    CEncoder* BuildChain(CEncoder* sink, const NormalizerSettings& normalizer, bool ripMaxSpeed,
                         const qm::EventHandle& finish);
    // Reads `track` through the chain whose head is `head`; returns when the
    // chain has closed. False when the ripper could not start on the track
    // (the chain is closed without keeping its output and the error filed).
    bool Run(std::int32_t track, CEncoder* head);
    // What ends after the rip (the MP3 library is let go).
    void Finish(const FormatSettings& format);

    // Any thread: ends a running Run. The track ends cancelled.
    void Terminate();

private:
    CCDRipper& m_ripper;
    CStageSet& m_stages;
    CError* m_error = nullptr;
    CLog* m_log = nullptr;
    CProgress* m_progress = nullptr;
    std::atomic<bool> m_normalizerInChain{false};
};
