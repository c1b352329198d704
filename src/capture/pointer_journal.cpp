#include "capture/pointer_journal.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cmath>
#include <cstring>
#include <filesystem>
#include <nlohmann/json.hpp>

#include "platform/screen_source.h"

namespace vantry {

namespace {

constexpr int kFormat = 1;
constexpr uint32_t kTag = 0x56500000;  // "VP" in the high half of the flags
constexpr uint32_t kTagMask = 0xffff0000;
constexpr uint32_t kClicked = 1;

uint32_t checksum(const unsigned char* bytes, size_t count) {
  uint32_t h = 2166136261u;  // FNV-1a
  for (size_t i = 0; i < count; ++i) {
    h ^= bytes[i];
    h *= 16777619u;
  }
  return h;
}

bool writeAll(int fd, const unsigned char* data, size_t size, std::string& error) {
  for (size_t done = 0; done < size;) {
    const ssize_t w = ::write(fd, data + done, size - done);
    if (w < 0) {
      if (errno == EINTR) continue;
      error = std::strerror(errno);
      return false;
    }
    done += size_t(w);
  }
  return true;
}

// A sample takes 24 bytes here and up to about 80 in each of the two documents written
// right after the stop ("project.json" and the first edit file); the rest is their fixed
// parts and "capture-timing.json".
constexpr int64_t kReserveFactor = 8;
constexpr int64_t kReserveBase = 64 * 1024;
constexpr int64_t kReserveStep = 64 * 1024;

std::string headerLine(const JournalHeader& h) {
  nlohmann::json j = {
      {"format", kFormat}, {"width", h.width}, {"height", h.height}, {"startClock", h.startClock}};
  if (h.cameraFile) j["cameraFile"] = *h.cameraFile;
  if (h.audioFile) j["audioFile"] = *h.audioFile;
  if (h.cameraOffset && std::isfinite(*h.cameraOffset)) j["cameraOffset"] = *h.cameraOffset;
  if (h.audioOffset && std::isfinite(*h.audioOffset)) j["audioOffset"] = *h.audioOffset;
  if (h.startTime && std::isfinite(*h.startTime)) j["startTime"] = *h.startTime;
  return j.dump() + "\n";
}

}  // namespace

PointerJournalWriter::~PointerJournalWriter() {
  close();
}

bool PointerJournalWriter::open(const std::string& path, JournalHeader header) {
  close();
  if (!header.startTime) {
    const double wall =
        std::chrono::duration<double>(std::chrono::system_clock::now().time_since_epoch()).count();
    header.startTime = wall - (platform::hostTime() - header.startClock);
  }
  fd_ = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_APPEND | O_CLOEXEC, 0600);
  if (fd_ < 0) {
    error_ = std::strerror(errno);
    return false;
  }
  const std::string line = headerLine(header);
  if (!writeAll(fd_, reinterpret_cast<const unsigned char*>(line.data()), line.size(), error_)) {
    close();
    return false;
  }
  written_ = int64_t(line.size());
  reservePath_ = (std::filesystem::path(path).parent_path() / kDocumentReserveName).string();
  reserveFd_ = ::open(reservePath_.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
  growReserve();
  return true;
}

void PointerJournalWriter::growReserve() {
  if (reserveFd_ < 0) return;
  const int64_t wanted = kReserveBase + kReserveFactor * written_;
  if (wanted <= reserved_) return;
  // A full disk keeps what was reserved so far.
  if (::posix_fallocate(reserveFd_, 0, off_t(wanted + kReserveStep)) == 0)
    reserved_ = wanted + kReserveStep;
}

void PointerJournalWriter::add(const PointerSample& s) {
  if (fd_ < 0) return;
  unsigned char r[kRecordSize];
  const double t = s.time;
  const float x = float(s.x);
  const float y = float(s.y);
  const uint32_t flags = kTag | (s.clicked ? kClicked : 0);
  std::memcpy(r, &t, 8);
  std::memcpy(r + 8, &x, 4);
  std::memcpy(r + 12, &y, 4);
  std::memcpy(r + 16, &flags, 4);
  const uint32_t sum = checksum(r, 20);
  std::memcpy(r + 20, &sum, 4);
  pending_.insert(pending_.end(), r, r + kRecordSize);
}

bool PointerJournalWriter::write() {
  if (fd_ < 0) return false;
  if (pending_.empty()) return true;
  const bool ok = writeAll(fd_, pending_.data(), pending_.size(), error_);
  if (ok) written_ += int64_t(pending_.size());
  pending_.clear();
  if (!ok) {
    // The reserve stays until close(): the document still needs it.
    ::close(fd_);
    fd_ = -1;
    return false;
  }
  growReserve();
  return true;
}

void PointerJournalWriter::close() {
  if (fd_ >= 0) ::close(fd_);
  fd_ = -1;
  pending_.clear();
  if (reserveFd_ >= 0) {
    ::close(reserveFd_);
    ::unlink(reservePath_.c_str());
  }
  reserveFd_ = -1;
  reserved_ = 0;
}

void releaseDocumentReserve(int folder) {
  ::unlinkat(folder, kDocumentReserveName, 0);
}

std::optional<JournalContents> readPointerJournal(const std::string& path, std::string* error) {
  const int fd = ::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
  if (fd < 0) {
    if (error) *error = std::strerror(errno);
    return std::nullopt;
  }
  auto contents = readPointerJournal(fd, error);
  ::close(fd);
  return contents;
}

std::optional<JournalContents> readPointerJournal(int fd, std::string* error) {
  auto fail = [&](std::string text) -> std::optional<JournalContents> {
    if (error) *error = std::move(text);
    return std::nullopt;
  };
  std::string bytes;
  char buffer[65536];
  for (off_t at = 0;;) {
    const ssize_t n = ::pread(fd, buffer, sizeof buffer, at);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) return fail(std::strerror(errno));
    if (n == 0) break;
    bytes.append(buffer, size_t(n));
    at += n;
  }
  const size_t newline = bytes.find('\n');
  if (newline == std::string::npos) return fail("incomplete header");

