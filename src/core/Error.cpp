#include "core/Error.h"

#include <ctime>

#include "core/Text.h"
#include "core/Trace.h"

CError::~CError() {
    Clear();
}

void CError::Add(int code, int module, std::int32_t data, const char* text) {
    QM_TRACE("Error");
    auto* item = new CErrorItem;
    SetErrorItem(item, code, module, data, text);
    std::lock_guard<std::mutex> lock(m_lock);
    item->next = m_head;
    m_head = item;
    m_anyActual = true;
}

void CError::SetErrorItem(CErrorItem* item, int code, int module, std::int32_t data,
                          const char* text) {
    QM_TRACE("Error");
    if (item == nullptr) {
        QM_RETURN(0);
    }
    item->code = code;
    item->module = module;
    item->data = data;
    qm::CopyTruncated(item->text, sizeof item->text, text);
    item->time = static_cast<std::int64_t>(std::time(nullptr));
    item->actual = true;
    QM_EXIT(1);
}

CErrorItem* CError::GetLast() const {
    std::lock_guard<std::mutex> lock(m_lock);
    return m_head;
}

bool CError::IsAnyActual_Search() const {
    QM_TRACE("Error");
    std::lock_guard<std::mutex> lock(m_lock);
    QM_RETURN(0, AnyActualLocked());
}

bool CError::AnyActualLocked() const {
    for (const CErrorItem* item = m_head; item != nullptr; item = item->next) {
        if (item->actual) {
            return true;
        }
    }
    return false;
}

CErrorItem* CError::GetLastActual() const {
    QM_TRACE("Error");
    std::lock_guard<std::mutex> lock(m_lock);
    for (CErrorItem* item = m_head; item != nullptr; item = item->next) {
        if (item->actual) {
            QM_RETURN(0, item);
        }
    }
    QM_RETURN(1, nullptr);
}

void CError::ResetLast() {
    QM_TRACE("Error");
    std::lock_guard<std::mutex> lock(m_lock);
    if (m_head == nullptr) {
        QM_RETURN(0);
    }
    m_head->actual = false;
    m_anyActual = AnyActualLocked();
    QM_EXIT(1);
}

void CError::ResetAll() {
    QM_TRACE("Error");
    std::lock_guard<std::mutex> lock(m_lock);
    ClearLocked();
}

void CError::Clear() {
    QM_TRACE("Error");
    std::lock_guard<std::mutex> lock(m_lock);
    ClearLocked();
}

void CError::ClearLocked() {
    while (m_head != nullptr) {
        CErrorItem* next = m_head->next;
        delete m_head;
        m_head = next;
    }
    m_anyActual = false;
}

namespace {

std::string WithQuote(const char* message, const char* text) {
    std::string out = message;
    if (text[0] != '\0') {
        out += " '";
        out += text;
        out += '\'';
    }
    return out;
}

bool ModuleSpecific(const CErrorItem& item, std::string* dest) {
    switch (item.module) {
    case qm::mod::kWMADecoder:
        switch (item.code) {
        case 6:
            *dest = "Failed to create the object 'Reader'";
            return true;
        case 7:
            *dest = "Failed to query interface of reader";
            return true;
        case 8:
            *dest = "File protected by DRM(Digital Rights Management, technology used to protect "
                    "content of multimedia files from an unauthorized usage)";
            return true;
        case 9:
            *dest = "Failed to query interface of profile";
            return true;
        case 25:
            *dest = "File is protected. Please, acquire license and restart";
            return true;
        case 26:
            *dest = "File is protected. Failed to read DRM info";
            return true;
        default:
            break;
        }
        break;
    case qm::mod::kMP3Encoder:
        if (item.code == qm::err::kLameInit) {
            *dest = "Failed to initialize the lame encoder";
            return true;
        }
        break;
    case qm::mod::kCDRipper:
        switch (item.code) {
        case qm::err::kNotAttached:
            *dest = "CD drive is not selected (no attach)";
            return true;
        case qm::err::kNoDisc:
            *dest = "No disk in CD drive";
            return true;
        case qm::err::kWrongTrack:
            *dest = qm::Format("Wrong track number %d", item.data);
            return true;
        case qm::err::kDataTrack:
            *dest = qm::Format("Track number %d is a data track", item.data);
            return true;
        case qm::err::kBadToc:
            *dest = "Failed to read TOC of CD disk (may be disk is bad)";
            return true;
        default:
            break;
        }
        break;
    default:
        break;
    }
    *dest = qm::Format("Unknown error N %d", item.code);
    return false;
}

} // namespace

