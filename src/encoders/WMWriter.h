// The writer of the WMA runtime stand-in: takes a one-stream audio profile,
// accepts 16-bit PCM samples with time stamps on its input and writes an ASF
// file through FFmpeg (`wmav2` encoder, ASF muxer). The input is converted
// to the stream's rate, channels and planar float with libswresample. The
// muxer gets no metadata: attributes are written into the closed file.
//
// FFmpeg's decoder drops the first frame of a stream and completes a frame
// only from the packet after it. So the writer puts one frame (the encoder's
// initial padding) of silence in front of the audio, pads the last frame of
// audio with silence and follows it with one more frame of silence: the file
// decodes to the whole input, aligned, followed by less than two frames of
// silence. Sample times are honoured: a sample
// stamped later than the audio so far is preceded by silence up to its time.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "encoders/WMProfile.h"
#include "encoders/WMTypes.h"

namespace qm::wm {

// INSSBuffer: a sample's bytes.
class SampleBuffer {
public:
    explicit SampleBuffer(std::uint32_t size) : m_data(size), m_length(size) {}

    HRESULT GetBufferAndLength(std::uint8_t** buffer, std::uint32_t* length);
    HRESULT GetMaxLength(std::uint32_t* length) const;
    HRESULT SetLength(std::uint32_t length);

private:
    std::vector<std::uint8_t> m_data;
    std::uint32_t m_length;
};

// The properties of one writer input.
class InputMediaProps {
public:
    explicit InputMediaProps(MediaType type) : m_mediaType(std::move(type)) {}

    HRESULT GetType(MajorType* type) const;
    HRESULT GetMediaType(MediaType* type) const;
    HRESULT SetMediaType(const MediaType& type);

private:
    MediaType m_mediaType;
};

// The writer's analysis passes (IWMWriterPreprocess).
class WriterPreprocess {
public:
    virtual ~WriterPreprocess() = default;
    virtual HRESULT GetMaxPreprocessingPasses(std::uint32_t input, std::uint32_t flags,
                                              std::uint32_t* passes) = 0;
    virtual HRESULT SetNumPreprocessingPasses(std::uint32_t input, std::uint32_t flags,
                                              std::uint32_t passes) = 0;
    virtual HRESULT BeginPreprocessingPass(std::uint32_t input, std::uint32_t flags) = 0;
    virtual HRESULT PreprocessSample(std::uint32_t input, std::uint64_t sampleTime,
                                     std::uint32_t flags, SampleBuffer* sample) = 0;
    virtual HRESULT EndPreprocessingPass(std::uint32_t input, std::uint32_t flags) = 0;
};

class Writer : public WriterPreprocess {
public:
    Writer();
    ~Writer() override;
    Writer(const Writer&) = delete;
    Writer& operator=(const Writer&) = delete;

    HRESULT SetProfile(const Profile& profile);
    HRESULT GetInputCount(std::uint32_t* count) const;
    HRESULT GetInputProps(std::uint32_t input, std::shared_ptr<InputMediaProps>* props) const;
    HRESULT SetInputProps(std::uint32_t input, const std::shared_ptr<InputMediaProps>& props);
    HRESULT SetOutputFilename(const std::string& path);
    // Creates the output file and starts the stream. A file left by a
    // failure here is the caller's to remove, as is the file of a writer
    // destroyed before EndWriting.
    HRESULT BeginWriting();
    HRESULT AllocateSample(std::uint32_t size, std::unique_ptr<SampleBuffer>* sample);
    // `sampleTime` in 100-nanosecond units from the start of the stream.
    HRESULT WriteSample(std::uint32_t input, std::uint64_t sampleTime, std::uint32_t flags,
                        SampleBuffer* sample);
    // Finishes the file. After a failure of any step (here or in an earlier
    // WriteSample) the file is closed but incomplete; the caller removes it.
    HRESULT EndWriting();

    HRESULT QueryPreprocess(WriterPreprocess** preprocess);

    HRESULT GetMaxPreprocessingPasses(std::uint32_t input, std::uint32_t flags,
                                      std::uint32_t* passes) override;
    HRESULT SetNumPreprocessingPasses(std::uint32_t input, std::uint32_t flags,
                                      std::uint32_t passes) override;
    HRESULT BeginPreprocessingPass(std::uint32_t input, std::uint32_t flags) override;
    HRESULT PreprocessSample(std::uint32_t input, std::uint64_t sampleTime, std::uint32_t flags,
                             SampleBuffer* sample) override;
    HRESULT EndPreprocessingPass(std::uint32_t input, std::uint32_t flags) override;

private:
    struct Stream; // FFmpeg's side of an open file

    HRESULT Consume(const std::uint8_t* pcm, std::uint32_t frames);
    HRESULT ConsumeSilence(std::uint64_t frames);

    bool m_haveProfile = false;
    WaveFormatEx m_outputFormat;
    bool m_vbr = false;
    std::shared_ptr<InputMediaProps> m_input;
    std::string m_path;
    std::unique_ptr<Stream> m_stream;
    bool m_writing = false;
    HRESULT m_failure = S_OK;
    std::uint64_t m_inputFrames = 0;
    std::uint32_t m_passes = 0;
    bool m_passActive = false;
};

HRESULT WMCreateWriter(std::unique_ptr<Writer>* writer);

} // namespace qm::wm
