#include "settings/Settings.h"

#include <algorithm>
#include <cmath>
#include <vector>

#include "core/Text.h"
#include "core/Trace.h"
#include "settings/PasswordCipher.h"
#include "settings/ReadMethods.h"
#include "settings/SettingsIo.h"
#include "settings/WmaConfigurationTable.h"

namespace {

using qm::settings::BoolRule;
using qm::settings::Loader;
using qm::settings::Saver;

// A missing value leaves the setting as it is.
constexpr std::nullopt_t kKeep = std::nullopt;
// The longest proxy password that is stored.
constexpr std::size_t kMaxPasswordBytes = 1000;

template <class Io> constexpr bool kLoading = std::is_same_v<Io, Loader>;

// Limits applied to stored numbers on load: the value to take, or nothing to
// ignore it.
std::optional<long long> FlacLevel(long long v) {
    return v < 0 || v > 8 ? 3 : v;
}
std::optional<long long> ApeLevel(long long v) {
    return v < 0 || v > 4 ? 3 : v;
}
std::optional<long long> EncoderThreadCount(long long v) {
    return v < 0 || v > kMaxEncoderThreads ? 0 : v;
}
std::optional<long long> WavBits(long long v) {
    return v == 8 || v == 16 ? v : 16;
}
std::optional<long long> WmaConfiguration(long long v) {
    return v >= 0 && v < kWmaConfigurationCount ? std::optional<long long>(v) : std::nullopt;
}
std::optional<long long> Positive(long long v) {
    return v > 0 ? std::optional<long long>(v) : std::nullopt;
}
std::optional<long long> NotNegative(long long v) {
    return v >= 0 ? std::optional<long long>(v) : std::nullopt;
}
std::optional<long long> Mp3AvgBitrate(long long v) {
    return std::clamp<long long>(v, 0, 320);
}
std::optional<long long> OggAvgBitrate(long long v) {
    return v < 64 || v > 320 ? 128 : v;
}
std::optional<long long> ColumnWidth(long long v) {
    return v >= 1 && v <= 999 ? std::optional<long long>(v) : std::nullopt;
}
std::optional<long long> AudioFormat(long long v) {
    // All six formats, FLAC (5) included, so that a default of FLAC
    // survives a restart.
    return v >= 0 && v <= 5 ? std::optional<long long>(v) : std::nullopt;
}

// "OGGQuality": the quality times 100 as an integer.
template <class Io, class Q> void OggQuality(Io& io, Q& quality) {
    if constexpr (kLoading<Io>) {
        quality = 5.0f;
        if (const auto text = io.Text("OGGQuality")) {
            const double value = static_cast<double>(qm::settings::ParseInteger(*text)) / 100.0;
            quality = value < 0.0 || value > 10.0 ? 5.0f : static_cast<float>(value);
        }
    } else {
        // Rounded: 0.29 is 28.999... times 100 in a float.
        io.Text("OGGQuality", std::to_string(std::lround(static_cast<double>(quality) * 100.0)));
    }
}

// Percentages read as real numbers and kept as integers.
template <class Io, class V> void Percent(Io& io, const char* name, V& value, int missing) {
    if constexpr (kLoading<Io>) {
        value = missing;
        if (const auto text = io.Text(name)) {
            const double read = std::trunc(qm::settings::ParseReal(*text));
            value = static_cast<std::int32_t>(std::clamp(read, -2147483648.0, 2147483647.0));
        }
    } else {
        io.Text(name, std::to_string(value));
    }
}

// One of the default track's tag fields (comment, URL, copyright).
template <class Io, class T> void TagText(Io& io, const char* name, T& tag) {
    if constexpr (kLoading<Io>) {
        if (const auto text = io.Text(name)) {
            tag.SetTag(name, *text, 0);
        }
    } else {
        const ID3TagField* field = tag.FindFieldByName(name, 0, true);
        io.Text(name, field != nullptr ? field->value : std::string());
    }
}

// "%d,%d,%d,%d"; the parts after the first one that does not parse stay 0.
template <class Io, class R> void Rect(Io& io, const char* name, R& rect) {
    if constexpr (kLoading<Io>) {
        rect = WindowRect{};
        const auto text = io.Text(name);
        if (!text) {
            return;
        }
        std::int32_t* parts[] = {&rect.left, &rect.top, &rect.right, &rect.bottom};
        std::size_t at = 0;
        for (std::size_t i = 0; i < 4; ++i) {
            if (i > 0) {
                if (at >= text->size() || (*text)[at] != ',') {
                    break;
                }
                ++at;
            }
            std::size_t end = at;
            while (end < text->size() && ((*text)[end] == ' ' || (*text)[end] == '\t')) {
                ++end;
            }
            if (end < text->size() && ((*text)[end] == '-' || (*text)[end] == '+')) {
                ++end;
            }
            const std::size_t digits = end;
            while (end < text->size() && (*text)[end] >= '0' && (*text)[end] <= '9') {
                ++end;
            }
            if (end == digits) {
                break;
            }
            *parts[i] =
                static_cast<std::int32_t>(qm::settings::ParseInteger(text->substr(at, end - at)));
            at = end;
        }
    } else {
        io.Text(name, qm::Format("%d,%d,%d,%d", rect.left, rect.top, rect.right, rect.bottom));
    }
}

// "ProxyPassword": binary, enciphered.
template <class Io, class P> void Password(Io& io, P& password) {
    if constexpr (kLoading<Io>) {
        password.clear();
        const auto bytes = io.Store().ReadBinary("ProxyPassword");
        if (!bytes || bytes->empty() || bytes->size() > kMaxSettingBytes) {
            return;
        }
        std::vector<char> plain(bytes->begin(), bytes->end());
        const int length = DecryptPassword(plain.data(), static_cast<int>(plain.size()));
        if (length >= 1) {
            password.assign(plain.data(), static_cast<std::size_t>(length));
        }
    } else {
        const std::string_view kept = qm::Utf8Prefix(password, kMaxPasswordBytes);
        std::vector<char> buffer(kept.begin(), kept.end());
        buffer.push_back('\0');
        const int length = CryptPassword(buffer.data(), static_cast<int>(buffer.size()));
        const auto* data = reinterpret_cast<const std::uint8_t*>(buffer.data());
        io.Store().WriteBinary("ProxyPassword",
                               std::span<const std::uint8_t>(
                                   data, length >= 1 ? static_cast<std::size_t>(length) : 0));
    }
}

template <class Io, class D> void ReadMethods(Io& io, D& drive) {
    const int count = std::clamp<std::int32_t>(drive.driveCount, 0, kMaxDrives);
    for (int i = 0; i < count; ++i) {
        const std::string name = qm::Format("ReadMethod_CD%d", i);
        if constexpr (kLoading<Io>) {
            drive.ReadMethod[static_cast<std::size_t>(i)] = 0;
            if (const auto text = io.Text(name.c_str())) {
                drive.ReadMethod[static_cast<std::size_t>(i)] = ReadMethodCode(*text);
            }
        } else {
            io.Text(name.c_str(), ReadMethodNameOf(drive.ReadMethod[static_cast<std::size_t>(i)]));
        }
    }
}

template <class Io, class F> void FlacKeys(Io& io, F& format) {
    io.Int("FLACCompressionLevel", format.flac.compressionLevel, 3, FlacLevel);
    io.Int("FLACChannels", format.flac.channels, 2);
    io.Int("FLACSamplerate", format.flac.sampleRate, 44100);
    if constexpr (kLoading<Io>) {
        // Mono FLAC is coded at level 0 or 3 only.
        if (format.flac.channels == 1 && format.flac.compressionLevel != 0 &&
            format.flac.compressionLevel != 3) {
            format.flac.compressionLevel = 3;
        }
    }
}

template <class Io, class F> void WavKeys(Io& io, F& format) {
    io.Int("WAVBits", format.wav.bits, 16, WavBits);
    io.Int("WAVChannels", format.wav.channels, 2);
    io.Int("WAVSamplerate", format.wav.sampleRate, 44100);
}

template <class Io, class F> void WmaKeys(Io& io, F& format) {
    io.Bool("WMALoseless", format.wma.lossless, BoolRule::LowerF, false);
    io.Int("WMAConfiguration", format.wma.configuration, kWmaMissingConfiguration,
           WmaConfiguration);
}

template <class Io, class F> void Mp3Keys(Io& io, F& format) {
    io.Int("MP3MinBitrate", format.mp3.minBitrate, kKeep, Positive);
    io.Int("MP3AvgBitrate", format.mp3.avgBitrate, 0, Mp3AvgBitrate);
    io.Int("MP3MaxBitrate", format.mp3.maxBitrate, kKeep, Positive);
    io.Int("MP3Samplerate", format.mp3.sampleRate, kKeep, Positive);
    io.Int("MP3Channels", format.mp3.channels, kKeep);
    io.Int("MP3VBRQuality", format.mp3.vbrQuality, kKeep);
    io.Bool("MP3Variable", format.mp3.variable, BoolRule::T, kKeep);
}

template <class Io, class F> void OggKeys(Io& io, F& format) {
    io.Int("OGGAvgBitrate", format.ogg.avgBitrate, 128, OggAvgBitrate);
    io.Int("OGGChannels", format.ogg.channels, kKeep);
    io.Int("OGGSamplerate", format.ogg.sampleRate, kKeep);
    OggQuality(io, format.ogg.quality);
    io.Bool("OGGABR", format.ogg.abr, BoolRule::LowerF, false);
}

template <class Io, class F> void ApeKeys(Io& io, F& format) {
    io.Int("APECompressionLevel", format.ape.compressionLevel, 3, ApeLevel);
    io.Int("APEChannels", format.ape.channels, 2);
    io.Int("APESamplerate", format.ape.sampleRate, 44100);
}

// Every other key, in the order they are read.
// The verification values: the read offset keeps a value outside what any
// drive has (the list's extremes are +1776 and -1164) out.
template <class Io, class V> void VerifyKeys(Io& io, V& verify) {
    io.Int("ReadOffset", verify.ReadOffset, 0, [](long long value) -> std::optional<long long> {
        return value >= -5880 && value <= 5880 ? std::optional(value) : std::nullopt;
    });
    io.Bool("VerifyRips", verify.VerifyRips, BoolRule::T, false);
    io.String("AccurateRipServer", verify.AccurateRipServer,
              std::string("http://www.accuraterip.com"));
    io.String("CTDBServer", verify.CTDBServer, std::string("http://db.cuetools.net"));
    io.Bool("RipLog", verify.RipLog, BoolRule::F, true);
    io.Bool("RipCueSheet", verify.RipCueSheet, BoolRule::F, true);
}

template <class Io, class S> void GeneralKeys(Io& io, S& s) {
    auto& track = s.DefaultTrack;
    io.Bool("EnableTag", track.enableTag, BoolRule::F, true);
    io.Bool("UseCustomTag", track.useCustomTag, BoolRule::T, false);
    io.Bool("UseAdditionalTag", track.useAdditionalTag, BoolRule::T, false);
    io.Bool("StoreTrackNumber", s.window.StoreTrackNumber, BoolRule::F, true);
    for (std::size_t i = 0; i < s.window.ColumnWidth.size(); ++i) {
        const std::string name = qm::Format("Column%zuWidth", i);
        io.Int(name.c_str(), s.window.ColumnWidth[i], kKeep, ColumnWidth);
    }
    io.Int("CD-Drive", s.drive.CDDrive, 0, NotNegative);
    io.Int("Default audio format", track.format.format, kKeep, AudioFormat);
    io.String("CDDBServer", s.cddb.CDDBServer, kKeep);
    if constexpr (kLoading<Io>) {
        if (qm::EqualsNoCase(s.cddb.CDDBServer, kRetiredCDDBServer)) {
            s.cddb.CDDBServer = kDefaultCDDBServer;
        }
    }
    io.String("ProxyServer", s.cddb.ProxyServer, kKeep);
    io.String("EMail", s.cddb.EMail, kKeep);
    io.String("HTTPPath", s.cddb.HTTPPath, kKeep);
    io.Int("HTTPPort", s.cddb.HTTPPort, kKeep);
    io.Int("ProxyPort", s.cddb.ProxyPort, kKeep);
    io.Bool("UseProxy", s.cddb.UseProxy, BoolRule::T, false);
    io.Bool("GetProxyFromExplorer", s.cddb.GetProxyFromExplorer, BoolRule::T, false);
    io.Bool("ProxyAuth", s.cddb.ProxyAuth, BoolRule::T, false);
    io.String("ProxyUser", s.cddb.ProxyUser, std::string());
    Password(io, s.cddb.ProxyPassword);
    io.Bool("AutoDetectMixedCD", s.naming.AutoDetectMixedCD, BoolRule::T, false);
    io.Bool("ParseMixedCD", s.naming.ParseMixedCD, BoolRule::T, false);
    io.String("OutputFolder", s.naming.OutputFolder, kKeep);
    io.String("NameFormat", s.naming.NameFormat, kKeep);
    TagText(io, "Comment", track.tag);
    TagText(io, "URL", track.tag);
    TagText(io, "Copyright", track.tag);
    io.Bool("AddToPlaylist", s.playlist.AddToPlaylist, BoolRule::F, false);
    // Read under one spelling and written under the other; the store does
    // not tell them apart.
    io.Choice(kLoading<Io> ? "IfPlayListExist" : "IfPlaylistExist", s.playlist.IfPlayListExist,
              {"Overwrite playlist", "Add to end"}, kOverwritePlaylist, kAppendToPlaylist);
    io.Choice("AddTo", s.playlist.AddTo, {"SpecifiedPlaylist", "MaskPlaylist"}, kSpecifiedPlaylist,
              kMaskPlaylist);
    io.String("SpecifiedPlaylist", s.playlist.SpecifiedPlaylist, kKeep);
    io.String("MaskPlaylist", s.playlist.MaskPlaylist, kKeep);
    Rect(io, "MainFrameRect", s.window.MainFrameRect);
    io.Choice("JitterCorrection", s.drive.JitterCorrection, {"Never", "OnError", "Always"},
              kJitterNever, kKeep);
    io.Bool("AutoDetectCD", s.drive.AutoDetectCD, BoolRule::F, true);
    ReadMethods(io, s.drive);
    io.Bool("CutFromTrack", track.cutFromTrack, BoolRule::T, false);
    io.Real("CutFromBegin", track.cutFromBegin, 0.0);
    io.Real("CutFromEnd", track.cutFromEnd, 0.0);
    io.Bool("DoRipFirst", track.doRipFirst, BoolRule::T, false);
    io.Real("RipFirst", track.ripFirst, 0.0);
    io.Bool("RipMaxSpeed", s.drive.RipMaxSpeed, BoolRule::T, false);
    io.Bool("EjectAtEnd", s.job.EjectAtEnd, BoolRule::T, false);
    io.Int("EncoderThreads", s.job.EncoderThreads, 0, EncoderThreadCount);
    io.Bool("AutoRefresh", s.job.AutoRefresh, BoolRule::T, false);
    io.Bool("GetCDDBOnRefresh", s.job.GetCDDBOnRefresh, BoolRule::T, false);
    io.Bool("MarkAllOnRefresh", s.job.MarkAllOnRefresh, BoolRule::T, false);
    io.Int("HowToPlay", s.player.HowToPlay, kKeep);
    io.Int("PlaybackDevice", s.player.PlaybackDevice, kKeep);
    io.Bool("GenerateIfExist", s.naming.GenerateIfExist, BoolRule::T, false);
    io.Bool("GetCDDBBeforeGrab", s.job.GetCDDBBeforeGrab, BoolRule::T, false);
    io.Bool("AutoLoadLocalCDDB", s.cddb.AutoLoadLocalCDDB, BoolRule::F, true);
    io.Bool("AutoSaveLocalCDDB", s.cddb.AutoSaveLocalCDDB, BoolRule::F, true);
    io.Bool("Normalize", s.normalizer.Normalize, BoolRule::T, false);
    io.Bool("NormalizeOnlyIfLowerOrHigher", s.normalizer.NormalizeOnlyIfLowerOrHigher, BoolRule::T,
            false);
    Percent(io, "NormalizePeak", s.normalizer.NormalizePeak, 98);
    Percent(io, "NormalizeMinPeak", s.normalizer.NormalizeMinPeak, 91);
    Percent(io, "NormalizeMaxPeak", s.normalizer.NormalizeMaxPeak, 99);
    io.Bool("NormalizeUseWindow", s.normalizer.NormalizeUseWindow, BoolRule::T, false);
    io.Int("NormalizeWindowSize", s.normalizer.NormalizeWindowSize, 1000);
    io.Bool("EnableSound", s.player.EnableSound, BoolRule::T, false);
    io.String("SoundFile", s.player.SoundFile, kKeep);
    // Disc names from MusicBrainz beside CDDB, and the cover picture.
    io.Choice("MetadataSources", s.metadata.MetadataSources, {"CDDB", "MusicBrainz", "Both"},
              kSourcesCDDB, kKeep);
    io.String("MusicBrainzServer", s.metadata.MusicBrainzServer, std::string("musicbrainz.org"));
    io.String("CoverArtServer", s.metadata.CoverArtServer,
              std::string("https://coverartarchive.org"));
    io.Bool("EmbedCoverArt", s.metadata.EmbedCoverArt, BoolRule::T, false);
    io.String("SaveCoverArt", s.metadata.SaveCoverArt, std::string());
    VerifyKeys(io, s.verify);
}

} // namespace