bool CError::GetDecription(const CErrorItem* item, std::string* dest) const {
    QM_TRACE("Error");
    if (dest == nullptr || item == nullptr) {
        QM_RETURN(0, false);
    }
    const char* text = item->text;
    const bool hasText = text[0] != '\0';
    bool specific = false;
    switch (item->code) {
    case qm::err::kOpenFile:
        switch (item->module) {
        case 2:
        case 3:
        case 4:
        case 5:
        case 6:
        case 14:
            *dest = WithQuote("Failed to open input file", text);
            break;
        case 7:
        case 8:
        case 9:
        case 10:
        case 11:
        case 15:
            *dest = WithQuote("Failed to open output file", text);
            break;
        default:
            *dest = WithQuote("Failed to open file", text);
            break;
        }
        break;
    case qm::err::kNoMemory:
        *dest = "Failed to allocate memory";
        break;
    case qm::err::kDecoding:
        *dest = "Decoding error";
        break;
    case qm::err::kCreateDecoder:
        *dest = "Failed to create decoder";
        break;
    case qm::err::kBadAudioFormat:
        *dest = WithQuote("Bad audio format of input file", text);
        break;
    case qm::err::kFunctionFailed:
        if (hasText) {
            *dest = std::string("Function '") + text + "' failed";
            if (item->data != 0) {
                *dest += qm::Format("[%X]", static_cast<unsigned>(item->data));
            }
        } else {
            *dest = "Function failed";
        }
        break;
    case qm::err::kNoAudioStream:
        *dest = "There is no audio stream in input file";
        break;
    case qm::err::kReadFailed:
        if (item->module == qm::mod::kCDRipper) {
            *dest = "Failed to read CD disk";
            specific = true;
        } else {
            *dest = "Failed to read file";
        }
        break;
    case qm::err::kOutputFolder:
        *dest = WithQuote("Failed to create the otput folder", text);
        specific = true;
        break;
    case qm::err::kNoConverters:
        *dest = "List of internal converters is empty";
        break;
    case qm::err::kDecodingUnsupported:
        *dest = hasText ? qm::Format("Decoding of '%s' files is not supported", text)
                        : std::string("Decoding of specified file is not supported");
        break;
    case qm::err::kEncodingUnsupported:
        *dest = "Encoding to specified format is not supported";
        break;
    case qm::err::kOutputExists:
        *dest = hasText ? qm::Format("Output file '%s' exists", text)
                        : std::string("Output file exists");
        if (item->data != 0) {
            *dest += ".Skipped";
        }
        specific = true;
        break;
    case qm::err::kCreateFolder:
        *dest = qm::Format("Falied to create the output folder %s", text);
        break;
    case qm::err::kInvalidOutputSettings:
        *dest = "Invalid settings of output format";
        break;
    case qm::err::kUnsupportedInputStream:
        *dest = "Unsupported input audio stream";
        break;
    case qm::err::kCreateDecoderNamed:
        *dest = std::string("Failed to create decoder[") + text + "]";
        break;
    case qm::err::kCreateEncoder:
        *dest = "Failed to create encoder";
        break;
    case qm::err::kUnsupportedInput:
        *dest = WithQuote("Unsupported settings of input stream", text);
        break;
    case qm::err::kUnsupportedOutput:
        *dest = WithQuote("Unsupported settings of output stream", text);
        break;
    case qm::err::kWriteFailed:
        *dest = "Failed to write file";
        break;
    case qm::err::kEmptyInput:
        *dest = "Input audio file is empty. May be header is broken";
        break;
    case qm::err::kInvalidArgument:
        *dest = std::string("Invalid argument") + text;
        break;
    case qm::err::kInitEncoder:
        *dest = "Failed to initialize encoder";
        break;
    case qm::err::kWavNotPcm:
        *dest = "Unsupported format of input WAV file (only PCM supported)";
        specific = true;
        break;
    case qm::err::kConversionUnsupported:
        *dest = "Conversion to specified format is not supported";
        break;
    case qm::err::kBadPlaybackDevice:
        *dest = "Bad playback device";
        break;
    case qm::err::kPlaybackDeviceBusy:
        *dest = "Failed to open playback device! May be it is used by another application";
        break;
    case qm::err::kFindCodec:
        *dest = item->module == qm::mod::kAudioDecoder ? "Failed to find codec to decode audio"
                                                       : "Failed to find codec";
        break;
    case qm::err::kOpenCodec:
        *dest = item->module == qm::mod::kAudioDecoder ? "Failed to open codec to decode audio"
                                                       : "Failed to open codec";
        break;
    case qm::err::kInitDecoder:
        *dest = "Failed to initialize decoder";
        break;
    case qm::err::kMessage:
        *dest = qm::Format("Error : %s", text);
        break;
    default:
        specific = ModuleSpecific(*item, dest);
        break;
    }
    QM_RETURN(1, specific);
}

void CError::ModuleDescription(int module, std::string* dest) const {
    QM_TRACE("Error");
    if (dest == nullptr) {
        QM_RETURN(0);
    }
    static const char* const kNames[] = {
        "unknown",     "application", "MP3 decoder",   "WMA decoder",  "WAV decoder", "OGG decoder",
        "APE decoder", "MP3 encoder", "WMA encoder",   "WAV encoder",  "OGG encoder", "APE encoder",
        "CD ripper",   "unknown",     "FLAC decoder",  "FLAC encoder", "Resampler",   "ACM decoder",
        "ACM encoder", "player",      "audio decoder", "qt decoder",   "av decoder",
    };
    constexpr int kCount = static_cast<int>(sizeof kNames / sizeof kNames[0]);
    *dest = (module >= 0 && module < kCount) ? kNames[module] : "unknown";
    QM_EXIT(1);
}

std::string CError::FullMessage(const CErrorItem* item) const {
    QM_TRACE("Error");
    if (item == nullptr) {
        QM_RETURN(0, std::string());
    }
    std::string description;
    std::string module;
    GetDecription(item, &description);
    ModuleDescription(item->module, &module);
    QM_RETURN(1, description + qm::Format(" (error in '%s' module)", module.c_str()));
}
