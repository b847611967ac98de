#include "jobs/TrackChain.h"

#include <filesystem>
#include <system_error>

#include "core/Error.h"
#include "core/ErrorCodes.h"
#include "core/Trace.h"
#include "settings/WmaConfigurationTable.h"

namespace {

// The configuration entry a WMA track names; the end entry (which no
// encoder accepts) for an index outside the table.
const WmaConfiguration& WmaEntry(const FormatSettings& format) {
    const std::int32_t index = format.wma.configuration;
    return index >= 0 && index < kWmaConfigurationCount
               ? WmaConfigurationTable[static_cast<std::size_t>(index)]
               : WmaConfigurationTable[kWmaConfigurationCount];
}

// The MP3 channel mode that makes a mono file.
constexpr std::uint8_t kMp3Mono = 3;

} // namespace

CTrackChain::CTrackChain(CCDRipper& ripper, CStageSet& stages)
    : m_ripper(ripper), m_stages(stages) {
    QM_TRACE("TrackChain");
}

std::string CTrackChain::ProgramFolder() {
    QM_TRACE("TrackChain");
    std::error_code ec;
    const std::filesystem::path self = std::filesystem::read_symlink("/proc/self/exe", ec);
    QM_RETURN(0, ec ? std::string() : self.parent_path().string());
}

int CTrackChain::PassCount(const FormatSettings& format) {
    QM_TRACE("TrackChain");
    if (format.format != OutputFormat::WMA || format.wma.lossless) {
        QM_RETURN(0, 1);
    }
    const WmaConfiguration& entry = WmaEntry(format);
    QM_RETURN(1, entry.vbr && entry.passes > 1 ? 2 : 1);
}

void CTrackChain::ClampLevels(FormatSettings& format) {
    QM_TRACE("TrackChain");
    if (format.ape.compressionLevel > 4) {
        format.ape.compressionLevel = 3;
    }
    if (format.flac.compressionLevel > 8) {
        format.flac.compressionLevel = 2;
    }
}

void CTrackChain::SetReports(CError* error, CLog* log, CProgress* progress) {
    QM_TRACE("TrackChain");
    m_error = error;
    m_log = log;
    m_progress = progress;
}

CEncoder* CTrackChain::SetUpEncoder(const FormatSettings& format, const std::string& path) {
    QM_TRACE("TrackChain");
    CResampler& resampler = m_stages.resampler;
    const char* file = path.c_str();
    switch (format.format) {
    case OutputFormat::WMA: {
        CWMAEncoder& wma = m_stages.wma;
        wma.SetError(m_error);
        resampler.SetConversions(false, false, true);
        resampler.SetOutputFormat(0, 0, 16);
        CWMAEncoder::Settings settings{1, 100, 44100, 2, 0, 1};
        if (!format.wma.lossless) {
            const WmaConfiguration& row = WmaEntry(format);
            settings = {0,
                        row.bitrate,
                        static_cast<std::int32_t>(row.sampleRate),
                        row.channels,
                        row.vbr ? 1 : 0,
                        row.passes};
        }
        const int ok = wma.OutputSettings(file, settings);
        QM_RETURN(0, ok != 0 ? &wma : nullptr);
    }
    case OutputFormat::MP3: {
        const FormatSettings::Mp3& mp3 = format.mp3;
        CMP3Encoder& encoder = m_stages.mp3;
        encoder.SetError(m_error);
        resampler.SetConversions(false, true, false);
        resampler.SetOutputFormat(mp3.sampleRate, mp3.channels == kMp3Mono ? 1 : 2, 16);
        if (!encoder.Init(ProgramFolder().c_str())) {
            QM_RETURN(1, nullptr);
        }
        CMP3Encoder::Settings settings;
        settings.minBitrate = static_cast<std::int32_t>(mp3.minBitrate);
        settings.maxBitrate = static_cast<std::int32_t>(mp3.maxBitrate);
        settings.avgBitrate = static_cast<std::int32_t>(mp3.avgBitrate);
        settings.variable = mp3.variable;
        settings.averageMode = mp3.avgBitrate > 0;
        settings.sampleRate = mp3.sampleRate;
        settings.mode = mp3.channels;
        settings.vbrQuality = mp3.vbrQuality;
        const bool ok = encoder.OutputSettings(file, settings);
        if (!ok) {
            encoder.DeInit();
        }
        QM_RETURN(2, ok ? &encoder : nullptr);
    }
    case OutputFormat::OGG: {
        const FormatSettings::Ogg& ogg = format.ogg;
        COGGEncoder& encoder = m_stages.ogg;
        encoder.SetError(m_error);
        resampler.SetConversions(true, true, false);
        resampler.SetOutputFormat(ogg.sampleRate, ogg.channels, 16);
        COGGEncoder::Settings settings;
        settings.avgBitrate = static_cast<std::int32_t>(ogg.avgBitrate);
        settings.abr = ogg.abr;
        settings.quality = static_cast<float>(ogg.quality / 10.0);
        settings.sampleRate = ogg.sampleRate;
        settings.channels = ogg.channels;
        const bool ok = encoder.OutputSettings(file, settings);
        QM_RETURN(3, ok ? &encoder : nullptr);
    }
    case OutputFormat::WAV: {
        const FormatSettings::Wav& wav = format.wav;
        CWAVWriter& writer = m_stages.wav;
        writer.SetError(m_error);
        resampler.SetConversions(true, true, true);
        resampler.SetOutputFormat(wav.sampleRate, wav.channels, wav.bits);
        QM_RETURN(4, writer.Open(file) != 0 ? &writer : nullptr);
    }
    case OutputFormat::APE: {
        const FormatSettings::Ape& ape = format.ape;
        CAPEEncoder& encoder = m_stages.ape;
        encoder.SetError(m_error);
        resampler.SetConversions(true, true, false);
        resampler.SetOutputFormat(ape.sampleRate, ape.channels, 16);
        CAPEEncoder::Settings settings;
        settings.sampleRate = ape.sampleRate;
        settings.channels = ape.channels;
        settings.level = ape.compressionLevel;
        settings.bitsPerSample = 16;
        const int ok = encoder.OutputSettings(file, settings);
        QM_RETURN(5, ok != 0 ? &encoder : nullptr);
    }
    case OutputFormat::FLAC: {
        const FormatSettings::Flac& flac = format.flac;
        CFLACEncoder& encoder = m_stages.flac;
        encoder.SetError(m_error);
        encoder.SetLog(m_log);
        resampler.SetConversions(true, true, false);
        resampler.SetOutputFormat(flac.sampleRate, flac.channels, 16);
        CFLACEncoder::Settings settings;
        settings.level = flac.compressionLevel;
        settings.sampleRate = flac.sampleRate;
        settings.channels = flac.channels;
        settings.bitsPerSample = 16;
        const std::int32_t ok = encoder.OutputSettings(file, settings);
        QM_RETURN(6, ok != 0 ? &encoder : nullptr);
    }
    }
    // A format number no encoder has.
    if (m_error != nullptr) {
        m_error->Add(qm::err::kEncodingUnsupported, qm::mod::kApplication);
    }
    QM_RETURN(7, nullptr);
}

