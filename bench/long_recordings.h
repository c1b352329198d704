// Recordings for the benchmarks, made once in a folder the way the recorder writes them:
// 1080p60 fragmented "screen.mp4", fragmented "voice.m4a", a 60 Hz pointer track with a
// click every 15 s, and "project.json". Needs ffmpeg on the PATH.
#pragma once

#include <QProcess>
#include <QString>
#include <QStringList>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "model/document_json.h"

namespace vantry::bench {

namespace fs = std::filesystem;

// Where the recordings are made: the first argument, else /tmp/vantry-bench-long.
inline fs::path recordingsFolder(int argc, char** argv) {
  return argc > 1 ? fs::path(argv[1]) : fs::path("/tmp/vantry-bench-long");
}

inline bool ffmpeg(const QStringList& args) {
  QProcess p;
  p.start(QStringLiteral("ffmpeg"), QStringList{"-y", "-loglevel", "error"} + args);
  if (!p.waitForFinished(-1) || p.exitCode() != 0) {
    std::fprintf(stderr, "ffmpeg failed: %s\n", p.readAllStandardError().constData());
    return false;
  }
  return true;
}

// A minute of picture and sound (a screen-like bit rate), repeated without re-encoding
// into fragmented files.
inline bool makeMedia(const fs::path& folder, int seconds) {
  const int piece = std::min(seconds, 60);
  const QString dir = QString::fromStdString(folder.string());
  const QString length = QString::number(piece);
  if (!ffmpeg({"-f", "lavfi", "-i", "testsrc=size=1920x1080:rate=60", "-t", length, "-c:v",
               "libx264", "-preset", "ultrafast", "-crf", "32", "-g", "60", "-pix_fmt", "yuv420p",
               dir + "/piece.mp4"}) ||
      !ffmpeg({"-f", "lavfi", "-i", "sine=frequency=440:sample_rate=48000", "-t", length, "-ac",
               "1", "-c:a", "aac", dir + "/piece.m4a"}))
    return false;
  for (const char* kind : {"mp4", "m4a"}) {
    std::ofstream list(folder / (std::string("list-") + kind + ".txt"));
    for (int i = 0; i < seconds / piece; ++i)
      list << "file 'piece." << kind << "'\n";
  }
  return ffmpeg({"-f", "concat", "-safe", "0", "-i", dir + "/list-mp4.txt", "-c", "copy",
                 "-movflags", "+empty_moov+default_base_moof+frag_keyframe",
                 dir + "/screen.mp4"}) &&
         ffmpeg({"-f", "concat", "-safe", "0", "-i", dir + "/list-m4a.txt", "-c", "copy",
                 "-movflags", "+empty_moov+default_base_moof", "-frag_duration", "1000000",
                 dir + "/voice.m4a"});
}

// The recording of `seconds` in `folder` (made when missing), without edits; the path of
// its "project.json", empty when it could not be made.
inline std::string makeRecording(const fs::path& folder, int seconds) {
  const fs::path project = folder / "project.json";
  fs::remove(folder / "edit.json");
  if (fs::exists(project)) return project.string();
  fs::create_directories(folder);
  std::printf("making a %d s recording in %s ...\n", seconds, folder.c_str());
  std::fflush(stdout);
  if (!makeMedia(folder, seconds)) return {};
  Clip clip;
  clip.title = "Bench " + std::to_string(seconds) + " s";
  clip.duration = seconds;
  clip.screenPath = (folder / "screen.mp4").string();
  clip.audioPath = (folder / "voice.m4a").string();
  std::vector<PointerSample> samples;
  samples.reserve(size_t(seconds) * 60);
  for (int i = 0; i < seconds * 60; ++i) {
    const double t = i / 60.0;
    samples.push_back(
        {t, 0.5 + 0.4 * std::sin(t * 0.7), 0.5 + 0.4 * std::sin(t * 1.1), i % (15 * 60) == 7 * 60});
  }
  clip.samples = std::move(samples);
  std::ofstream(project) << encodeClip(clip);
  return project.string();
}

}  // namespace vantry::bench
