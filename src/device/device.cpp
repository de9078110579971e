#include "device/device.hpp"

#include "dcp/exchange.hpp"
#include "device/commands.hpp"

namespace varnode {
namespace {

TimeoutRegistry& registry() {
  static TimeoutRegistry* instance = new TimeoutRegistry;
  return *instance;
}

}  // namespace

std::uint16_t TimeoutRegistry::register_address(IP::Address address) {
  return entries_.try_emplace(address.host_value(), Device::default_timeout).first->second;
}

std::uint16_t TimeoutRegistry::get(IP::Address address) const {
  const auto found = entries_.find(address.host_value());
  return found == entries_.end() ? Device::default_timeout : found->second;
}

void TimeoutRegistry::set(IP::Address address, std::uint16_t milliseconds) {
  entries_[address.host_value()] = milliseconds;
}

bool is_registered(IP::Address address) {
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
  const std::uint32_t id = DCP::next_transaction_id();
  const DCP::SocketPool::Lease lease = DCP::socket_pool().lease();
  try {
    DCP::send(lease.socket(), address_, code, id, payload);
  } catch (const DCP::Exception&) {
    throw Exception::Network{};
  }
  const std::uint64_t start = current_milliseconds();
  const std::uint64_t limit = timeout();
  Bytes buffer;
  for (;;) {
    try {
      const DCP::Received received = DCP::receive(lease.socket(), 1, buffer);
      if (received.source == address_ && received.message.transaction_id == id) {
        payload.assign(received.message.payload.begin(), received.message.payload.end());
        return received.message.code;
      }
    } catch (const DCP::Exception::Timeout&) {
    } catch (const DCP::Exception&) {
      throw Exception::Network{};
    }
    if (current_milliseconds() >= start + limit) throw Exception::Timeout{};
  }
}

void Device::acknowledged(std::uint16_t code, Bytes payload) const {
  if (exchange(code, payload) != commands::acknowledgement_reply || !payload.empty()) throw Exception::Failed{};
}

void Device::reset() const { acknowledged(commands::reset_command, {}); }

void Device::burn(DCP::View data) const {
  if (data.size() > 64) throw Exception::Parameter{};
  acknowledged(commands::burn_command, Bytes(data.begin(), data.end()));
}

}  // namespace varnode
