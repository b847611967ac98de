// Error codes and module numbers filed in the error registry. The numbers are
// stored and shown to users, so they never change.
#pragma once

namespace qm {

namespace err {
constexpr int kOpenFile = 1;
constexpr int kNoMemory = 2;
constexpr int kDecoding = 3;
constexpr int kCreateDecoder = 4;
constexpr int kBadAudioFormat = 5;
constexpr int kFunctionFailed = 10;
constexpr int kNoAudioStream = 11;
constexpr int kNotAttached = 12;
constexpr int kReadFailed = 13;
constexpr int kOutputFolder = 14;
constexpr int kLameInit = 15;
constexpr int kNoDisc = 16;
constexpr int kWrongTrack = 17;
constexpr int kDataTrack = 18;
constexpr int kNoConverters = 19;
constexpr int kDecodingUnsupported = 20;
constexpr int kEncodingUnsupported = 21;
constexpr int kOutputExists = 22;
constexpr int kCreateFolder = 23;
constexpr int kBadToc = 24;
constexpr int kInvalidOutputSettings = 27;
constexpr int kUnsupportedInputStream = 28;
constexpr int kCreateDecoderNamed = 29;
constexpr int kCancelled = 30;
constexpr int kCreateEncoder = 31;
constexpr int kUnsupportedInput = 32;
constexpr int kUnsupportedOutput = 33;
constexpr int kWriteFailed = 34;
constexpr int kEmptyInput = 35;
constexpr int kInvalidArgument = 36;
constexpr int kInitEncoder = 37;
constexpr int kWavNotPcm = 38;
constexpr int kConversionUnsupported = 39;
constexpr int kBadPlaybackDevice = 40;
constexpr int kPlaybackDeviceBusy = 41;
constexpr int kFindCodec = 42;
constexpr int kOpenCodec = 43;
constexpr int kInitDecoder = 46;
constexpr int kMessage = 100;
} // namespace err

namespace mod {
constexpr int kUnknown = 0;
constexpr int kApplication = 1;
constexpr int kMP3Decoder = 2;
constexpr int kWMADecoder = 3;
constexpr int kWAVDecoder = 4;
constexpr int kOGGDecoder = 5;
constexpr int kAPEDecoder = 6;
constexpr int kMP3Encoder = 7;
constexpr int kWMAEncoder = 8;
constexpr int kWAVEncoder = 9;
constexpr int kOGGEncoder = 10;
constexpr int kAPEEncoder = 11;
constexpr int kCDRipper = 12;
constexpr int kFLACDecoder = 14;
constexpr int kFLACEncoder = 15;
constexpr int kResampler = 16;
constexpr int kACMDecoder = 17;
constexpr int kACMEncoder = 18;
constexpr int kPlayer = 19;
constexpr int kAudioDecoder = 20;
constexpr int kQtDecoder = 21;
constexpr int kAvDecoder = 22;
} // namespace mod

} // namespace qm
