// The controller's running export: one thread at a time, stopped through its stop token;
// its progress and result come back to the main thread carrying the run's id.
#pragma once

#include <QObject>
#include <functional>
#include <stop_token>
#include <string>
#include <thread>

#include "studio/queued_task.h"
#include "studio/studio.h"

namespace vantry {

struct Studio::ExportRun {
  using Exporter = std::function<void(
      const Clip&, const EditSettings&, const ExportOptions&, const std::string& destination,
      const std::function<void(double)>& progress, std::stop_token stop)>;

  // Stops a run still going and joins it.
  ~ExportRun() = default;

  // Any thread: runs `f` on the main thread (dropped once the run's owner is gone).
  void toMain(std::function<void()> f) { postTask(&relay, std::move(f)); }

  // Empty: MovieExporter (tests put a scripted one here).
  Exporter exporter;
  QObject relay;
  // Declared last so that it is joined first: its posts go to a living relay.
  std::jthread thread;
};

}  // namespace vantry