void LoadSettings(QuavermillSettings& settings, const qm::SettingsStore& store) {
    QM_TRACE("Quavermill");
    Loader loader(store);
    FormatSettings& format = settings.DefaultTrack.format;
    FlacKeys(loader, format);
    WavKeys(loader, format);
    WmaKeys(loader, format);
    Mp3Keys(loader, format);
    OggKeys(loader, format);
    ApeKeys(loader, format);
    GeneralKeys(loader, settings);
}

bool LoadSettings(QuavermillSettings& settings) {
    QM_TRACE("Quavermill");
    const auto store = qm::OpenSettingsStore(qm::SettingsPath(), qm::StoreOpen::Existing);
    if (!store) {
        QM_RETURN(0, false);
    }
    LoadSettings(settings, *store);
    QM_RETURN(1, true);
}

void SaveSettings(const QuavermillSettings& settings, qm::SettingsStore& store) {
    QM_TRACE("Quavermill");
    Saver saver(store);
    GeneralKeys(saver, settings);
    const FormatSettings& format = settings.DefaultTrack.format;
    WmaKeys(saver, format);
    Mp3Keys(saver, format);
    OggKeys(saver, format);
    ApeKeys(saver, format);
    WavKeys(saver, format);
    FlacKeys(saver, format);
}