CEncoder* CTrackChain::BuildChain(CEncoder* sink, const NormalizerSettings& normalizer,
                                  bool ripMaxSpeed, const qm::EventHandle& finish) {
    QM_TRACE("TrackChain");
    finish->Reset();
    sink->SetFinishEvent(finish);
    CResampler& resampler = m_stages.resampler;
    resampler.SetEncoder(sink);
    resampler.SetError(m_error);
    m_ripper.SetError(m_error);
    CEncoder* head = &resampler;
    const bool inFront = normalizer.Normalize || ripMaxSpeed;
    if (inFront) {
        CNormalizer& stage = m_stages.normalizer;
        stage.SetEncoder(head);
        stage.SetFinishEvent(finish);
        stage.SetError(m_error);
        stage.SetParameters(normalizer.Normalize, normalizer.NormalizeOnlyIfLowerOrHigher,
                            normalizer.NormalizePeak, normalizer.NormalizeMaxPeak,
                            normalizer.NormalizeMinPeak, normalizer.NormalizeUseWindow,
                            normalizer.NormalizeWindowSize);
        head = &stage;
    }
    m_normalizerInChain.store(inFront);
    QM_RETURN(0, head);
}

bool CTrackChain::Run(std::int32_t track, CEncoder* head) {
    QM_TRACE("TrackChain");
    if (!m_ripper.ProcessSettings(track, head, true)) {
        // The disc no longer has the track: nothing is read, and the file
        // the encoder may have begun goes.
        if (m_error != nullptr) {
            m_error->Add(qm::err::kWrongTrack, qm::mod::kCDRipper, track);
        }
        head->Close(false);
        QM_RETURN(0, false);
    }
    m_ripper.SetError(m_error);
    m_ripper.InitProgress(m_progress);
    m_ripper.Start();
    QM_RETURN(1, true);
}

void CTrackChain::Finish(const FormatSettings& format) {
    QM_TRACE("TrackChain");
    m_normalizerInChain.store(false);
    if (format.format == OutputFormat::MP3) {
        m_stages.mp3.DeInit();
    }
}

void CTrackChain::Terminate() {
    QM_TRACE("TrackChain");
    // Only the events: the worker closes the chain and files the cancel.
    // Once the ripper has read the whole track its terminate event no
    // longer reaches the normalizer, which has its own.
    m_ripper.Terminate();
    if (m_normalizerInChain.load()) {
        m_stages.normalizer.Terminate();
    }
}
