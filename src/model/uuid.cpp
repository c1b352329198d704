#include "model/uuid.h"

#include <random>

namespace vantry {

namespace {

std::mt19937_64& generator() {
  thread_local std::mt19937_64 engine = [] {
    std::random_device device;
    std::seed_seq seed{device(), device(), device(), device(),
                       device(), device(), device(), device()};
    return std::mt19937_64(seed);
  }();
  return engine;
}

int hexValue(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

bool isHyphenPosition(std::size_t i) {
  return i == 8 || i == 13 || i == 18 || i == 23;
}

}  // namespace

Uuid Uuid::random() {
  Bytes bytes;
  auto& engine = generator();
  const std::uint64_t high = engine();
  const std::uint64_t low = engine();
  for (int i = 0; i < 8; ++i) {
    bytes[i] = static_cast<std::uint8_t>(high >> (8 * i));
    bytes[8 + i] = static_cast<std::uint8_t>(low >> (8 * i));
  }
  bytes[6] = static_cast<std::uint8_t>((bytes[6] & 0x0F) | 0x40);  // version 4
  bytes[8] = static_cast<std::uint8_t>((bytes[8] & 0x3F) | 0x80);  // RFC 4122 variant
  return Uuid(bytes);
}

std::optional<Uuid> Uuid::parse(std::string_view text) {
  if (text.size() != 36) return std::nullopt;
  Bytes bytes{};
  std::size_t byte = 0;
  int pending = -1;
  for (std::size_t i = 0; i < text.size(); ++i) {
    if (isHyphenPosition(i)) {
      if (text[i] != '-') return std::nullopt;
      continue;
    }
    const int value = hexValue(text[i]);
    if (value < 0) return std::nullopt;
    if (pending < 0) {
      pending = value;
    } else {
      bytes[byte++] = static_cast<std::uint8_t>(pending << 4 | value);
      pending = -1;
    }
  }
  return Uuid(bytes);
}

std::string Uuid::toString() const {
  static constexpr char kDigits[] = "0123456789ABCDEF";
  std::string text;
  text.reserve(36);
  for (std::size_t i = 0; i < bytes_.size(); ++i) {
    if (i == 4 || i == 6 || i == 8 || i == 10) text.push_back('-');
    text.push_back(kDigits[bytes_[i] >> 4]);
    text.push_back(kDigits[bytes_[i] & 0x0F]);
  }
  return text;
}

}  // namespace vantry

std::size_t std::hash<vantry::Uuid>::operator()(const vantry::Uuid& id) const noexcept {
  std::uint64_t a = 0;
  std::uint64_t b = 0;
  for (int i = 0; i < 8; ++i) {
    a |= std::uint64_t{id.bytes()[i]} << (8 * i);
    b |= std::uint64_t{id.bytes()[8 + i]} << (8 * i);
  }
  return static_cast<std::size_t>(a ^ (b * 0x9E3779B97F4A7C15ULL));
}
