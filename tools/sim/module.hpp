#pragma once
// One simulated module: its identity, status items, the device-management
// commands every module answers, and the fault layer between its answers
// and the wire. Each kind adds its own commands and state.

#include <chrono>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "codec.hpp"
#include "faults.hpp"
#include "address.hpp"

namespace varnode::sim {

using Clock = std::chrono::steady_clock;
using Time = Clock::time_point;

enum class Kind { KL01, KL02, KS01, KS02, QU01, RA01, RE01, WE01, HX01, HX02 };
inline constexpr Kind all_kinds[] = {Kind::KL01, Kind::KL02, Kind::KS01, Kind::KS02, Kind::QU01,
                                     Kind::RA01, Kind::RE01, Kind::WE01, Kind::HX01, Kind::HX02};
const char* kind_name(Kind kind);
// The high byte of the kind's command codes.
std::uint16_t family_code(Kind kind);
std::optional<Kind> kind_from_name(const std::string& name);

struct Endpoint {
  Address address;
  std::uint16_t port = 0;
};

struct Request {
  Endpoint from;
  std::uint16_t code = 0;
  std::uint32_t transaction_id = 0;
  Bytes payload;
  bool broadcast = false;
};

// Where modules hand what they send; the server owns sockets and clock.
class Outbox {
 public:
  virtual ~Outbox() = default;
  virtual void send(Address from, Endpoint to, Bytes datagram, Time at) = 0;
};

struct StatusItem {
  std::string name;
  std::string unit;         // text_2
  std::string description;  // text_3
  float number_4 = 0;
  float lower = 0;
  float upper = 0;
  float value = 0;
};

enum class Layout { extended, legacy };

// Everything a module of any kind is given by the rack description.
struct Common {
  Kind kind = Kind::KL01;
  Address address;
  Address netmask{0xFFFFFF00u};
  Address gateway;
  std::uint32_t serial = 0;
  Layout layout = Layout::extended;
  std::string name;
  unsigned restart_ms = 0;     // silence after a reset
  double stream_speed = 1.0;   // streams run this many times faster than real time
  std::vector<StatusItem> status;  // extra items, or replacements by name
  std::vector<FaultRule> faults;
  std::uint32_t seed = 1;
};

class Module {
 public:
  explicit Module(Common common);
  virtual ~Module() = default;
  Module(const Module&) = delete;
  Module& operator=(const Module&) = delete;

  Kind kind() const { return common_.kind; }
  Address address() const { return common_.address; }
  std::uint32_t serial() const { return common_.serial; }
  const Common& common() const { return common_; }
  virtual std::string describe() const { return {}; }

  // Must be called once, before the first request, with the start time.
  void power_on(Time now);
  // One datagram that reached this module, or a broadcast.
  void receive(const Request& request, Time now, Outbox& outbox);
  // Sends what has come due (stream chunks, held replies); returns when it
  // next has something to send.
  std::optional<Time> pump(Time now, Outbox& outbox);
  // The address a configure command gave the module, once.
  std::optional<Address> take_moved_address();
  // Puts the module back where it was when a move could not be made.
  void set_address(Address address);

 protected:
  struct Reply {
    std::uint16_t code = 0;
    Bytes payload;
  };
  static Reply acknowledge() { return Reply{1, {}}; }
  static Reply failure() { return Reply{2, {}}; }
  // Takes a converter frequency setting (2 bytes, one of the accepted values).
  static Reply set_frequency(const Bytes& payload, std::uint16_t& setting);
  // The answer comes later (a stream), or never.
  static Reply silence() { return Reply{0, {}}; }
  std::uint16_t family() const;

  // The kind's own commands; nullopt for a command the module does not know.
  virtual std::optional<Reply> command(const Request& request, Time now) = 0;
  // Back to power-on state: outputs off, counters cleared, streams ended.
  virtual void restart(Time now) = 0;
  virtual void add_status(std::vector<StatusItem>& items, Time now) const;
  // The family's code for a refusal, or nullopt where the family has none.
  virtual std::optional<std::uint16_t> refusal_code(Refusal refusal) const;
  // Stream chunks that are due; returns when the next one will be.
  virtual std::optional<Time> stream(Time now) { (void)now; return std::nullopt; }

  // Seconds since power-on, the time base of every signal.
  double seconds(Time now) const { return std::chrono::duration<double>(now - powered_).count(); }
  // Sends one datagram through the fault plan of the request it answers.
  void deliver(const FaultPlan& plan, Endpoint to, std::uint32_t id, std::uint16_t code, const Bytes& payload,
               Time at);
  // The fault plan of the request being answered; streams keep a copy.
  const FaultPlan& plan() const { return plan_; }
  Faults& faults() { return faults_; }

 private:
  std::optional<Reply> management(const Request& request, Time now);
  Bytes identity() const;
  Bytes status(Time now) const;
  void configure(const Request& request);
  void send(Endpoint to, Bytes datagram, Time at);

  Common common_;
  Faults faults_;
  Outbox* outbox_ = nullptr;
  FaultPlan plan_;
  Time powered_{};
  Time silent_until_{};
  unsigned resets_ = 0;
  std::uint8_t dhcp_ = 0;
  std::string configured_name_;
  Bytes burned_;
  std::optional<Address> moved_;

  struct Held {
    Endpoint to;
    Bytes datagram;
    Time until;
  };
  std::optional<Held> held_;
};

// The frequency settings the converters accept.
bool accepted_frequency(std::uint16_t hertz);

// Day count since 0000-01-01 of a calendar date, as identities carry dates.
std::uint32_t day_count(int year, unsigned month, unsigned day);

}  // namespace varnode::sim
