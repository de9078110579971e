#include "device/frequency.hpp"

#include <algorithm>
#include <iterator>

namespace varnode::frequency {
namespace {

constexpr std::uint16_t settings[] = {6, 12, 25, 50, 100, 200, 400, 800, 1500, 3000};

}  // namespace

void set(const Device& device, std::uint16_t command, std::uint16_t setting) {
  if (std::find(std::begin(settings), std::end(settings), setting) == std::end(settings))
    throw Device::Exception::Parameter{};
  Bytes payload;
  DCP::put_u16(payload, setting);
  device.acknowledged(command, std::move(payload));
}

}  // namespace varnode::frequency
