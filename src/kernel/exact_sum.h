// An exact, order-independent sum of doubles: a signed 128-bit fixed-point
// accumulator at the binary scale 2^-60. Each added double is rounded once to
// that grid (to nearest, ties to even, under the default floating-point
// rounding mode, which the program never changes; the rounding of a value
// never depends on what was added before); after that every addition is an integer
// addition, which is associative, so any order or grouping of the same values
// (threads, MPI processes, reductions of partial sums) gives the same bits.
//
// Range and resolution: magnitudes below 2^67 (about 1.47e20) with an absolute
// resolution of 2^-60 (about 8.7e-19). Every double of magnitude 2^-8 or more
// and below 2^67 lies on the grid and round-trips exactly.
//
// A value that does not fit (magnitude 2^67 or more, an infinity, a NaN) or a
// sum that would leave the 128-bit range never wraps: the sum becomes invalid
// for good (until Clear), and ToDouble gives a quiet NaN, so a caller sees
// the failure in its result or can test Valid().
//
// Trivially copyable, three 64-bit words (sent over MPI as such), no
// allocation. Not thread-safe: concurrent adders serialise their calls or
// keep one sum each and add the sums afterwards.
#pragma once

#include <cmath>
#include <cstdint>
#include <limits>

namespace tavro {

#if !defined(__SIZEOF_INT128__)
#error "ExactSum needs a compiler with a 128-bit integer type"
#endif

class ExactSum {
public:
  static constexpr int FractionBits = 60;
  // Smallest step of the grid.
  static constexpr double Resolution = 0x1p-60;
  // Magnitudes at or above this are refused (they make the sum invalid).
  static constexpr double Limit = 0x1p67;

  constexpr ExactSum() = default;
  explicit ExactSum(double value) noexcept { Add(value); }

  void Add(double value) noexcept {
    // A NaN fails the comparison as well.
    if (!(std::fabs(value) < Limit)) {
      MarkInvalid();
      return;
    }
    // Scaling by a power of two is exact; one rounding to an integer follows.
    const double scaled = std::nearbyint(value * Scale);
    // An integer below 2^63 in magnitude converts exactly through 64 bits,
    // one instruction instead of the library's 128-bit conversion.
    if (std::fabs(scaled) < 0x1p63)
      AddInteger(static_cast<Int128>(static_cast<std::int64_t>(scaled)));
    else
      AddInteger(static_cast<Int128>(scaled));
  }

  void Add(const ExactSum &other) noexcept {
    if (other.invalid_ != 0)
      MarkInvalid();
    else
      AddInteger(other.Load());
  }

  ExactSum &operator+=(double value) noexcept {
    Add(value);
    return *this;
  }
  ExactSum &operator+=(const ExactSum &other) noexcept {
    Add(other);
    return *this;
  }

  // The sum rounded once to the nearest double; a quiet NaN when invalid.
  double ToDouble() const noexcept {
    if (invalid_ != 0)
      return std::numeric_limits<double>::quiet_NaN();
    // The integer-to-double conversion is the only rounding; scaling back by
    // a power of two is exact (no result falls into the subnormal range).
    return static_cast<double>(Load()) * Resolution;
  }

  bool Valid() const noexcept { return invalid_ == 0; }
  bool IsZero() const noexcept { return invalid_ == 0 && low_ == 0 && high_ == 0; }

  void Clear() noexcept { *this = ExactSum(); }

  friend bool operator==(const ExactSum &, const ExactSum &) = default;

private:
  __extension__ using Int128 = __int128;
  __extension__ using UInt128 = unsigned __int128;
  static constexpr double Scale = 0x1p60;

  Int128 Load() const noexcept {
    return static_cast<Int128>((static_cast<UInt128>(high_) << 64) | low_);
  }
  void Store(Int128 value) noexcept {
    const auto bits = static_cast<UInt128>(value);
    low_ = static_cast<std::uint64_t>(bits);
    high_ = static_cast<std::uint64_t>(bits >> 64);
  }
  void AddInteger(Int128 addend) noexcept {
    if (invalid_ != 0)
      return;
    Int128 sum = 0;
    if (__builtin_add_overflow(Load(), addend, &sum)) {
      MarkInvalid();
      return;
    }
    Store(sum);
  }
  // An invalid sum has one representation, so equal results compare equal.
  void MarkInvalid() noexcept {
    low_ = 0;
    high_ = 0;
    invalid_ = 1;
  }

  // Two's complement value in two words, so the layout is three plain words.
  std::uint64_t low_ = 0;
  std::uint64_t high_ = 0;
  std::uint64_t invalid_ = 0;
};

static_assert(sizeof(ExactSum) == 3 * sizeof(std::uint64_t), "sent over MPI as three words");

} // namespace tavro
