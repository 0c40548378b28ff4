// The scrambling the host applies to the sensitive values of causarium.ini
// (credentials and proxy settings). Both sides must agree on every bit, so the
// generator and the layout below follow the host exactly.
//
// A stored value reads: 4 hex digits of the key K, 8 digits of the scrambled
// length (four hex digits XORed), 2 digits per byte of the value, then 0 to 18
// digits of filler. Values are Windows-1252 bytes on the host; this class takes
// and gives UTF-8.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "config/Clock.h"

namespace cau {

class Scrambler {
 public:
  // The host's generator starts at zero and seeds itself from the time of day
  // on the first Scramble; a non-zero `state` skips that (tests).
  explicit Scrambler(const Clock& clock, std::uint64_t state = 0);

  // Throws cau::Error when the value is longer than 65535 bytes (the length
  // field holds four hex digits).
  std::string Scramble(std::string_view utf8);

  // Empty for a text of 3 characters or fewer, and for any text that is not a
  // well-formed scrambled value.
  std::string Unscramble(std::string_view stored);

  std::uint64_t State() const { return state_; }

 private:
  std::uint32_t NextRandom();
  void Seed(std::uint32_t v);
  std::string XorStream(std::uint32_t seed, std::string_view bytes);

  const Clock& clock_;
  std::uint64_t state_;
};

// The host keeps one generator for the whole process: reading values moves it,
// and that decides the keys of later Scramble calls. This is that one
// generator, on the system clock. Code that needs its own (tests, tools that
// want a fixed state) makes a Scrambler of its own.
Scrambler& ProcessScrambler();

std::string Scramble(std::string_view utf8);
std::string Unscramble(std::string_view stored);

}  // namespace cau
