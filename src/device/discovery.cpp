#include <optional>

#include "dcp/broadcast.hpp"
#include "dcp/transaction_id.hpp"
#include "device/commands.hpp"
#include "net/clock.hpp"
#include "device/info.hpp"

namespace varnode {
namespace {

// Fixed, whatever the modules' own time-outs: modules answer a broadcast at
// once, and the same wait is fair on every network.
constexpr std::uint64_t discovery_window = 1000;

DCP::InterfaceSockets interface_sockets() {
  try {
    return DCP::InterfaceSockets();
  } catch (const DCP::Exception&) {
    throw Device::Exception::Network{};
  }
}

// One identity request broadcast on every local interface, and the replies
// to it that decode, for the length of the discovery window.
class IdentityReplies {
 public:
  IdentityReplies() {
    DCP::broadcast(sockets_, commands::identity_command, id_, {});
    deadline_ = current_milliseconds() + discovery_window;
  }

  bool window_open() const { return current_milliseconds() < deadline_; }

  // The identity of a reply that came within one collect step, if any.
  // Replies to other requests and identities that do not decode are dropped.
  std::optional<Device::Info> next() {
    const std::optional<DCP::Message> message = DCP::collect(sockets_, buffer_);
    if (!message || message->code != commands::identity_reply || message->transaction_id != id_) return std::nullopt;
    try {
      return Device::Info(message->payload);
    } catch (const DCP::Exception&) {
      return std::nullopt;
    }
  }

 private:
  std::uint32_t id_ = DCP::next_transaction_id();
  DCP::InterfaceSockets sockets_ = interface_sockets();
  std::uint64_t deadline_ = 0;
  Bytes buffer_;
};

}  // namespace

std::set<IP::Address> Device::discover() {
  IdentityReplies replies;
  std::set<IP::Address> found;
  while (replies.window_open()) {
    const std::optional<Info> info = replies.next();
    if (!info) continue;
    try {
      // Building the Device registers the module's time-out.
      found.insert(Device(info->ip_address).address());
    } catch (const Exception::Parameter&) {
      // A module that reports 0.0.0.0 or 255.255.255.255 cannot be addressed.
    }
  }
  return found;
}

std::map<std::uint32_t, IP::Address> Device::locate(const std::set<std::uint32_t>& serial_numbers) {
  if (serial_numbers.empty()) throw Exception::Parameter{};
  IdentityReplies replies;
  std::map<std::uint32_t, IP::Address> located;
  for (;;) {
    if (!replies.window_open()) throw Exception::NotFound{};
    const std::optional<Info> info = replies.next();
    if (!info || !serial_numbers.contains(info->serial_number)) continue;
    // A requested module that reports an unusable address is an error here,
    // not noise: the caller asked for exactly this module.
    const Device device(info->ip_address);
    located.try_emplace(info->serial_number, device.address());
    if (located.size() == serial_numbers.size()) return located;
  }
}

}  // namespace varnode
