#include "device/device.hpp"

#include <optional>

#include "dcp/exchange.hpp"
#include "dcp/lock.hpp"
#include "device/commands.hpp"
#include "varnode/catalogue.h"
#include "device/reply.hpp"
#include "device/stream.hpp"

namespace varnode {
namespace {

// Per-address reply time-outs in milliseconds, used under the library mutex.
class TimeoutRegistry {
 public:
  void register_address(IP::Address address) { entries_.try_emplace(address.host_value(), Device::default_timeout); }
  std::uint16_t get(IP::Address address) const {
    const auto found = entries_.find(address.host_value());
    return found == entries_.end() ? Device::default_timeout : found->second;
  }
  void set(IP::Address address, std::uint16_t milliseconds) { entries_[address.host_value()] = milliseconds; }
  bool contains(IP::Address address) const { return entries_.contains(address.host_value()); }

 private:
  std::map<std::uint32_t, std::uint16_t> entries_;
};

TimeoutRegistry& registry() {
  static TimeoutRegistry* instance = new TimeoutRegistry;
  return *instance;
}

// The one place where a failing socket becomes the caller's network error.
template <class Step>
auto translated(Step step) {
  try {
    return step();
  } catch (const DCP::Exception&) {
    throw Device::Exception::Network{};
  }
}

}  // namespace

bool Device::registered(IP::Address address) {
  std::lock_guard lock(DCP::library_mutex());
  return registry().contains(address);
}

Device::Device(IP::Address address) : address_(address) {
  if (address == IP::broadcast_address || address == IP::unspecified_address) throw Exception::Parameter{};
  std::lock_guard lock(DCP::library_mutex());
  registry().register_address(address);
}

std::uint16_t Device::timeout() const {
  std::lock_guard lock(DCP::library_mutex());
  return registry().get(address_);
}

void Device::set_timeout(std::uint16_t milliseconds) const {
  if (milliseconds == 0) throw Exception::Parameter{};
  std::lock_guard lock(DCP::library_mutex());
  registry().set(address_, milliseconds);
}

std::uint16_t Device::exchange(std::uint16_t code, Bytes& payload) const {
  Stream stream(*this, code, payload);
  const std::optional<DCP::Message> reply = stream.next(current_milliseconds() + timeout());
  if (!reply) throw Exception::Timeout{};
  payload.assign(reply->payload.begin(), reply->payload.end());
  return reply->code;
}

void Device::acknowledged(std::uint16_t code, Bytes payload) const {
  // The code first: the payload is the reply only once the exchange is done.
  const std::uint16_t answer = exchange(code, payload);
  reply::judge(answer, payload, reply::exactly(commands::acknowledgement_reply, 0));
}

Device::Stream::Stream(const Device& device, std::uint16_t code, DCP::View payload) {
  translated([&] {
    transaction_.emplace(device.address());
    transaction_->send(code, payload);
  });
}

std::optional<DCP::Message> Device::Stream::next(std::uint64_t deadline) {
  return translated([&] { return transaction_->next_reply(deadline); });
}

void Device::reset() const { acknowledged(commands::reset_command, {}); }

void Device::burn(DCP::View data) const {
  if (data.size() > VARNODE_BURN_LIMIT) throw Exception::Parameter{};
  acknowledged(commands::burn_command, Bytes(data.begin(), data.end()));
}

}  // namespace varnode