  JournalContents out;
  try {
    const auto j = nlohmann::json::parse(bytes.substr(0, newline));
    if (j.at("format").get<int>() != kFormat) return fail("unknown format");
    out.header.width = j.at("width").get<int64_t>();
    out.header.height = j.at("height").get<int64_t>();
    out.header.startClock = j.at("startClock").get<double>();
    if (j.contains("cameraFile")) out.header.cameraFile = j["cameraFile"].get<std::string>();
    if (j.contains("audioFile")) out.header.audioFile = j["audioFile"].get<std::string>();
    if (j.contains("cameraOffset")) out.header.cameraOffset = j["cameraOffset"].get<double>();
    if (j.contains("audioOffset")) out.header.audioOffset = j["audioOffset"].get<double>();
    if (j.contains("startTime")) out.header.startTime = j["startTime"].get<double>();
  } catch (const std::exception& e) {
    return fail(e.what());
  }

  const auto* p = reinterpret_cast<const unsigned char*>(bytes.data()) + newline + 1;
  size_t left = bytes.size() - newline - 1;
  constexpr size_t n = PointerJournalWriter::kRecordSize;
  out.samples.reserve(left / n);
  for (; left >= n; p += n, left -= n) {
    uint32_t flags = 0, sum = 0;
    double t = 0;
    float x = 0, y = 0;
    std::memcpy(&t, p, 8);
    std::memcpy(&x, p + 8, 4);
    std::memcpy(&y, p + 12, 4);
    std::memcpy(&flags, p + 16, 4);
    std::memcpy(&sum, p + 20, 4);
    if (sum != checksum(p, 20) || (flags & kTagMask) != kTag || !std::isfinite(t)) break;
    out.samples.push_back(PointerSample{t, double(x), double(y), (flags & kClicked) != 0});
  }
  out.torn = left > 0;
  return out;
}

}  // namespace vantry
