#pragma once
// The bridge: polls and streams the described modules, publishes what they
// give to an MQTT broker through a bounded queue that outlives the broker's
// absences, and applies the commands it receives.

#include <atomic>
#include <string>

#include "description.hpp"

namespace mqtt_bridge {

struct Options {
  bool read_only = false;
  bool verbose = false;
};

// Runs until `stop` is set (then publishes "offline" and disconnects) or the
// broker refuses the bridge's credentials. Returns the exit status: 0, or 1
// with the reason on stderr.
int run_bridge(const Description& description, const Options& options, const std::atomic<bool>& stop);

}  // namespace mqtt_bridge
