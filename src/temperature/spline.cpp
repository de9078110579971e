#include "temperature/spline.hpp"

#include <bit>
#include <cstdint>

namespace varnode {

Spline<float>::Spline() {
  const float nan = std::bit_cast<float>(std::uint32_t{0x7FC00000});
  segments_.push_back({nan, nan, nan, nan, nan});
  end_ = nan;
}

// Every step is single precision in a fixed order, so that the segments are
// the same bit for bit on every platform (the build forbids contraction into
// fused multiply-adds for this file).
Spline<float>::Spline(const float* points, std::size_t n, bool swap) {
  if (n < 3) throw Exception::Parameter();
  const std::size_t xi = swap ? 1 : 0;
  const std::size_t yi = swap ? 0 : 1;
  auto x = [&](std::size_t i) { return points[2 * i + xi]; };
  auto y = [&](std::size_t i) { return points[2 * i + yi]; };

  std::vector<float> h(n - 1), s(n - 1);
  for (std::size_t i = 0; i + 1 < n; ++i) {
    h[i] = x(i + 1) - x(i);
    // Written this way round so that a NaN difference passes.
    if (0.0f >= h[i]) throw Exception::Parameter();
    s[i] = (y(i + 1) - y(i)) / h[i];
  }

  // Tridiagonal system for the second derivatives at the interior knots, with
  // M(0) = M(n-1) = 0 for a natural spline.
  std::vector<float> D(n - 1), R(n - 1), M(n, 0.0f);
  D[1] = 2.0f * (h[0] + h[1]);
  R[1] = 6.0f * (s[1] - s[0]);
  for (std::size_t j = 2; j + 1 < n; ++j) {
    D[j] = 2.0f * (h[j] + h[j - 1]) - h[j - 1] * h[j - 1] / D[j - 1];
    R[j] = 6.0f * (s[j] - s[j - 1]) - h[j - 1] * R[j - 1] / D[j - 1];
  }
  for (std::size_t j = n - 2; j >= 1; --j) M[j] = (R[j] - h[j] * M[j + 1]) / D[j];

  segments_.reserve(n - 1);
  for (std::size_t i = 0; i + 1 < n; ++i) {
    const float b = (-h[i]) * M[i + 1] / 6.0f - h[i] * M[i] / 3.0f + s[i];
    const float d = (M[i + 1] - M[i]) / 6.0f / h[i];
    segments_.push_back({x(i), y(i), b, M[i] * 0.5f, d});
  }
  end_ = x(n - 1);
}

float Spline<float>::evaluate(float x) const {
  // The comparison is strict: x on an interior knot takes the segment that
  // ends there.
  std::size_t lo = 0;
  std::size_t hi = segments_.size();
  while (lo + 1 < hi) {
    const std::size_t mid = (lo + hi) / 2;
    if (x > segments_[mid].x0) {
      lo = mid;
    } else {
      hi = mid;
    }
  }
  const Segment& g = segments_[lo];
  const float t = x - g.x0;
  return ((g.d * t + g.c) * t + g.b) * t + g.a;
}

}  // namespace varnode
