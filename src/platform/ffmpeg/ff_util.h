// platform/ffmpeg/: movies and sound files through the FFmpeg libraries: reading, the one
// writer, fragments, sound remuxed or retimed, and BGRA to Y'CbCr.
//
// Small RAII helpers around the FFmpeg C API: owning pointers that free with the right
// call, error texts from av_strerror, and the one guarded way to open a movie or sound.
// The library's log goes through a filter of ours: nothing below a warning, each line
// marked as ours, never shown to a person as a message.
#pragma once

#include <memory>
#include <string>

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
#include <libavutil/frame.h>
#include <libswscale/swscale.h>
}

namespace vantry::ff {

struct FormatContextDeleter {
  // Closes the output file (when the muxer owns one) before freeing; input contexts opened
  // with avformat_open_input must use InputContextDeleter instead.
  void operator()(AVFormatContext* c) const;
};
// Closes an input from openInput() with the descriptor it reads.
struct InputContextDeleter {
  void operator()(AVFormatContext* c) const;
};
struct CodecContextDeleter {
  void operator()(AVCodecContext* c) const { avcodec_free_context(&c); }
};
struct FrameDeleter {
  void operator()(AVFrame* f) const { av_frame_free(&f); }
};
struct PacketDeleter {
  void operator()(AVPacket* p) const { av_packet_free(&p); }
};
struct SwsDeleter {
  void operator()(SwsContext* s) const { sws_freeContext(s); }
};

using OutputFormatPtr = std::unique_ptr<AVFormatContext, FormatContextDeleter>;
using InputFormatPtr = std::unique_ptr<AVFormatContext, InputContextDeleter>;
using CodecContextPtr = std::unique_ptr<AVCodecContext, CodecContextDeleter>;
using FramePtr = std::unique_ptr<AVFrame, FrameDeleter>;
using PacketPtr = std::unique_ptr<AVPacket, PacketDeleter>;
using SwsPtr = std::unique_ptr<SwsContext, SwsDeleter>;

FramePtr makeFrame();
PacketPtr makePacket();

// av_strerror's text for an FFmpeg error code ("No space left on device", ...).
std::string errorText(int code);

// Opens a movie or sound file for reading and finds its streams. Only an absolute local
// path of a regular file is opened, and only as a file: no other protocol, no address, no
// pipe or device, and no further file named from inside it. The file is opened once, without
// waiting, and what is read is what was checked (a link swapped meanwhile changes nothing).
// It is never written: a recording cut short inside its last fragment reads as if it ended
// at its last whole frame. Null on failure with `reason` set to why, in words ("It is
// missing.", "It is damaged or incomplete." with the library's text on a second line); the
// caller puts the sentence naming the file before it. `notAFile` is set when the path names
// a pipe or a device rather than a file.
InputFormatPtr openInput(const std::string& path, std::string* reason = nullptr,
                         bool* notAFile = nullptr);

// Makes the output `fmt` write to `path` through one descriptor of ours
// (platform::openPrivateFile: emptied, private when new, never through a link), which the
// context then owns until closeOutput(). 0 or an FFmpeg error.
int openOutput(AVFormatContext* fmt, const std::string& path);
// The descriptor an output from openOutput() writes to; -1 for any other.
int outputDescriptor(const AVFormatContext* fmt);
// Flushes and closes the output of `fmt`, however it was opened.
void closeOutput(AVFormatContext* fmt);

// Why the library failed with `code`, in words: the system's reason for an error number,
// else that the file is damaged, with the library's own text on the second line.
std::string failureReason(int code);

// Rescales `seconds` into ticks of `tb`, rounding to the nearest tick.
int64_t toTicks(double seconds, AVRational tb);
double toSeconds(int64_t ticks, AVRational tb);

// A stream's length in seconds: its own duration, else the container's, else 0.
double streamDuration(const AVFormatContext* fmt, int stream);

// Seeks `stream` to the key frame at or before `offset` ticks past the stream's first
// timestamp, falling back to the first timestamp itself; FFmpeg's result code.
int seekFromStart(AVFormatContext* fmt, int stream, int64_t offset);

}  // namespace vantry::ff
