// A small deterministic generator (splitmix64): the same seed gives the same
// numbers on every platform, which is what makes the sample files repeatable.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

namespace cau::mkhost {

inline uint64_t Mix(uint64_t x) {
  x += 0x9E3779B97F4A7C15ULL;
  x = (x ^ (x >> 30)) * 0xBF58476D1CE4E5B9ULL;
  x = (x ^ (x >> 27)) * 0x94D049BB133111EBULL;
  return x ^ (x >> 31);
}

class Rng {
 public:
  explicit Rng(uint64_t seed) : state_(seed) {}
  // A stream of its own for item `index` of kind `stream` under `seed`.
  static Rng For(uint64_t seed, uint64_t stream, uint64_t index) {
    return Rng(Mix(Mix(seed) ^ Mix(stream * 0x100000001B3ULL + index)));
  }

  uint64_t Next() { return Mix(state_++); }
  uint64_t Below(uint64_t n) { return n == 0 ? 0 : Next() % n; }
  int Range(int lo, int hi) { return lo + int(Below(uint64_t(hi - lo + 1))); }
  bool Percent(int p) { return Below(100) < uint64_t(p); }
  bool PerMille(int p) { return Below(1000) < uint64_t(p); }
  template <typename T, std::size_t N>
  const T& Pick(const T (&items)[N]) {
    return items[Below(N)];
  }
  template <typename T>
  const T& Pick(const std::vector<T>& items) {
    return items[Below(items.size())];
  }

 private:
  uint64_t state_;
};

}  // namespace cau::mkhost
