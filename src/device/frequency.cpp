#include "device/frequency.hpp"

#include <algorithm>
#include <iterator>

#include "varnode/catalogue.h"

namespace varnode::frequency {
namespace {

constexpr std::uint16_t settings[] = {VARNODE_FREQUENCIES};

}  // namespace

void set(const Device& device, std::uint16_t command, std::uint16_t setting) {
  if (std::find(std::begin(settings), std::end(settings), setting) == std::end(settings))
    throw Device::Exception::Parameter{};
  Bytes payload;
  DCP::put_u16(payload, setting);
  device.acknowledged(command, std::move(payload));
}

}  // namespace varnode::frequency
