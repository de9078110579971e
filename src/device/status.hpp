#pragma once

#include <algorithm>
#include <cstring>
#include <limits>
#include <map>

#include "device/device.hpp"

namespace varnode {

// One status item of a module. A number the module did not send for this
// item is NaN; numbers never carry over from the item before.
struct Device::StatusItem {
  static constexpr float absent = std::numeric_limits<float>::quiet_NaN();

  bool in_range = true;
  float lower_limit = absent;
  float upper_limit = absent;
  float number_4 = absent;
  float value = absent;
  Bytes text_2;
  Bytes name;
  Bytes text_3;

  // A NaN limit imposes nothing; a NaN value fails any limit that is a
  // number. A value equal to a limit is in range.
  static bool within(float value, float lower_limit, float upper_limit);
};

// Byte-wise order of names, a shorter name first when it is a prefix of the
// other. Spelled out because GCC 12 at -O3 warns falsely on the standard
// library's own comparison of byte vectors.
struct ByteOrder {
  bool operator()(const Bytes& a, const Bytes& b) const {
    const std::size_t common = std::min(a.size(), b.size());
    const int order = common == 0 ? 0 : std::memcmp(a.data(), b.data(), common);
    return order < 0 || (order == 0 && a.size() < b.size());
  }
};

// The payload of the status reply (code 8): the items by name, and whether
// all of them were in range.
struct Device::Status {
  bool ok = true;
  std::map<Bytes, StatusItem, ByteOrder> items;

  Status() = default;
  // Each item is a group of elements led by a tag-1 name. Throws
  // DCP::Exception::Parameter for a group without a non-empty name, a
  // cut-short element or a number that is not 4 bytes. Of two items with one
  // name the first is kept, but both count towards `ok`.
  explicit Status(DCP::View payload);
};

}  // namespace varnode
