#pragma once
// The tests' one look into the time-out registry, which the library keeps
// private.

#include "device/device.hpp"

namespace varnode {

struct RegistryProbe {
  static bool has(IP::Address address) { return Device::registered(address); }
};

namespace test {
inline bool is_registered(IP::Address address) { return RegistryProbe::has(address); }
}  // namespace test

}  // namespace varnode
