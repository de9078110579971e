#include "device/device.hpp"

#include <optional>

#include "dcp/exchange.hpp"
#include "dcp/lock.hpp"
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
  try {
    DCP::Transaction transaction(address_);
    transaction.send(code, payload);
    const std::optional<DCP::Message> reply = transaction.next_reply(current_milliseconds() + timeout());
    if (!reply) throw Exception::Timeout{};
    payload.assign(reply->payload.begin(), reply->payload.end());
    return reply->code;
  } catch (const DCP::Exception&) {
    throw Exception::Network{};
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
