#pragma once
// Misbehaviour a module can be told to show: lost, doubled (also with other
// bytes in the second copy), late or reordered replies, replies with the
// wrong transaction id, refusals, streams that abort or fall silent part of
// the way through, and malformed replies (cut short, too long, under a wrong
// code, or random bytes).

#include <cstdint>
#include <optional>
#include <random>
#include <set>
#include <string>
#include <vector>

#include <nlohmann/json_fwd.hpp>

namespace varnode::sim {

enum class Refusal { reserved, configuration, aborted };

struct FaultRule {
  enum class Kind {
    drop, duplicate, altered_duplicate, delay, reorder, wrong_id, refuse, silent, abort, truncated, over_long,
    wrong_code, random
  };
  Kind kind = Kind::drop;
  std::set<std::uint16_t> commands;  // empty: every command
  double probability = 1.0;          // per datagram (per request for refuse, silent, abort)
  unsigned after = 0;                // spare the first `after` matching requests
  unsigned count = 0;                // then act on this many (0: all)
  unsigned delay_ms = 0;             // delay; also how long reorder holds a reply
  Refusal refusal = Refusal::reserved;
  unsigned chunks = 0;               // silent, abort: stream chunks sent first
  bool then_correct = false;         // wrong_id: follow with the right reply
  unsigned bytes = 0;                // truncated, over_long, random: how many bytes (0: the default)
  std::optional<std::uint16_t> reply_code;  // wrong_code: the code sent instead (none: a random one)

  // {"fault": "drop", "commands": ["0x0301"], "probability": 0.5, ...}.
  // Throws std::invalid_argument.
  static FaultRule from_json(const nlohmann::json& value);
  std::string describe() const;
};

// The faults that apply to one request, decided when it arrives.
struct FaultPlan {
  std::vector<const FaultRule*> rules;
  const FaultRule* find(FaultRule::Kind kind) const;
  bool empty() const { return rules.empty(); }
};

class Faults {
 public:
  Faults() = default;
  Faults(std::vector<FaultRule> rules, std::uint32_t seed) : rules_(std::move(rules)), random_(seed) {}

  FaultPlan plan(std::uint16_t code);
  // A throw of the dice for a rule with a probability below 1.
  bool hits(const FaultRule& rule);
  // Applies the malformed-reply rules of `plan` that hit to one reply.
  void malform(const FaultPlan& plan, std::uint16_t& code, std::vector<std::uint8_t>& payload);
  const std::vector<FaultRule>& rules() const { return rules_; }

 private:
  std::vector<FaultRule> rules_;
  std::vector<unsigned> seen_;
  std::mt19937 random_{1};
};

}  // namespace varnode::sim