bool SaveSettings(const QuavermillSettings& settings) {
    QM_TRACE("Quavermill");
    const auto store = qm::OpenSettingsStore(qm::SettingsPath(), qm::StoreOpen::Create);
    if (!store) {
        QM_RETURN(0, false);
    }
    SaveSettings(settings, *store);
    QM_RETURN(1, store->Save());
}

namespace {

template <class Io, class A> void ApplyNowKeys(Io& io, A& values) {
    io.Bool("ApplyNow_WMA", values.WMA, BoolRule::T, false);
    io.Bool("ApplyNow_MP3", values.MP3, BoolRule::T, false);
    io.Bool("ApplyNow_OGG", values.OGG, BoolRule::T, false);
    io.Bool("ApplyNow_WAV", values.WAV, BoolRule::T, false);
    io.Bool("ApplyNow_APE", values.APE, BoolRule::T, false);
    io.Bool("ApplyNow_FLAC", values.FLAC, BoolRule::T, false);
    io.Bool("ApplyNow_Format", values.Format, BoolRule::T, false);
}

template <class Io, class R> void RipAlbumKeys(Io& io, R& values) {
    io.String("Mask_RipAlbum", values.Mask_RipAlbum, kKeep);
    io.Bool("InsertSilence_RipAlbum", values.InsertSilence_RipAlbum, BoolRule::T, kKeep);
    io.Real("SilenceLength_RipAlbum", values.SilenceLength_RipAlbum, kKeep);
}

} // namespace

