#pragma once
// Natural cubic splines over constant tables of float pairs.

#include <cstddef>
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

  // One segment of quiet NaNs: evaluates to NaN everywhere.
  Spline();
  // `points` holds n pairs as 2n floats; with `swap` each pair is (y, x).
  Spline(const float* points, std::size_t n, bool swap);

  float evaluate(float x) const;
  float first_knot() const;
  float last_knot() const;

 private:
  struct Segment {
    float x0, a, b, c, d;
  };
  std::vector<Segment> segments_;
};

struct Spline<float>::Exception::Parameter : Spline<float>::Exception {};

}  // namespace varnode
