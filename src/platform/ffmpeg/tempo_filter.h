// Plays interleaved float sound faster or slower without changing its pitch (libavfilter's
// atempo). Output counts frames/tempo for every input of `frames`, less the little the
// filter keeps back until finish().
#pragma once

#include <memory>
#include <string>
#include <vector>

struct AVFilterGraph;
struct AVFilterContext;

namespace vantry {

class TempoFilter {
 public:
  // `tempo` between 0.5 and 2. Null with `error` when the filter cannot be built.
  static std::unique_ptr<TempoFilter> make(int rate, int channels, double tempo,
                                           std::string* error);
  ~TempoFilter();
  TempoFilter(const TempoFilter&) = delete;
  TempoFilter& operator=(const TempoFilter&) = delete;

  double tempo() const { return tempo_; }
  // Feeds `frames` frames and appends whatever the filter gives out to `out`.
  bool push(const float* samples, int frames, std::vector<float>& out, std::string* error);
  // Ends the input and appends the rest.
  bool finish(std::vector<float>& out, std::string* error);

 private:
  TempoFilter() = default;
  bool drain(std::vector<float>& out, std::string* error);

  AVFilterGraph* graph_ = nullptr;
  AVFilterContext* source_ = nullptr;
  AVFilterContext* sink_ = nullptr;
  int rate_ = 48000;
  int channels_ = 1;
  double tempo_ = 1;
  long long pts_ = 0;
};

}  // namespace vantry
