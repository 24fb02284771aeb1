// Every message text of the engine's option handling and file set-up, in one place. Texts with
// printf conversions are formatted with runtime::Format.
#pragma once

namespace trelvix::engine::msg {

// Option table.
inline constexpr char kDoNothing[] = "Do nothing: option - ";
inline constexpr char kInvalidSpec[] = "Invalid %s specification for %s: %s";
inline constexpr char kDuration[] = "duration";
inline constexpr char kDate[] = "date";
inline constexpr char kNotInteger[] = "'%s' is not a valid integer value";
inline constexpr char kNotFloat[] = "'%s' is not a valid floating point value";
inline constexpr char kPgmyuvDeprecated[] = "pgmyuv format is deprecated, use image2";
inline constexpr char kTimelimit[] = "Warning: -timelimit not implemented on Windows";
inline constexpr char kIncorrectFrameRate[] = "Incorrect frame rate";
inline constexpr char kIncorrectFrameSize[] = "Incorrect frame size";
inline constexpr char kUnknownPixFmt[] = "Unknown pixel format requested: %s";
inline constexpr char kUsePad[] = "Please use vfilters=pad";
inline constexpr char kQscaleRange[] = "qscale must be > 0.0 and <= 255";
inline constexpr char kPassNumber[] = "pass number can be only 1 or 2";
inline constexpr char kVstatsName[] = "%svstats_%s.log";
inline constexpr char kNeedOutputFile[] = "At least one output file must be specified";
inline constexpr char kNeedInputFile[] = "At least one input file must be specified";
inline constexpr char kStreamIdSyntax[] =
    "Invalid value \"%s\" for option \"%s\", required syntax is \"index:value\"";
inline constexpr char kStreamIdIndex[] = "Invalid stream index %d for option \"%s\" (0..%d)";
inline constexpr char kBitrateTooLow[] =
    "WARNING: The bitrate parameter is set too low. It takes bits/s as argument, not kbits/s";
inline constexpr char kIncorrectAspect[] = "Incorrect aspect ratio specification.";
// clang-format off
inline constexpr char kVerticalCrop[] = "Vertical crop dimensions are outside the range of the original image.\nRemember to crop first and scale second.";
inline constexpr char kHorizontalCrop[] = "Horizontal crop dimensions are outside the range of the original image.\nRemember to crop first and scale second.";
// clang-format on
inline constexpr char kCropDeprecated[] = "CropXXX is deprecated in favor of the crop avfilter";
inline constexpr char kMatrixSyntax[] = "Syntax error in matrix \"%s\" at coeff %d";
inline constexpr char kUnknownBsf[] = "Unknown bitstream filter %s";
inline constexpr char kMissingEquals[] = "Missing =";
inline constexpr char kStreamIndexOver[] = "stream index over MAX_STREAMS(%d)";
inline constexpr char kTooManyStreamMaps[] = "Too many stream maps (at most %d)";
inline constexpr char kTooManyMetaDataMaps[] = "Too many metadata maps (at most %d)";
inline constexpr char kLegacyDropped[] =
    "Option %s=%s has no equivalent in this library generation and is ignored";
inline constexpr char kEncoderOptionDropped[] =
    "Option %s=%s is not an option of encoder %s and is ignored";
inline constexpr char kEncoderOptionRefused[] = "Encoder %s refused option %s=%s";
inline constexpr char kThreadsSyntax[] =
    "Invalid value \"%s\" for option \"threads\": a thread count or \"auto\" is expected";

// Presets.
inline constexpr char kPresetNotFound[] = "Preset \"%s\" not found";
inline constexpr char kPresetSyntax[] = "%s: Invalid syntax: \"%s\"";
inline constexpr char kPresetOption[] =
    "%s: Invalid option or argument: \"%s\", parsed as \"%s\" = \"%s\"";

// Targets.
inline constexpr char kFrameRateInvalid[] = "frame_rate is invalid.";
inline constexpr char kAssumingNorm[] = "Assuming %s for target.";
inline constexpr char kAssuming43[] = "Assuming 4:3 for aspect ratio";
inline constexpr char kAssuming169[] = "Assuming 16:9 for aspect ratio";
inline constexpr char kUnknownTarget[] = "Unknown target type";

// Input files.
inline constexpr char kUnknownInputFormat[] = "Unknown input format: \"%s\"";
inline constexpr char kAllocContextFailed[] = "avformat_alloc_context failed";
inline constexpr char kAllocCodecContextFailed[] = "avcodec_alloc_context failed";
inline constexpr char kInvalidCodecType[] = "invalid codec_type";
inline constexpr char kProgramNotFound[] = "Specified program id not found";
inline constexpr char kNoCodecParameters[] = "%s: could not find codec parameters";
inline constexpr char kCannotSeek[] = "%s: could not seek to position %0.3f";
// clang-format off
inline constexpr char kFrameRateDiffers[] = "Seems stream %d codec frame rate differs from container frame rate: %2.2f (%d/%d) -> %2.2f (%d/%d)";
// clang-format on

// Codec-name checks.
inline constexpr char kEncoder[] = "encoder";
inline constexpr char kDecoder[] = "decoder";
inline constexpr char kUnknownCodec[] = "Unknown %s '%s'";
inline constexpr char kInvalidCodecKind[] = "Invalid %s type '%s'";
inline constexpr char kExperimental[] =
    "%s '%s' is experimental and might produce bad results.\r\nAdd '-strict experimental' if you "
    "want to use it.";
inline constexpr char kNonExperimental[] = "Or use the non experimental %s '%s'.";

// Output files.
inline constexpr char kCannotJoin[] = "Cannot join more than one output file.";
inline constexpr char kNotSuitableFormat[] =
    "Requested output format '%s' is not a suitable output format";
inline constexpr char kNoSuitableFormat[] = "Unable to find a suitable output format for '%s'";
inline constexpr char kCheckInputsFail[] = "check_audio_video_sub_inputs fail: %s";
inline constexpr char kInvalidInputCodecType[] = "invalid codec_type of input file";
inline constexpr char kNewVideoFail[] = "new_video_stream fail: %s";
inline constexpr char kNewAudioFail[] = "new_audio_stream fail: %s";
inline constexpr char kNewSubtitleFail[] = "new_subtitle_stream fail: %s";
inline constexpr char kInvalidParameters[] = "%s: Invalid encoding parameters";
inline constexpr char kCouldNotAllocStream[] = "Could not alloc stream";
inline constexpr char kRcOverrideError[] = "error parsing rc_override";
inline constexpr char kClosestSampleRate[] =
    "Requested sampling rate unsupported using closest supported (%d)";

// Frame-hook libraries.
inline constexpr char kAddHookFailed[] = "Failed to add video hook function: ";
inline constexpr char kNoProcess[] = "Failed to find Process entrypoint in %s\n";
inline constexpr char kNoConfigure[] = "Failed to find Configure entrypoint in %s\n";
inline constexpr char kConfigureFailed[] = "Failed to Configure %s\n";

// Conversion: set-up and stream mapping.
inline constexpr char kMallocFail[] = "av_mallocz fail";
inline constexpr char kReallocFail[] = "av_realloc fail";
// Followed by the session description of the RTP outputs.
inline constexpr char kSdpHeader[] = "SDP:\n";
inline constexpr char kNoStreamInOutput[] = "Output file #%d does not contain any stream";
inline constexpr char kStreamMapCount[] =
    "Number of stream maps must match number of output streams";
inline constexpr char kNoInputStream[] = "Could not find input stream #%d.%d";
inline constexpr char kNoSyncStream[] = "Could not find sync stream #%d.%d";
inline constexpr char kTypeMismatch[] =
    "Codec type mismatch for mapping #%d.%d (%s) -> #%d.%d (%s)";
inline constexpr char kNoMatchingStream[] =
    "Could not find input stream matching output stream #%d.%d (%s)";
inline constexpr char kBitBufferFail[] = "Cannot allocate %d bytes output buffer";
inline constexpr char kEncoderNotFound[] =
    "Encoder (codec id %d) not found for output stream #%d.%d (%s)";
inline constexpr char kEncoderOpenFail[] =
    "Error while opening encoder for output stream #%d.%d (%s) - maybe incorrect parameters such "
    "as bit_rate, rate, width or height. Please check error log message to find out more detail "
    "information.";
inline constexpr char kDecoderNotFound[] =
    "Decoder (codec id %d) not found for input stream #%d.%d (%s)";
inline constexpr char kDecoderOpenFail[] =
    "Error while opening decoder for input stream #%d.%d (%s)";
inline constexpr char kInvalidOutFileIndex[] = "Invalid output file index %d map_meta_data(%d,%d)";
inline constexpr char kInvalidInFileIndex[] = "Invalid input file index %d map_meta_data(%d,%d)";
inline constexpr char kHeaderFail[] =
    "Could not write header for output file #%d (incorrect codec parameters ?)";
inline constexpr char kStreamMapping[] = "Stream mapping:";
inline constexpr char kStreamMapLine[] = "  Stream #%d.%d -> #%d.%d (%s)";
inline constexpr char kSyncLine[] = " [sync #%d.%d (%s)]";
inline constexpr char kExtradataTooLarge[] = "icodec.extradata_size is invalid (too large)";
inline constexpr char kCopyVol[] =
    "-acodec copy and -vol are incompatible (frames are not decoded)";
inline constexpr char kCopyAudioHook[] =
    "-acodec copy and AudioHook are incompatible (frames are not decoded)";
inline constexpr char kCopyVideoHook[] =
    "-vcodec copy and VideoHook are incompatible (frames are not decoded)";
inline constexpr char kCopyVhook[] =
    "-vcodec copy and -vhook are incompatible (frames are not decoded)";
inline constexpr char kCopyPostHooks[] =
    "-vcodec copy and PostHooks are incompatible (frames are not decoded)";
inline constexpr char kInvalidOutCodecType[] = "invalid codec_type of output stream";
inline constexpr char kPixFmtUnknown[] = "Video pixel format is unknown, stream cannot be encoded";
inline constexpr char kTempPicture[] = "Cannot allocate temp picture, check pix fmt";
inline constexpr char kResampleContext[] = "Cannot get resampling context";
inline constexpr char kAudioFifoFail[] = "av_fifo_alloc fail";
inline constexpr char kPassLogWrite[] = "Cannot write log file %s for pass-1 encoding";
inline constexpr char kPassLogMemory[] =
    "Could not allocate file buffer: Error reading log file \"%s\" for pass-2 encoding";
inline constexpr char kPassLogRead[] =
    "Cannot read file: Error reading log file \"%s\" for pass-2 encoding";
inline constexpr char kPassLogDefault[] = "ffmpeg2pass";

// Conversion: packet pipeline.
inline constexpr char kDecodeError[] = "Error while decoding stream #%d.%d (%s)";
inline constexpr char kDiscontinuity[] = "timestamp discontinuity %d, new offset= %d";
inline constexpr char kMultipleFrames[] = "Multiple frames in a packet from stream %d";
inline constexpr char kInvalidCodecTypeRun[] = "invalid codec_type";
inline constexpr char kVideoEncodingFailed[] = "Video encoding failed";
inline constexpr char kAudioEncodingFailed[] = "Audio encoding failed";
inline constexpr char kSubtitleEncodingFailed[] = "Subtitle encoding failed";
inline constexpr char kSubtitleNoPts[] = "Subtitle packets must have a pts";
inline constexpr char kDrop[] = "*** drop!";
inline constexpr char kDup[] = "*** %d dup!";
inline constexpr char kCropError[] = "error cropping picture";
inline constexpr char kFrameSizeChanged[] = "Input Stream #%d.%d frame size changed to %dx%d, %s";
inline constexpr char kBsfFailed[] = "%s failed for stream %d, codec %s";
inline constexpr char kWriteFrame[] = "av_interleaved_write_frame()";
inline constexpr char kTimestampRepaired[] =
    "Output stream #%d.%d: time stamp %lld does not follow %lld; written as %lld";
inline constexpr char kBufferSizesTooLarge[] = "Buffer sizes too large in do_audio_out";
inline constexpr char kS16Warning[] =
    "Warning, using s16 intermediate sample format for resampling";
inline constexpr char kCannotResample[] =
    "Can not resample %d channels @ %d Hz to %d channels @ %d Hz";
inline constexpr char kCannotConvert[] = "Cannot convert %s sample format to %s sample format";
inline constexpr char kDiscarding[] = "discarding %d audio samples";
inline constexpr char kAddingSilence[] = "adding %d audio samples of silence";
inline constexpr char kCompensating[] =
    "compensating audio timestamp drift:%f compensation:%d in:%d";
inline constexpr char kFifoRealloc[] = "av_fifo_realloc2() failed";

// Conversion: hooks.
inline constexpr char kHookBufMalloc[] = "hook buf malloc error.";
inline constexpr char kDeinterlaceFailed[] = "Deinterlacing failed.";
inline constexpr char kToRGBFail[] = "Cannot initialize the toRGB conversion context";
inline constexpr char kFromRGBFail[] = "Cannot initialize the fromRGB conversion context";
inline constexpr char kVideoHookError[] = "Error occurs VideoHook event: ";
inline constexpr char kFiltersFail[] = "Error opening filters: ";
inline constexpr char kFiltersFailNoText[] = "Error opening filters!";

// Conversion: report.
inline constexpr char kFinalSizes[] =
    "video:%1.0fkB audio:%1.0fkB global headers:%1.0fkB muxing overhead %f%%\r\n";
inline constexpr char kVstatsOpenFail[] = "fopen fail: ";

}  // namespace trelvix::engine::msg
