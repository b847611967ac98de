// The WMA writer: takes a one-stream audio profile,
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
#include <span>
#include <string>
#include <vector>

#include "encoders/WMProfile.h"
#include "encoders/WMTypes.h"

namespace qm::wm {

// The writer has one input, for PCM; its format follows the profile's
// stream until SetInputType says otherwise.
class Writer {
public:
    Writer();
    ~Writer();
    Writer(const Writer&) = delete;
    Writer& operator=(const Writer&) = delete;

    // A profile of one audio stream this writer can encode;
    // kInvalidArgument otherwise.
    Status SetProfile(const Profile& profile);
    // The PCM the input takes: 16 bits, mono or stereo.
    Status SetInputType(const MediaType& type);
    Status SetOutputFilename(const std::string& path);
    // Creates the output file and starts the stream. A file left by a
    // failure here is the caller's to remove, as is the file of a writer
    // destroyed before EndWriting.
    Status BeginWriting();
    // `sampleTime` in 100-nanosecond units from the start of the stream.
    Status WriteSample(std::uint64_t sampleTime, std::span<const std::uint8_t> pcm);
    // Finishes the file. After a failure of any step (here or in an earlier
    // WriteSample) the file is closed but incomplete; the caller removes it.
    Status EndWriting();

    // Analysis passes, run between BeginWriting and the first sample
    // written: the most the stream can use (0 without a profile).
    std::uint32_t GetMaxPreprocessingPasses() const;
    Status SetNumPreprocessingPasses(std::uint32_t passes);
    Status BeginPreprocessingPass();
    Status PreprocessSample(std::span<const std::uint8_t> pcm);
    Status EndPreprocessingPass();

private:
    struct Stream; // FFmpeg's side of an open file

    Status Consume(const std::uint8_t* pcm, std::uint32_t frames);
    Status ConsumeSilence(std::uint64_t frames);

    bool m_haveProfile = false;
    WaveFormatEx m_outputFormat;
    bool m_vbr = false;
    MediaType m_input;
    std::string m_path;
    std::unique_ptr<Stream> m_stream;
    bool m_writing = false;
    Status m_failure = kOk;
    std::uint64_t m_inputFrames = 0;
    std::uint32_t m_passes = 0;
    bool m_passActive = false;
};

} // namespace qm::wm
