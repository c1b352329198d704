#include "capture/recording_recovery.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#include <QDateTime>
#include <algorithm>
#include <cerrno>
#include <cstring>
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

// How far a recording may run past its journal's last sample: the journal is written every
// half second, and a busy writer queue may fall behind by a little more.
constexpr double kJournalLag = 2.0;
// How far the wall clock may have been set back while the files were written.
constexpr double kClockSlack = 2.0;

// A file of the folder's own, opened through the folder's descriptor for reading: a regular
// file of this user with no second name, never a link, nor waited on. -1 otherwise.
class OwnFile {
 public:
  OwnFile(int folder, const std::string& name) {
    fd_ = ::openat(folder, name.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
    error_ = fd_ < 0 ? errno : 0;
    if (fd_ >= 0 && (::fstat(fd_, &st_) != 0 || !platform::isOwnSingleFile(st_))) {
      ::close(fd_);
      fd_ = -1;
      error_ = EINVAL;
    }
  }
  ~OwnFile() {
    if (fd_ >= 0) ::close(fd_);
  }
  OwnFile(const OwnFile&) = delete;
  OwnFile& operator=(const OwnFile&) = delete;

  bool opened() const { return fd_ >= 0; }
  int fd() const { return fd_; }
  // Why it was not opened: the system's text.
  std::string error() const { return std::strerror(error_); }
  const struct stat& status() const { return st_; }
  // The opened file itself, by a name FFmpeg can open.
  std::string path() const { return "/proc/self/fd/" + std::to_string(fd_); }

 private:
  int fd_ = -1;
  int error_ = 0;
  struct stat st_ {};
};

// Whether the folder's own file `name` holds packets of `kind` (a disk that filled before
// the first fragment leaves none): a companion file is part of the document only then.
bool holds(int folder, const std::string& name, AVMediaType kind) {
  const OwnFile file(folder, name);
  return file.opened() && movieHolds(file.path(), kind);
}

double seconds(const struct timespec& t) {
  return double(t.tv_sec) + double(t.tv_nsec) / 1e9;
}

// The wall-clock time the file open as `fd` was made at, where the file system keeps it.
std::optional<double> bornAt(int fd) {
  struct statx sx {};
  if (::statx(fd, "", AT_EMPTY_PATH, STATX_BTIME, &sx) != 0 || !(sx.stx_mask & STATX_BTIME))
    return std::nullopt;
  return double(sx.stx_btime.tv_sec) + double(sx.stx_btime.tv_nsec) / 1e9;
}

// The longest the recording can have lasted, by what the folder itself says rather than by
// what any box of the movie claims: its pointer track was sampled as long as it recorded,
// and its files were written from its time 0 (the journal's header, or the journal's birth)
// to its last moment. None when nothing says.
std::optional<double> longestPossible(const JournalContents& journal, const OwnFile& journalFile,
                                      const OwnFile& movieFile) {
  std::optional<double> longest;
  if (!journal.samples.empty()) longest = journal.samples.back().time + kJournalLag;
  const std::optional<double> start =
      journal.header.startTime ? journal.header.startTime : bornAt(journalFile.fd());
  if (start) {
    const double lastWrite =
        std::max(seconds(journalFile.status().st_mtim), seconds(movieFile.status().st_mtim));
    const double span = lastWrite - *start + kClockSlack;
    if (span > 0) longest = std::max(longest.value_or(0), span);
  }
  return longest;
}

struct MovieLength {
  bool hasVideo = false;
  double end = 0;  // end of the last whole video packet
  int width = 0;
  int height = 0;
};

// Reads packet times only (no decoding); a torn last fragment ends the reading there. With
// `longest`, a packet that claims to start later is passed over and none ends later.
MovieLength movieLength(const std::string& file, std::optional<double> longest) {
  MovieLength m;
  ff::InputFormatPtr in = ff::openInput(file);
  if (!in) return m;
  const int vi = av_find_best_stream(in.get(), AVMEDIA_TYPE_VIDEO, -1, -1, nullptr, 0);
  if (vi < 0) return m;
  m.width = in->streams[vi]->codecpar->width;
  m.height = in->streams[vi]->codecpar->height;
  const AVRational tb = in->streams[vi]->time_base;
  ff::PacketPtr pkt = ff::makePacket();
  while (av_read_frame(in.get(), pkt.get()) >= 0) {
    if (pkt->stream_index == vi && pkt->pts != AV_NOPTS_VALUE) {
      const double start = ff::toSeconds(pkt->pts, tb);
      double end = ff::toSeconds(pkt->pts + std::max<int64_t>(pkt->duration, 0), tb);
      if (longest) end = std::min(end, *longest);
      if (!longest || start <= *longest) {
        m.hasVideo = true;
        m.end = std::max(m.end, end);
      }
    }
    av_packet_unref(pkt.get());
  }
  return m;
}

// The time of day the file was last written.
QTime lastWritten(const struct stat& st) {
  const qint64 ms = qint64(st.st_mtim.tv_sec) * 1000 + st.st_mtim.tv_nsec / 1000000;
  return QDateTime::fromMSecsSinceEpoch(ms).time();
}

std::string readFailure(const fs::path& file) {
  return L("无法读取文件 {0}。", shownPath(file.string()));
}

// A file named by the journal: one of the folder's own, by a plain name.
std::optional<std::string> ownFile(const std::optional<std::string>& name) {
  if (!name || !isPlainFileName(*name)) return std::nullopt;
  return name;
}

// Movies, pointer journal and no document: the folder open as `folder` is one a recording
// left behind (or one still being made).
bool needsRecoveryIn(int folder) {
  struct stat st {};
  return ::fstatat(folder, kMovie, &st, AT_SYMLINK_NOFOLLOW) == 0 &&
         ::fstatat(folder, kPointerJournalName, &st, AT_SYMLINK_NOFOLLOW) == 0 &&
         ::fstatat(folder, kDocument, &st, AT_SYMLINK_NOFOLLOW) != 0 && errno == ENOENT;
}

// Rebuilds the document of `dir`, which `lock` holds. Every file is read through the folder's
// descriptor; on any failure no document is written and nothing removed.
Clip rebuild(const fs::path& dir, const RecordingLock& lock) {
  const int folder = lock.folder();
  const fs::path journalPath = dir / kPointerJournalName;
  const OwnFile journalFile(folder, kPointerJournalName);
  std::string error = journalFile.error();
  auto journal = journalFile.opened() ? readPointerJournal(journalFile.fd(), &error) : std::nullopt;
  if (!journal) throw StudioError(withDetail(readFailure(journalPath), error));
  const JournalHeader& h = journal->header;
  const auto cameraFile = ownFile(h.cameraFile);
  const auto audioFile = ownFile(h.audioFile);
  // The movie the document is built on is the folder's own plain file (never a link, nor a
  // file with a name elsewhere), read through the descriptor that was checked. How long the
  // recording can have lasted is taken before a repair writes it.
  const OwnFile movieFile(folder, kMovie);
  const std::optional<double> longest =
      movieFile.opened() ? longestPossible(*journal, journalFile, movieFile) : std::nullopt;
  // The recording's own files: a tail torn inside a fragment (the process died while the
  // file was written) is made to end at its last whole frame, which reads again. Through
  // the folder as it was locked, never through a link.
  for (const auto& name : {std::optional<std::string>(kMovie), cameraFile, audioFile})
    if (name) repairCutMovie(folder, *name);
  const MovieLength movie =
      movieFile.opened() ? movieLength(movieFile.path(), longest) : MovieLength{};
  if (!movie.hasVideo || !(movie.end > 0)) throw StudioError(readFailure(dir / kMovie));

  Clip clip;
  clip.id = Uuid::random();
  clip.title = DisplayRecorder::titleAt(lastWritten(journalFile.status()));
  clip.duration = movie.end;
  clip.screenPath = fs::absolute(dir / kMovie).string();
  clip.isDemo = false;
  clip.width = h.width > 0 ? h.width : movie.width;
  clip.height = h.height > 0 ? h.height : movie.height;
  if (cameraFile && holds(folder, *cameraFile, AVMEDIA_TYPE_VIDEO)) {
    clip.cameraPath = fs::absolute(dir / *cameraFile).string();
    clip.cameraOffset = h.cameraOffset;
  }
  if (audioFile && holds(folder, *audioFile, AVMEDIA_TYPE_AUDIO)) {
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

  // A document the app would refuse is no recovery: nothing is written, the journal stays.
  std::string bytes;
  try {
    bytes = encodeClip(clip);
  } catch (const std::exception& e) {
    throw StudioError(appendSentence(
        withReason(L("无法用 {0} 中的录屏重建出可以打开的项目。", shownPath(dir.string())),
                   e.what()),
        L("录制的文件都原样保留。")));
  }
  // The space held for the document goes back for it: room on a full disk.
  releaseDocumentReserve(folder);
  error = platform::writeFileAtomicallyAt(folder, kDocument, bytes);
  if (!error.empty()) {
    throw StudioError(systemFailure(L("无法写入文件 {0}。", shownPath((dir / kDocument).string())),
                                    systemErrorNumberOf(error), {}, error));
  }
  ::unlinkat(folder, kPointerJournalName, 0);
  return clip;
}

}  // namespace

bool needsRecovery(const std::string& folder) {
  const int fd = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
  if (fd < 0) return false;
  const bool needs = needsRecoveryIn(fd);
  ::close(fd);
  return needs;
}

std::optional<Clip> recoverRecording(const std::string& folder) {
  const fs::path dir(folder);
  // Held while this works: a recording still being made holds it, and so does another
  // recovery of the same folder.
  RecordingLock lock;
  int errnum = 0;
  if (!lock.tryTake(dir, &errnum)) {
    if (errnum == 0 || errnum == ENOENT) return std::nullopt;
    if (errnum == ELOOP)
      throw StudioError(L("录制文件夹 {0} 是符号链接，不会从它恢复。", shownPath(folder)));
    throw StudioError(systemFailure(L("无法打开录屏文件夹 {0}。", shownPath(folder)), errnum));
  }
  if (!needsRecoveryIn(lock.folder())) return std::nullopt;
  return rebuild(dir, lock);
}

RecoveryReport recoverRecordings(const std::string& recordingsFolder, std::stop_token stop) {
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
    // The rest wait for the next start.
    if (stop.stop_requested()) break;
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
