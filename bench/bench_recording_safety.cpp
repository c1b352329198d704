// What keeping a recording safe costs and buys, run by hand:
//  - the pointer journal: CPU time and bytes per minute of recording (60 samples a second,
//    written twice a second), and the disk space held in reserve for the document;
//  - the microphone drift: a source whose clock runs 200 ppm fast, over a simulated hour,
//    where its clicks land in the voice track before (samples passed one for one) and after
//    compensation.
#include <cmath>
#include <cstdio>
#include <filesystem>
#include <vector>

#include "capture/microphone_track.h"
#include "capture/pointer_journal.h"
#include "cpu_time.h"

using namespace vantry;
namespace fs = std::filesystem;

namespace {

void journalCost() {
  const fs::path dir = fs::temp_directory_path() / "vantry-bench-journal";
  fs::create_directories(dir);
  const std::string path = (dir / kPointerJournalName).string();
  constexpr int kMinutes = 60;
  PointerJournalWriter journal;
  JournalHeader header;
  header.width = 2560;
  header.height = 1440;
  header.startClock = 1000;
  const double before = bench::cpuSeconds();
  if (!journal.open(path, header)) {
    std::printf("journal: cannot open %s: %s\n", path.c_str(), journal.error().c_str());
    return;
  }
  int64_t reserve = 0;
  for (int i = 0; i < kMinutes * 3600; ++i) {
    journal.add(PointerSample{i / 60.0, 0.5 + 0.4 * std::sin(i * 0.01), 0.5, i % 300 == 0});
    if (i % 30 == 29) journal.write();
    if (i == kMinutes * 3600 - 1) reserve = int64_t(fs::file_size(dir / kDocumentReserveName));
  }
  journal.write();
  const double cpu = bench::cpuSeconds() - before;
  const auto bytes = int64_t(fs::file_size(path));
  journal.close();
  fs::remove_all(dir);
  std::printf("journal: %.1f KB and %.3f ms CPU per minute of recording (%d min simulated)\n",
              double(bytes) / kMinutes / 1024, cpu * 1000 / kMinutes, kMinutes);
  std::printf("journal: space reserved for the document after an hour: %.1f MB\n",
              double(reserve) / (1024 * 1024));
}

void drift() {
  constexpr int kRate = 48000;
  constexpr double kPpm = 200;
  const double actual = kRate * (1 + kPpm * 1e-6);
  const double begin = 1000, origin = begin - 0.5;
  std::vector<double> after;
  int64_t position = 0;
  MicrophoneTrack track(kRate, [&](const float* s, int n, double) {
    for (int i = 0; i < n; ++i, ++position)
      if (s[i] > 0.5f) after.push_back(double(position) / kRate);
  });
  track.begin(begin);
  std::vector<float> buffer(480);
  const auto total = uint64_t(3600.5 * actual);
  auto clickIndex = [&](int n) {
    return uint64_t(std::llround((begin + 60.0 * n - origin) * actual));
  };
  int k = 1;
  uint64_t next = clickIndex(k);
  double worstBefore = 0;
  uint32_t noise = 1;
  const double cpu0 = bench::cpuSeconds();
  for (uint64_t i = 0; i < total; i += buffer.size()) {
    std::fill(buffer.begin(), buffer.end(), 0.0f);
    while (next < i + buffer.size()) {
      buffer[next - i] = 1.0f;
      // One for one, the click would sit at its input index past the track's first sample.
      const double placed = double(next - uint64_t(std::llround(0.5 * kRate))) / kRate;
      worstBefore = std::max(worstBefore, std::abs(placed - 60.0 * k));
      next = clickIndex(++k);
    }
    noise = noise * 1664525u + 1013904223u;
    platform::AudioChunk c;
    c.samples = buffer.data();
    c.count = buffer.size();
    c.firstIndex = i;
    c.firstSampleTime =
        origin + double(i) / actual + (double(noise >> 8) / (1u << 24) - 0.5) * 1e-3;
    c.arrivalTime = c.firstSampleTime + 0.012;
    track.add(c);
  }
  track.flush();
  const double cpu = bench::cpuSeconds() - cpu0;
  double worstAfter = 0;
  for (size_t n = 0; n < after.size(); ++n)
    worstAfter = std::max(worstAfter, std::abs(after[n] - 60.0 * double(n + 1)));
  std::printf(
      "drift (%.0f ppm fast, 1 h): worst %.1f ms before, %.2f ms after compensation "
      "(%zu clicks), measured ratio %.7f, %.2f s CPU for the hour\n",
      kPpm, worstBefore * 1000, worstAfter * 1000, after.size(), track.driftRatio(), cpu);
}

}  // namespace

int main() {
  journalCost();
  drift();
}
