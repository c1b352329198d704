// 128-bit identifiers of the document: random (version 4) when made, written in
// upper case, read in either case.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>

namespace vantry {

class Uuid {
 public:
  using Bytes = std::array<std::uint8_t, 16>;

  // All zero bytes; use random() for a fresh identity.
  constexpr Uuid() = default;
  constexpr explicit Uuid(const Bytes& bytes) : bytes_(bytes) {}

  static Uuid random();
  // The 8-4-4-4-12 hexadecimal text form, any letter case; anything else is refused.
  static std::optional<Uuid> parse(std::string_view text);

  // Upper-case 36-character text form.
  std::string toString() const;

  const Bytes& bytes() const { return bytes_; }

  friend bool operator==(const Uuid&, const Uuid&) = default;
  friend auto operator<=>(const Uuid&, const Uuid&) = default;

 private:
  Bytes bytes_{};
};

}  // namespace vantry

template <>
struct std::hash<vantry::Uuid> {
  std::size_t operator()(const vantry::Uuid& id) const noexcept;
};
