#pragma once
// Natural cubic splines over constant tables of float pairs.

#include <cstddef>
#include <span>
#include <vector>

namespace varnode {

template <class T>
class Spline;

template <>
class Spline<float> {
 public:
  struct Exception {
    virtual ~Exception() = default;
    struct Parameter;
  };

  // Value a + b*t + c*t^2 + d*t^3 at t = x - x0.
  struct Segment {
    float x0, a, b, c, d;
  };

  // One segment of quiet NaNs: evaluates to NaN everywhere.
  Spline();
  // `points` holds n pairs as 2n floats; with `swap` each pair is (y, x).
  // Throws Exception::Parameter for fewer than three points or an x that
  // does not rise.
  Spline(const float* points, std::size_t n, bool swap);

  // Outside the knots the end segments extrapolate.
  float evaluate(float x) const;
  float first_knot() const { return segments_.front().x0; }
  // The start of the last segment: the table's second-to-last x.
  float last_knot() const { return segments_.back().x0; }
  // The table's last x, where the last segment ends.
  float end_knot() const { return end_; }
  std::span<const Segment> segments() const { return segments_; }

 private:
  std::vector<Segment> segments_;
  float end_;
};

struct Spline<float>::Exception::Parameter : Spline<float>::Exception {};

}  // namespace varnode
