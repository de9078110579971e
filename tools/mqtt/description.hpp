#pragma once
// The bridge description: which broker, which site, which modules and what
// to publish of each. Read from JSON; every key is checked, and a mistake
// names its path.

#include <cstdint>
#include <map>
#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

namespace mqtt_bridge {

enum class Kind { kl01, kl02, ks01, ks02, qu01, ra01, re01, we01, hx01, hx02 };

struct KindInfo {
  Kind kind;
  const char* name;    // "KL01"
  const char* family;  // "kl01", the topic level
  unsigned channels;
  const char* unit;    // of a polled reading
};
const KindInfo& kind_info(Kind kind);
std::optional<Kind> kind_from_name(const std::string& name);

struct Poll {
  std::vector<std::uint8_t> channels;
  double interval = 1.0;                      // seconds
  std::uint16_t frequency = 3000;             // RA01/RE01: the single sample's rate
  std::map<std::uint8_t, std::string> units;  // per channel, over the family's unit
};

struct Stream {
  std::vector<std::uint8_t> channels;
  std::uint32_t samples = 0;
  double frequency = 0;
};

struct ModuleEntry {
  Kind kind = Kind::kl01;
  std::uint32_t address = 0;  // host order
  std::string name;           // empty: the serial number, read at start
  std::optional<std::uint16_t> timeout_ms;
  std::optional<Poll> poll;
  std::optional<Stream> stream;
  double status_interval = 60;  // identity and status, seconds
  unsigned offline_after = 3;   // failed readings in a row
};

struct Tls {
  std::string ca_file, cert_file, key_file;
  bool insecure = false;
};

struct Broker {
  std::string host = "127.0.0.1";
  std::uint16_t port = 1883;
  std::string client_id;  // empty: "varnode-mqtt-<site>"
  std::string username, password, password_file;
  bool v5 = true;
  unsigned keepalive = 30;
  std::optional<Tls> tls;
};

struct Description {
  Broker broker;
  std::string site;
  std::size_t queue = 100000;  // messages held while the broker is away
  int qos = 1;                 // of readings; commands and results are always 1
  unsigned workers = 4;        // threads sharing the polled modules
  double status_interval = 10; // the bridge's own status, seconds
  std::vector<ModuleEntry> modules;
};

// A mistake in a description, with the path of the key it concerns.
struct DescriptionError : std::invalid_argument {
  using std::invalid_argument::invalid_argument;
};

// Parses and checks a description (JSON; // and /* */ comments allowed).
// Throws DescriptionError.
Description parse_description(const std::string& text);

// Topic levels: letters, digits, '_' and '-' only, so no name can hold a
// wildcard or a separator.
bool topic_safe(const std::string& name);

std::string dotted(std::uint32_t address);

}  // namespace mqtt_bridge
