// The export flow: the sheet's state, the destination, the run on its own thread and its
// progress, result, cancellation and failure.
#include <QFileInfo>
#include <QLocale>
#include <cmath>

#include "localization/localization.h"
#include "platform/memory_release.h"
#include "render/movie_exporter.h"
#include "render/render_error.h"
#include "studio/export_run.h"

namespace vantry {

void Studio::exportMovie() {
  if (standby_ || recording_ || busy_ || exporting_) return;
  saveNow();
  resetExportResult();
  setShowingExport(true);
}

void Studio::resetExportResult() {
  if (exporting_) return;
  exportProgress_ = 0;
  exportStartedAt_.reset();
  exportFinishedAt_.reset();
  exportResultURL_.reset();
  exportFailure_.reset();
  exportCancelled_ = false;
  exportCancelling_ = false;
  emit changed();
}

void Studio::dismissExport() {
  if (exporting_) return;
  setShowingExport(false);
}

void Studio::beginExport() {
  if (!showingExport_ || standby_ || recording_ || busy_ || exporting_) return;
  saveNow();
  if (!showingExport_ || standby_ || recording_ || busy_ || exporting_) return;
  const auto options = exportOptions_;
  const auto extension = options.fileExtension();
  const auto suggested =
      exportFileName(QDateTime::currentDateTime(), clip_.isDemo) + "." + extension;
  if (!services_.dialogs) return;
  auto chosen = services_.dialogs->chooseExportDestination(suggested, options);
  if (!chosen || chosen->empty()) return;
  if (QFileInfo(QString::fromStdString(*chosen))
          .suffix()
          .compare(QString::fromStdString(extension), Qt::CaseInsensitive) != 0)
    *chosen += "." + extension;
  beginExportTo(*chosen);
}

void Studio::beginExportTo(const std::string& destination) {
  // Checked again: the state may have changed while the dialog was up.
  if (standby_ || recording_ || busy_ || exporting_) return;
  setPlaying(false);
  if (voice_) voice_->pause();

  exportFailure_.reset();
  exportStartedAt_ = QDateTime::currentDateTime();
  exportFinishedAt_.reset();
  exportResultURL_.reset();
  exportCancelled_ = false;
  exportCancelling_ = false;
  exportID_ = Uuid::random();
  setExporting(true);
  setExportProgress(0);

  if (!exportRun_) exportRun_ = std::make_unique<ExportRun>();
  ExportRun& run = *exportRun_;
  const Uuid id = exportID_;
  const auto options = exportOptions_;

  enum class Outcome { done, cancelled, failed };
  auto finish = [this, id, destination, options](Outcome outcome, const std::string& failure) {
    if (id != exportID_) return;
    switch (outcome) {
      case Outcome::done:
        exportProgress_ = 1;
        exportResultURL_ = destination;
        setNotice(L("导出完成 · ") + options.summary());
        break;
      case Outcome::cancelled:
        exportCancelled_ = true;
        setNotice(L("已取消导出 · 项目和原始录屏已保留"));
        break;
      case Outcome::failed:
        exportFailure_ = failure;
        setNotice(L("导出失败 · 可调整设置后重试"));
        break;
    }
    exportCancelling_ = false;
    exportFinishedAt_ = QDateTime::currentDateTime();
    setExporting(false);
  };

  // Assigning joins the previous run, which has already ended.
  run.thread =
      std::jthread([this, &run, id, clip = clip_, settings = settings_, options, destination,
                    finish, exporter = run.exporter, document = projectURL_](std::stop_token stop) {
        auto progress = [this, &run, id](double value) {
          run.toMain([this, id, value] {
            if (!exporting_ || id != exportID_) return;
            const double v = std::isnan(value) ? 0.0 : std::clamp(value, 0.0, 1.0);
            if (v > exportProgress_) setExportProgress(v);
          });
        };
        Outcome outcome = Outcome::done;
        std::string failure;
        try {
          if (exporter)
            exporter(clip, settings, options, destination, progress, stop);
          else {
            MovieExporter movies;
            // The open project's own document is never a destination.
            if (document) movies.setDocumentPath(*document);
            movies.exportMovie(clip, settings, options, destination, progress, stop);
          }
        } catch (const CancelledError&) {
          outcome = Outcome::cancelled;
        } catch (const std::exception& e) {
          outcome = stop.stop_requested() ? Outcome::cancelled : Outcome::failed;
          failure = e.what();
        }
        // The export's pictures and encoders stay with the allocator otherwise.
        platform::releaseFreedMemory();
        run.toMain([finish, outcome, failure] { finish(outcome, failure); });
      });
}

void Studio::cancelExport() {
  if (!exporting_ || exportCancelling_) return;
  exportCancelling_ = true;
  emit changed();
  if (exportRun_) exportRun_->thread.request_stop();
}

std::string Studio::exportFileName(const QDateTime& date, bool demo) {
  const auto stamp = QLocale::c().toString(date.toLocalTime(), "yyyy-MM-dd 'at' HH.mm.ss");
  return std::string("Vantry ") + (demo ? "Demo " : "") + stamp.toStdString();
}

}  // namespace vantry
