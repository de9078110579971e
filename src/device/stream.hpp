#pragma once
// A request answered by a stream of replies (the analog inputs' measurement),
// with the same translation of network failures as Device::exchange.

#include <cstdint>
#include <optional>

#include "dcp/exchange.hpp"
#include "device/device.hpp"

namespace varnode {

class Device::Stream {
 public:
  // Sends the request; throws Exception::Network.
  Stream(const Device& device, std::uint16_t code, DCP::View payload);

  // The next reply of this request before `deadline` (current_milliseconds),
  // or nothing once it has passed. The message views a buffer that the next
  // call reuses. Throws Exception::Network.
  std::optional<DCP::Message> next(std::uint64_t deadline);

 private:
  std::optional<DCP::Transaction> transaction_;
};

}  // namespace varnode
