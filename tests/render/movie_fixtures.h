// Source movies made by the tests themselves, and read-back helpers for results.
#pragma once

#include <QImage>
#include <string>
#include <vector>

#include "support/temp_dir.h"

extern "C" {
#include <libavutil/pixfmt.h>
}

namespace vantry::testing {

// A movie whose frame i shows i as eight black/white blocks across the picture
// (bit k = block k), over a mid-grey background.
void makeIndexedMovie(const std::string& path, int frames, int fps, int width = 320,
                      int height = 180);
// Reads the index back from a picture showing such a frame over `area` of it.
int readIndex(const QImage& image, QRect area);

// A mono 48 kHz AAC file of `seconds`, silent except for 80 ms tones of 1 kHz at `tones`.
void makeToneSound(const std::string& path, double seconds, const std::vector<double>& tones,
                   const std::string& container = "ipod");
// Onsets (seconds) of tones in the first audio track of a file.
std::vector<double> toneOnsets(const std::string& path);
// The same for mono samples at `rate`, on 5 ms windows.
std::vector<double> toneOnsets(const std::vector<float>& mono, int rate);

struct MovieInfo {
  int videoFrames = 0;
  double videoDuration = 0;
  int width = 0, height = 0;
  std::string codec;
  std::string codecTag;
  AVColorPrimaries primaries = AVCOL_PRI_UNSPECIFIED;
  AVColorTransferCharacteristic transfer = AVCOL_TRC_UNSPECIFIED;
  AVColorSpace matrix = AVCOL_SPC_UNSPECIFIED;
  int profile = -1;
  bool hasAudio = false;
  double audioDuration = 0;
  std::vector<double> frameTimes;
};
MovieInfo probeMovie(const std::string& path);
// Every decoded picture of the first video track, as images.
std::vector<QImage> decodePictures(const std::string& path);

// A fresh private folder (the shared test helper) with names of files in it.
class TempDir {
 public:
  TempDir() : dir_("vantry-render-test"), path_(dir_.path.string()) {}
  const std::string& path() const { return path_; }
  std::string file(const std::string& name) const { return path_ + "/" + name; }
  // Names of the entries, sorted.
  std::vector<std::string> entries() const;

 private:
  test::TempDir dir_;
  std::string path_;
};

}  // namespace vantry::testing
