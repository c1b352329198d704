#include "capture/recording_recovery.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#include <QDateTime>
#include <algorithm>
#include <cerrno>
#include <chrono>
#include <filesystem>
#include <optional>

#include "capture/display_recorder.h"
#include "capture/pointer_journal.h"
#include "capture/recording_lock.h"
#include "localization/localization.h"
#include "localization/user_message.h"
#include "model/document_json.h"
#include "platform/durable_file.h"
#include "platform/ffmpeg/ff_util.h"
#include "platform/ffmpeg/movie_fragments.h"
#include "platform/studio_error.h"

namespace vantry {

namespace fs = std::filesystem;

namespace {

constexpr const char* kMovie = "screen.mp4";
constexpr const char* kDocument = "project.json";

struct MovieLength {
  bool opened = false;
  bool hasVideo = false;
  double end = 0;  // end of the last whole video packet
  int width = 0;
  int height = 0;
};

// Reads packet times only (no decoding); a torn last fragment ends the reading there.
MovieLength movieLength(const fs::path& file) {
  MovieLength m;
  ff::InputFormatPtr in = ff::openInput(file.string());
  if (!in) return m;
  m.opened = true;
  const int vi = av_find_best_stream(in.get(), AVMEDIA_TYPE_VIDEO, -1, -1, nullptr, 0);
  if (vi < 0) return m;
  m.width = in->streams[vi]->codecpar->width;
  m.height = in->streams[vi]->codecpar->height;
  const AVRational tb = in->streams[vi]->time_base;
  ff::PacketPtr pkt = ff::makePacket();
  while (av_read_frame(in.get(), pkt.get()) >= 0) {
    if (pkt->stream_index == vi && pkt->pts != AV_NOPTS_VALUE) {
      m.hasVideo = true;
      m.end = std::max(m.end, ff::toSeconds(pkt->pts + std::max<int64_t>(pkt->duration, 0), tb));
    }
    av_packet_unref(pkt.get());
  }
  return m;
}

// A companion file is part of the document only when it opens as a movie whose stream of
// that kind holds something (a disk that filled before the first fragment leaves none).
bool opensAsMovie(const fs::path& file, AVMediaType kind) {
  std::error_code ec;
  if (!fs::exists(file, ec)) return false;
  return movieHolds(file.string(), kind);
}

// The time of day the journal was last written: about when the recording ended.
QTime lastWritten(const fs::path& file) {
  std::error_code ec;
  const auto when = fs::last_write_time(file, ec);
  if (ec) return QTime::currentTime();
  const auto system = std::chrono::file_clock::to_sys(when);
  const auto ms =
      std::chrono::duration_cast<std::chrono::milliseconds>(system.time_since_epoch()).count();
  return QDateTime::fromMSecsSinceEpoch(ms).time();
}

std::string readFailure(const fs::path& file) {
  return L("无法读取文件 {0}。", shownPath(file.string()));
}

std::string documentFailure(const fs::path& dir) {
  return L("无法写入文件 {0}。", shownPath((dir / kDocument).string()));
}

// A file named by the journal: one of the folder's own, by a plain name.
std::optional<std::string> ownFile(const std::optional<std::string>& name) {
  if (!name || !isPlainFileName(*name)) return std::nullopt;
  return name;
}

// Rebuilds the document of `dir`, which `lock` holds.
Clip rebuild(const fs::path& dir, const RecordingLock& lock) {
  const fs::path journalPath = dir / kPointerJournalName;
  std::string error;
  const auto journal = readPointerJournal(journalPath.string(), &error);
  const JournalHeader h = journal ? journal->header : JournalHeader{};
  const auto cameraFile = ownFile(h.cameraFile);
  const auto audioFile = ownFile(h.audioFile);
  // The recording's own files: a tail torn inside a fragment (the process died while the
  // file was written) is made to end at its last whole frame, which reads again. Through
  // the folder as it was locked, never through a link.
  for (const auto& name : {std::optional<std::string>(kMovie), cameraFile, audioFile})
    if (name) repairCutMovie(lock.folder(), *name);
  // The movie the document is built on is the folder's own plain file (never a link, nor a
  // file with a name elsewhere), read through the descriptor that was checked.
  const int fd = ::openat(lock.folder(), kMovie, O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
  struct stat st {};
  const bool own = fd >= 0 && ::fstat(fd, &st) == 0 && S_ISREG(st.st_mode) &&
                   st.st_uid == ::geteuid() && st.st_nlink == 1;
  const MovieLength movie =
      own ? movieLength("/proc/self/fd/" + std::to_string(fd)) : MovieLength{};
  if (fd >= 0) ::close(fd);
  if (!movie.hasVideo || !(movie.end > 0)) throw StudioError(readFailure(dir / kMovie));
  if (!journal) throw StudioError(withDetail(readFailure(journalPath), error));

  Clip clip;
  clip.id = Uuid::random();
  clip.title = DisplayRecorder::titleAt(lastWritten(journalPath));
  clip.duration = movie.end;
  clip.screenPath = fs::absolute(dir / kMovie).string();
  clip.isDemo = false;
  clip.width = h.width > 0 ? h.width : movie.width;
  clip.height = h.height > 0 ? h.height : movie.height;
  if (cameraFile && opensAsMovie(dir / *cameraFile, AVMEDIA_TYPE_VIDEO)) {
    clip.cameraPath = fs::absolute(dir / *cameraFile).string();
    clip.cameraOffset = h.cameraOffset;
  }
  if (audioFile && opensAsMovie(dir / *audioFile, AVMEDIA_TYPE_AUDIO)) {
    clip.audioPath = fs::absolute(dir / *audioFile).string();
    clip.audioOffset = h.audioOffset;
  }
  std::vector<PointerSample> samples;
  samples.reserve(journal->samples.size());
  for (const auto& s : journal->samples) {
    if (s.time > clip.duration) break;
    samples.push_back(s);
  }
  clip.samples = std::move(samples);

  const std::string failedDocument = documentFailure(dir);
  std::string bytes;
  try {
    bytes = encodeClip(clip);
  } catch (const std::exception& e) {
    throw StudioError(withDetail(failedDocument, e.what()));
  }
  error = platform::writeFileAtomically(dir / kDocument, bytes);
  if (!error.empty())
    throw StudioError(systemFailure(failedDocument, systemErrorNumberOf(error), {}, error));
  std::error_code ignored;
  fs::remove(journalPath, ignored);
  return clip;
}

}  // namespace

bool needsRecovery(const std::string& folder) {
  std::error_code ec;
  const fs::path f(folder);
  return fs::is_regular_file(f / kMovie, ec) && fs::is_regular_file(f / kPointerJournalName, ec) &&
         !fs::exists(f / kDocument, ec);
}

std::optional<Clip> recoverRecording(const std::string& folder) {
  if (!needsRecovery(folder)) return std::nullopt;
  const fs::path dir(folder);
  // Held while this works: a recording still being made holds it, and so does another
  // recovery of the same folder.
  RecordingLock lock;
  int errnum = 0;
  if (!lock.tryTake(dir, &errnum)) {
    if (errnum == 0 || errnum == ENOENT) return std::nullopt;
    throw StudioError(systemFailure(documentFailure(dir), errnum));
  }
  if (!needsRecovery(folder)) return std::nullopt;  // recovered meanwhile
  // The space held for the document goes back whatever comes of this: room for the
  // document on a full disk, and nothing kept for ever by a folder that cannot be rebuilt.
  releaseDocumentReserve(folder);
  try {
    return rebuild(dir, lock);
  } catch (const std::exception&) {
    // No picture at all: nothing was recorded, and the journal alone opens nothing.
    const MovieLength movie = movieLength(dir / kMovie);
    if (movie.opened && !movie.hasVideo) {
      std::error_code ignored;
      fs::remove(dir / kPointerJournalName, ignored);
    }
    throw;
  }
}

RecoveryReport recoverRecordings(const std::string& recordingsFolder) {
  RecoveryReport report;
  std::error_code ec;
  std::vector<std::pair<fs::file_time_type, fs::path>> folders;
  for (fs::directory_iterator it(recordingsFolder, ec), end; !ec && it != end; it.increment(ec)) {
    std::error_code entry;
    // A link is none of our recording folders.
    if (it->is_symlink(entry) || !it->is_directory(entry) || !needsRecovery(it->path().string()))
      continue;
    folders.emplace_back(fs::last_write_time(it->path() / kPointerJournalName, entry), it->path());
  }
  std::sort(folders.begin(), folders.end());
  for (const auto& [when, folder] : folders) {
    try {
      // A recording still being made is left alone, and not spoken of.
      if (auto clip = recoverRecording(folder.string()))
        report.recovered.push_back({folder.string(), std::move(*clip)});
    } catch (const std::exception& e) {
      report.failed.emplace_back(folder.string(), e.what());
    }
  }
  return report;
}

std::string recoveryNotice(const RecoveryReport& report) {
  std::string text;
  if (!report.recovered.empty())
    text = L("已恢复 {0} 个意外中断的录屏。", int64_t(report.recovered.size()));
  for (const auto& failed : report.failed) {
    text = joinSentences({text, L("无法恢复 {0} 中意外中断的录屏。"
                                  "文件仍保留在那里：可以打开该文件夹取回需要的内容，或将其删除。",
                                  shownPath(failed.first))});
  }
  return text;
}

}  // namespace vantry