void LoadApplyNow(ApplyNowSettings& values, const qm::SettingsStore& store) {
    QM_TRACE("Quavermill");
    Loader loader(store);
    ApplyNowKeys(loader, values);
}

void SaveApplyNow(const ApplyNowSettings& values, qm::SettingsStore& store) {
    QM_TRACE("Quavermill");
    Saver saver(store);
    ApplyNowKeys(saver, values);
}

void LoadRipAlbumSettings(RipAlbumSettings& values, const qm::SettingsStore& store) {
    QM_TRACE("Quavermill");
    Loader loader(store);
    RipAlbumKeys(loader, values);
}

void SaveRipAlbumSettings(const RipAlbumSettings& values, qm::SettingsStore& store) {
    QM_TRACE("Quavermill");
    Saver saver(store);
    RipAlbumKeys(saver, values);
}

bool LoadLogWindowPosition(LogWindowPosition& position, const qm::SettingsStore& store) {
    QM_TRACE("Quavermill");
    Loader loader(store);
    const auto left = loader.Text("LogLeftPosition");
    const auto right = loader.Text("LogRightPosition");
    const auto top = loader.Text("LogTopPosition");
    const auto bottom = loader.Text("LogBottomPosition");
    if (!left || !right || !top || !bottom) {
        QM_RETURN(0, false);
    }
    using qm::settings::ParseInteger;
    position.left = static_cast<std::int32_t>(ParseInteger(*left));
    position.right = static_cast<std::int32_t>(ParseInteger(*right));
    position.top = static_cast<std::int32_t>(ParseInteger(*top));
    position.bottom = static_cast<std::int32_t>(ParseInteger(*bottom));
    QM_RETURN(1, true);
}

void SaveLogWindowPosition(const LogWindowPosition& position, qm::SettingsStore& store) {
    QM_TRACE("Quavermill");
    store.WriteString("LogLeftPosition", std::to_string(position.left));
    store.WriteString("LogTopPosition", std::to_string(position.top));
    store.WriteString("LogRightPosition", std::to_string(position.right));
    store.WriteString("LogBottomPosition", std::to_string(position.bottom));
}

bool ReadSettingsStore(const std::function<void(const qm::SettingsStore&)>& read) {
    QM_TRACE("Quavermill");
    const auto store = qm::OpenSettingsStore(qm::SettingsPath(), qm::StoreOpen::Existing);
    if (!store) {
        QM_RETURN(0, false);
    }
    read(*store);
    QM_RETURN(1, true);
}

bool ChangeSettingsStore(const std::function<void(qm::SettingsStore&)>& change) {
    QM_TRACE("Quavermill");
    const auto store = qm::OpenSettingsStore(qm::SettingsPath(), qm::StoreOpen::Create);
    if (!store) {
        QM_RETURN(0, false);
    }
    change(*store);
    QM_RETURN(1, store->Save());
}
