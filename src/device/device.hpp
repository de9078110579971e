#pragma once
// The library's handle on one module: its address, its entry in the
// time-out registry, and the command exchange.

#include <cstdint>
#include <map>
#include <set>

#include "dcp/datagram.hpp"
#include "net/ip.hpp"

namespace varnode {

class Device {
 public:
  struct Exception {
    virtual ~Exception() = default;
    struct Failed;
    struct Network;
    struct NotFound;
    struct Parameter;
    struct Timeout;
  };

  class Stream;                 // one request, many replies; device/stream.hpp
  struct Info;                  // identity, device/info.hpp
  struct Status;                // status items, device/status.hpp
  struct StatusItem;
  class NetworkConfiguration;   // configure payload, device/configuration.hpp

  static constexpr std::uint16_t default_timeout = 1000;

  // Refuses 0.0.0.0 and 255.255.255.255; registers the default time-out for
  // an address seen for the first time. Sends nothing.
  explicit Device(IP::Address address);

  IP::Address address() const { return address_; }
  std::uint16_t timeout() const;
  void set_timeout(std::uint16_t milliseconds) const;

  // One request, then the reply with the same transaction id from this
  // address within the time-out. `payload` holds the request on entry and
  // the reply payload on return; the reply code is returned unjudged.
  std::uint16_t exchange(std::uint16_t code, Bytes& payload) const;
  // An exchange whose only good answer is code 1 with an empty payload.
  void acknowledged(std::uint16_t code, Bytes payload) const;
  // An exchange whose answer must carry `reply_code` and a payload that
  // decodes into a T; anything else is Exception::Failed.
  template <class T>
  T query(std::uint16_t code, std::uint16_t reply_code, Bytes payload = {}) const;

  void reset() const;
  // Refuses more than 64 bytes before copying them.
  void burn(DCP::View data) const;
  Info get_info() const;
  Status get_status() const;

  static std::set<IP::Address> discover();
  static std::map<std::uint32_t, IP::Address> locate(const std::set<std::uint32_t>& serial_numbers);
  static void configure(std::uint32_t serial_number, const NetworkConfiguration& configuration);

 private:
  // Whether the process-wide time-out registry has an entry for the address:
  // what a refused call left behind. Only the tests' probe may ask.
  static bool registered(IP::Address address);
  friend struct RegistryProbe;

  IP::Address address_;
};

struct Device::Exception::Failed : Device::Exception {};
struct Device::Exception::Network : Device::Exception {};
struct Device::Exception::NotFound : Device::Exception {};
struct Device::Exception::Parameter : Device::Exception {};
struct Device::Exception::Timeout : Device::Exception {};

template <class T>
T Device::query(std::uint16_t code, std::uint16_t reply_code, Bytes payload) const {
  if (exchange(code, payload) != reply_code) throw Exception::Failed{};
  try {
    return T(DCP::View(payload));
  } catch (const DCP::Exception&) {
    throw Exception::Failed{};
  }
}

}  // namespace varnode
