// render/: from a project to pictures and sound: the compositor (its pixel kernels in
// kernels/), frame reading, the edited sound's player, and the movie exporter with its
// options, workspace and delivery. The preview and the export share it.
//
// Renders an edited project into a movie: every output frame through the motion timeline
// and the export compositor, encoded with the chosen options, the recorded sound laid
// along the kept segments, then delivered atomically to the destination.
#pragma once

#include <functional>
#include <optional>
#include <stop_token>
#include <string>
#include <vector>

#include "model/clip.h"
#include "render/export_options.h"

namespace vantry {

class MovieExporter {
 public:
  using Progress = std::function<void(double)>;

  MovieExporter() = default;

  // The project document the clip was read from: never overwritten by an export, like the
  // recording's own files.
  void setDocumentPath(std::string path) { documentPath_ = std::move(path); }

  // Runs one export on the calling thread (the work itself is spread over worker
  // threads). Progress runs 0 .. 0.94 while frames are written (every 8 frames), then
  // 0.94, 0.95, 0.99 and 1.0; it is called from worker threads too. Throws CancelledError
  // when `stop` is requested, a translated error or the library's own text otherwise.
  // The destination is untouched unless the export succeeds; the working folder and the
  // hidden copy beside the destination are gone on every way out.
  void exportMovie(const Clip& clip, const EditSettings& settings, const ExportOptions& options,
                   const std::string& destination, const Progress& progress,
                   std::stop_token stop = {});

  // What the last export's rendering pass spent, for benchmarks and tests: CPU seconds of
  // the threads that read the source pictures and of those that compose the frames, the
  // output pictures it allocated (bounded by the frames in flight, not the length) and the
  // most threads a source decoder ran with.
  struct Statistics {
    long long frames = 0;
    double readSeconds = 0;
    double composeSeconds = 0;
    long long pictures = 0;
    int decoderThreads = 0;
  };
  const Statistics& statistics() const { return statistics_; }

  // Number of output frames for an edited duration: ceil(d · fps), at least 1 and at most a
  // day's; floating point noise just above a whole number does not add a frame.
  static long long frameCount(double editedDuration, int fps);
  // Where working folders go: $TMPDIR, else /var/tmp.
  static std::string temporaryRoot();

 private:
  std::optional<std::string> documentPath_;
  Statistics statistics_;
};

}  // namespace vantry
