#include "encoders/LameStreamAdapter.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <dlfcn.h>
#include <fcntl.h>
#include <memory>
#include <mutex>
#include <new>
#include <string_view>
#include <unistd.h>
#include <vector>

#include <lame/lame.h>

namespace qm::lame {

namespace {

struct Api {
    decltype(&::lame_init) init;
    decltype(&::lame_close) close;
    decltype(&::lame_set_in_samplerate) setInSampleRate;
    decltype(&::lame_set_out_samplerate) setOutSampleRate;
    decltype(&::lame_set_num_channels) setNumChannels;
    decltype(&::lame_set_mode) setMode;
    decltype(&::lame_set_brate) setBitrate;
    decltype(&::lame_set_VBR) setVbr;
    decltype(&::lame_set_VBR_q) setVbrQuality;
    decltype(&::lame_set_VBR_min_bitrate_kbps) setVbrMinBitrate;
    decltype(&::lame_set_VBR_max_bitrate_kbps) setVbrMaxBitrate;
    decltype(&::lame_set_VBR_mean_bitrate_kbps) setVbrMeanBitrate;
    decltype(&::lame_set_error_protection) setErrorProtection;
    decltype(&::lame_set_copyright) setCopyright;
    decltype(&::lame_set_original) setOriginal;
    decltype(&::lame_set_extension) setExtension;
    decltype(&::lame_set_emphasis) setEmphasis;
    decltype(&::lame_set_bWriteVbrTag) setWriteVbrTag;
    decltype(&::lame_set_disable_reservoir) setDisableReservoir;
    decltype(&::lame_set_strict_ISO) setStrictIso;
    decltype(&::lame_set_quality) setQuality;
    decltype(&::lame_set_write_id3tag_automatic) setWriteId3TagAutomatic;
    decltype(&::lame_init_params) initParams;
    decltype(&::lame_get_framesize) getFrameSize;
    decltype(&::lame_encode_buffer) encodeBuffer;
    decltype(&::lame_encode_buffer_interleaved) encodeInterleaved;
    decltype(&::lame_encode_flush) encodeFlush;
    decltype(&::lame_get_lametag_frame) getLametagFrame;
    decltype(&::get_lame_version_numerical) getVersion;
    decltype(&::get_lame_url) getUrl;
};

template <typename F> bool Resolve(void* library, const char* name, F& out) {
    void* symbol = ::dlsym(library, name);
    out = reinterpret_cast<F>(symbol);
    return symbol != nullptr;
}

bool ResolveAll(void* library, Api& api) {
    bool ok = Resolve(library, "lame_init", api.init);
    ok = Resolve(library, "lame_close", api.close) && ok;
    ok = Resolve(library, "lame_set_in_samplerate", api.setInSampleRate) && ok;
    ok = Resolve(library, "lame_set_out_samplerate", api.setOutSampleRate) && ok;
    ok = Resolve(library, "lame_set_num_channels", api.setNumChannels) && ok;
    ok = Resolve(library, "lame_set_mode", api.setMode) && ok;
    ok = Resolve(library, "lame_set_brate", api.setBitrate) && ok;
    ok = Resolve(library, "lame_set_VBR", api.setVbr) && ok;
    ok = Resolve(library, "lame_set_VBR_q", api.setVbrQuality) && ok;
    ok = Resolve(library, "lame_set_VBR_min_bitrate_kbps", api.setVbrMinBitrate) && ok;
    ok = Resolve(library, "lame_set_VBR_max_bitrate_kbps", api.setVbrMaxBitrate) && ok;
    ok = Resolve(library, "lame_set_VBR_mean_bitrate_kbps", api.setVbrMeanBitrate) && ok;
    ok = Resolve(library, "lame_set_error_protection", api.setErrorProtection) && ok;
    ok = Resolve(library, "lame_set_copyright", api.setCopyright) && ok;
    ok = Resolve(library, "lame_set_original", api.setOriginal) && ok;
    ok = Resolve(library, "lame_set_extension", api.setExtension) && ok;
    ok = Resolve(library, "lame_set_emphasis", api.setEmphasis) && ok;
    ok = Resolve(library, "lame_set_bWriteVbrTag", api.setWriteVbrTag) && ok;
    ok = Resolve(library, "lame_set_disable_reservoir", api.setDisableReservoir) && ok;
    ok = Resolve(library, "lame_set_strict_ISO", api.setStrictIso) && ok;
    ok = Resolve(library, "lame_set_quality", api.setQuality) && ok;
    ok = Resolve(library, "lame_set_write_id3tag_automatic", api.setWriteId3TagAutomatic) && ok;
    ok = Resolve(library, "lame_init_params", api.initParams) && ok;
    ok = Resolve(library, "lame_get_framesize", api.getFrameSize) && ok;
    ok = Resolve(library, "lame_encode_buffer", api.encodeBuffer) && ok;
    ok = Resolve(library, "lame_encode_buffer_interleaved", api.encodeInterleaved) && ok;
    ok = Resolve(library, "lame_encode_flush", api.encodeFlush) && ok;
    ok = Resolve(library, "lame_get_lametag_frame", api.getLametagFrame) && ok;
    ok = Resolve(library, "get_lame_version_numerical", api.getVersion) && ok;
    ok = Resolve(library, "get_lame_url", api.getUrl) && ok;
    return ok;
}

} // namespace

struct Module {
    void* library = nullptr;
    Api api{};
    int references = 1;
};

struct Stream {
    Module* module = nullptr;
    lame_global_flags* flags = nullptr;
    std::uint32_t channels = 2;
    std::uint32_t maxSamples = 0; // per chunk, all channels
    std::uint32_t bufferSize = 0; // what the caller's output buffer holds at least
    bool writeVbrHeader = false;
};

namespace {

// Modules that are open, newest last. The calls that take no stream handle
// (beInitStream, beVersion) use the newest; a stream holds a reference to
// its module, so the library stays loaded while any stream is open.
std::mutex g_lock;
std::vector<Module*> g_modules;

// The VBR header of the stream this thread closed last, kept for
// beWriteVBRHeader (which names only the file).
thread_local std::vector<std::uint8_t> t_vbrHeader;

Module* AcquireNewest() {
    std::lock_guard<std::mutex> lock(g_lock);
    if (g_modules.empty()) {
        return nullptr;
    }
    Module* module = g_modules.back();
    ++module->references;
    return module;
}

void Release(Module* module) {
    std::lock_guard<std::mutex> lock(g_lock);
    if (--module->references > 0) {
        return;
    }
    g_modules.erase(std::remove(g_modules.begin(), g_modules.end(), module), g_modules.end());
    ::dlclose(module->library);
    delete module;
}

// LAME's own bound for the MP3 bytes a call may produce from
// `samplesPerChannel` samples.
std::uint32_t OutputBound(std::uint32_t samplesPerChannel) {
    return samplesPerChannel * 5 / 4 + 7200;
}

bool Configure(const Api& api, lame_global_flags* flags, const StreamConfig& config, int channels) {
    MPEG_mode mode = JOINT_STEREO;
    switch (config.mode) {
    case kModeStereo:
        mode = STEREO;
        break;
    case kModeDualChannel:
        mode = DUAL_CHANNEL;
        break;
    case kModeMono:
        mode = MONO;
        break;
    default:
        break;
    }
    bool ok = api.setInSampleRate(flags, static_cast<int>(config.sampleRate)) == 0;
    // LAME picks a lower output rate of its own for low bitrates unless told.
    const std::uint32_t outRate =
        config.resampleRate != 0 ? config.resampleRate : config.sampleRate;
    ok = api.setOutSampleRate(flags, static_cast<int>(outRate)) == 0 && ok;
    ok = api.setNumChannels(flags, channels) == 0 && ok;
    ok = api.setMode(flags, mode) == 0 && ok;
    ok = api.setErrorProtection(flags, config.crc != 0) == 0 && ok;
    ok = api.setCopyright(flags, config.copyright != 0) == 0 && ok;
    ok = api.setOriginal(flags, config.original != 0) == 0 && ok;
    ok = api.setExtension(flags, config.privateBit != 0) == 0 && ok;
    ok = api.setEmphasis(flags, static_cast<int>(config.emphasis)) == 0 && ok;
    ok = api.setStrictIso(flags, config.strictIso != 0) == 0 && ok;
    ok = api.setDisableReservoir(flags, config.noReservoir != 0) == 0 && ok;
    // LAME writes an Info frame into CBR streams too unless told not to.
    ok = api.setWriteVbrTag(flags, config.writeVbrHeader != 0) == 0 && ok;
    // Tags are written by the tag writer once the file is complete.
    api.setWriteId3TagAutomatic(flags, 0);
    const int low = config.quality & 0xFF;
    const int high = config.quality >> 8;
    if (high == (~low & 0xFF)) {
        ok = api.setQuality(flags, low) == 0 && ok;
    }

    vbr_mode vbr = vbr_off;
    if (config.enableVbr != 0) {
        switch (config.vbrMethod) {
        case kVbrMethodNone:
            vbr = vbr_off;
            break;
        case kVbrMethodOld:
            vbr = vbr_rh;
            break;
        case kVbrMethodNew:
        case kVbrMethodMtrh:
            vbr = vbr_mtrh;
            break;
        case kVbrMethodAbr:
            vbr = vbr_abr;
            break;
        default:
            vbr = vbr_default;
            break;
        }
    }
    ok = api.setVbr(flags, vbr) == 0 && ok;
    if (vbr == vbr_off) {
        ok = api.setBitrate(flags, static_cast<int>(config.bitrate)) == 0 && ok;
        return ok;
    }
    if (vbr == vbr_abr) {
        ok = api.setVbrMeanBitrate(flags, static_cast<int>(config.vbrAbrBps / 1000)) == 0 && ok;
    } else {
        ok = api.setVbrQuality(flags, config.vbrQuality) == 0 && ok;
    }
    if (config.bitrate != 0) {
        ok = api.setVbrMinBitrate(flags, static_cast<int>(config.bitrate)) == 0 && ok;
    }
    if (config.maxBitrate != 0) {
        ok = api.setVbrMaxBitrate(flags, static_cast<int>(config.maxBitrate)) == 0 && ok;
    }
    return ok;
}

std::uint32_t InitStream(StreamConfig* config, std::uint32_t* samples, std::uint32_t* bufferSize,
                         StreamHandle* stream) {
    if (config == nullptr || samples == nullptr || bufferSize == nullptr || stream == nullptr) {
        return kInvalidFormatParameters;
    }
    *stream = nullptr;
    if (config->format != kConfigFormat) {
        return kInvalidFormat;
    }
    if (config->version < kConfigVersion || config->size < kConfigSize) {
        return kInvalidFormatParameters;
    }
    Module* module = AcquireNewest();
    if (module == nullptr) {
        return kInvalidHandle;
    }
    const Api& api = module->api;
    lame_global_flags* flags = api.init();
    if (flags == nullptr) {
        Release(module);
        return kNoMoreHandles;
    }
    const int channels = config->mode == kModeMono ? 1 : 2;
    if (!Configure(api, flags, *config, channels) || api.initParams(flags) < 0) {
        api.close(flags);
        Release(module);
        return kInvalidFormatParameters;
    }
    auto* opened = new (std::nothrow) Stream;
    if (opened == nullptr) {
        api.close(flags);
        Release(module);
        return kNoMoreHandles;
    }
    const auto frameSize = static_cast<std::uint32_t>(api.getFrameSize(flags));
    opened->module = module;
    opened->flags = flags;
    opened->channels = static_cast<std::uint32_t>(channels);
    opened->maxSamples = frameSize * opened->channels;
    opened->bufferSize = OutputBound(frameSize);
    opened->writeVbrHeader = config->writeVbrHeader != 0;
    *samples = opened->maxSamples;
    *bufferSize = opened->bufferSize;
    *stream = opened;
    return kOk;
}

std::uint32_t EncodeChunk(StreamHandle stream, std::uint32_t samples, std::int16_t* pcm,
                          std::uint8_t* output, std::uint32_t* outputBytes) {
    if (stream == nullptr || outputBytes == nullptr) {
        return kInvalidHandle;
    }
    *outputBytes = 0;
    if (samples > stream->maxSamples || samples % stream->channels != 0) {
        return kInvalidFormatParameters;
    }
    if (samples == 0) {
        return kOk;
    }
    const Api& api = stream->module->api;
    const std::uint32_t perChannel = samples / stream->channels;
    // Within the buffer size announced at the start, since perChannel is at
    // most one frame.
    const auto room = static_cast<int>(OutputBound(perChannel));
    const int written =
        stream->channels == 1
            ? api.encodeBuffer(stream->flags, pcm, pcm, static_cast<int>(perChannel), output, room)
            : api.encodeInterleaved(stream->flags, pcm, static_cast<int>(perChannel), output, room);
    if (written < 0) {
        return written == -1 ? kBufferTooSmall : kInvalidFormatParameters;
    }
    *outputBytes = static_cast<std::uint32_t>(written);
    return kOk;
}

std::uint32_t DeinitStream(StreamHandle stream, std::uint8_t* output, std::uint32_t* outputBytes) {
    if (stream == nullptr || outputBytes == nullptr) {
        return kInvalidHandle;
    }
    *outputBytes = 0;
    const int written = stream->module->api.encodeFlush(stream->flags, output,
                                                        static_cast<int>(stream->bufferSize));
    if (written < 0) {
        return kBufferTooSmall;
    }
    *outputBytes = static_cast<std::uint32_t>(written);
    return kOk;
}

std::uint32_t CloseStream(StreamHandle stream) {
    if (stream == nullptr) {
        return kInvalidHandle;
    }
    const Api& api = stream->module->api;
    t_vbrHeader.clear();
    if (stream->writeVbrHeader) {
        // The header needs the whole stream's statistics: taken now, before
        // the encoder state goes.
        const std::size_t size = api.getLametagFrame(stream->flags, nullptr, 0);
        if (size > 0) {
            t_vbrHeader.resize(size);
            if (api.getLametagFrame(stream->flags, t_vbrHeader.data(), size) != size) {
                t_vbrHeader.clear();
            }
        }
    }
    api.close(stream->flags);
    Release(stream->module);
    delete stream;
    return kOk;
}

void GetVersion(Version* version) {
    if (version == nullptr) {
        return;
    }
    std::memset(version, 0, sizeof *version);
    version->adapterMajor = 1;
    version->adapterMinor = 0;
    Module* module = AcquireNewest();
    if (module == nullptr) {
        return;
    }
    lame_version_t numbers{};
    module->api.getVersion(&numbers);
    version->major = static_cast<std::uint8_t>(numbers.major);
    version->minor = static_cast<std::uint8_t>(numbers.minor);
    version->alphaLevel = static_cast<std::uint8_t>(numbers.alpha);
    version->betaLevel = static_cast<std::uint8_t>(numbers.beta);
    const char* url = module->api.getUrl();
    if (url != nullptr) {
        std::strncpy(version->homepage, url, sizeof version->homepage - 1);
    }
    Release(module);
}

bool WriteAll(int fd, const std::uint8_t* data, std::size_t bytes, off_t offset) {
    while (bytes > 0) {
        const ssize_t done = ::pwrite(fd, data, bytes, offset);
        if (done < 0 && errno == EINTR) {
            continue;
        }
        if (done <= 0) {
            return false;
        }
        data += done;
        bytes -= static_cast<std::size_t>(done);
        offset += done;
    }
    return true;
}

std::uint32_t WriteVBRHeader(const char* path) {
    if (path == nullptr) {
        return kInvalidFormatParameters;
    }
    if (t_vbrHeader.empty()) {
        return kOk; // the stream had none to write
    }
    const int fd = ::open(path, O_RDWR | O_CLOEXEC);
    if (fd < 0) {
        return kInvalidFormatParameters;
    }
    // The header replaces the placeholder frame LAME put first; anything
    // else there (a tag written too early) must not be overwritten. The two
    // frames share sync, version, layer, protection, bitrate and rate.
    std::uint8_t first[3] = {};
    bool ok = t_vbrHeader.size() >= sizeof first &&
              ::pread(fd, first, sizeof first, 0) == static_cast<ssize_t>(sizeof first) &&
              first[0] == t_vbrHeader[0] && first[1] == t_vbrHeader[1] &&
              (first[2] & 0xFC) == (t_vbrHeader[2] & 0xFC);
    ok = ok && WriteAll(fd, t_vbrHeader.data(), t_vbrHeader.size(), 0);
    ok = ::close(fd) == 0 && ok;
    t_vbrHeader.clear();
    return ok ? kOk : kInvalidFormatParameters;
}

} // namespace

Module* LoadModule(const std::string& file) {
    void* library = ::dlopen(file.c_str(), RTLD_NOW | RTLD_LOCAL);
    if (library == nullptr) {
        return nullptr;
    }
    auto module = std::make_unique<Module>();
    module->library = library;
    if (!ResolveAll(library, module->api)) {
        ::dlclose(library);
        return nullptr;
    }
    std::lock_guard<std::mutex> lock(g_lock);
    g_modules.push_back(module.get());
    return module.release();
}

Proc GetProc(Module* module, const char* name) {
    if (module == nullptr || name == nullptr) {
        return nullptr;
    }
    const std::string_view wanted(name);
    if (wanted == "beInitStream") {
        return reinterpret_cast<Proc>(&InitStream);
    }
    if (wanted == "beEncodeChunk") {
        return reinterpret_cast<Proc>(&EncodeChunk);
    }
    if (wanted == "beDeinitStream") {
        return reinterpret_cast<Proc>(&DeinitStream);
    }
    if (wanted == "beCloseStream") {
        return reinterpret_cast<Proc>(&CloseStream);
    }
    if (wanted == "beVersion") {
        return reinterpret_cast<Proc>(&GetVersion);
    }
    if (wanted == "beWriteVBRHeader") {
        return reinterpret_cast<Proc>(&WriteVBRHeader);
    }
    return nullptr;
}

void FreeModule(Module* module) {
    if (module != nullptr) {
        Release(module);
    }
}

} // namespace qm::lame
