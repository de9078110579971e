#include "faults.hpp"

#include <algorithm>
#include <cstdio>
#include <stdexcept>

#include <nlohmann/json.hpp>

namespace varnode::sim {
namespace {

struct Named {
  const char* name;
  FaultRule::Kind kind;
};
constexpr Named kinds[] = {{"drop", FaultRule::Kind::drop},         {"duplicate", FaultRule::Kind::duplicate},
                           {"altered_duplicate", FaultRule::Kind::altered_duplicate},
                           {"delay", FaultRule::Kind::delay},       {"reorder", FaultRule::Kind::reorder},
                           {"wrong_id", FaultRule::Kind::wrong_id}, {"refuse", FaultRule::Kind::refuse},
                           {"silent", FaultRule::Kind::silent},     {"abort", FaultRule::Kind::abort},
                           {"truncated", FaultRule::Kind::truncated}, {"over_long", FaultRule::Kind::over_long},
                           {"wrong_code", FaultRule::Kind::wrong_code}, {"random", FaultRule::Kind::random}};

std::uint16_t command_code(const nlohmann::json& value) {
  unsigned long code = 0;
  if (value.is_number_integer() && value.get<long>() >= 0) {
    code = value.get<unsigned long>();
  } else if (value.is_string()) {
    code = std::stoul(value.get<std::string>(), nullptr, 0);
  } else {
    throw std::invalid_argument("a command is a number or a string such as \"0x0301\"");
  }
  if (code > 0xFFFF) throw std::invalid_argument("a command code has 16 bits");
  return static_cast<std::uint16_t>(code);
}

}  // namespace

FaultRule FaultRule::from_json(const nlohmann::json& value) {
  if (!value.is_object()) throw std::invalid_argument("a fault is an object");
  FaultRule rule;
  const std::string name = value.value("fault", "");
  bool known = false;
  for (const Named& named : kinds) {
    if (name == named.name) {
      rule.kind = named.kind;
      known = true;
    }
  }
  if (!known)
    throw std::invalid_argument("unknown fault '" + name +
                                "' (drop, duplicate, altered_duplicate, delay, reorder, wrong_id, refuse, "
                                "silent, abort, truncated, over_long, wrong_code, random)");
  if (value.contains("commands")) {
    for (const auto& code : value.at("commands")) rule.commands.insert(command_code(code));
  }
  rule.probability = value.value("probability", 1.0);
  if (!(rule.probability >= 0 && rule.probability <= 1))
    throw std::invalid_argument("probability runs from 0 to 1");
  rule.after = value.value("after", 0u);
  rule.count = value.value("count", 0u);
  rule.delay_ms = value.value("delay_ms", rule.kind == Kind::reorder ? 100u : 0u);
  rule.chunks = value.value("chunks", 0u);
  rule.then_correct = value.value("then_correct", false);
  rule.bytes = value.value("bytes", 0u);
  if (value.contains("code")) rule.reply_code = command_code(value.at("code"));
  const std::string refusal = value.value("refusal", "reserved");
  if (refusal == "reserved") {
    rule.refusal = Refusal::reserved;
  } else if (refusal == "configuration") {
    rule.refusal = Refusal::configuration;
  } else if (refusal == "aborted") {
    rule.refusal = Refusal::aborted;
  } else {
    throw std::invalid_argument("unknown refusal '" + refusal + "' (reserved, configuration, aborted)");
  }
  return rule;
}

std::string FaultRule::describe() const {
  std::string text;
  for (const Named& named : kinds) {
    if (named.kind == kind) text = named.name;
  }
  if (kind == Kind::refuse) {
    text += refusal == Refusal::reserved ? " (reserved)" : refusal == Refusal::configuration ? " (configuration)"
                                                                                              : " (aborted)";
  }
  if (kind == Kind::silent || kind == Kind::abort) text += " after " + std::to_string(chunks) + " chunks";
  if (kind == Kind::delay) text += " " + std::to_string(delay_ms) + " ms";
  if ((kind == Kind::truncated || kind == Kind::over_long || kind == Kind::random) && bytes != 0)
    text += " " + std::to_string(bytes) + " bytes";
  if (kind == Kind::wrong_code && reply_code) {
    char text_code[16];
    std::snprintf(text_code, sizeof text_code, " as %04X", *reply_code);
    text += text_code;
  }
  if (!commands.empty()) {
    text += " on";
    char code[8];
    for (std::uint16_t c : commands) {
      std::snprintf(code, sizeof code, " %04X", c);
      text += code;
    }
  }
  if (probability < 1) text += " p=" + std::to_string(probability);
  return text;
}

const FaultRule* FaultPlan::find(FaultRule::Kind kind) const {
  for (const FaultRule* rule : rules) {
    if (rule->kind == kind) return rule;
  }
  return nullptr;
}

FaultPlan Faults::plan(std::uint16_t code) {
  seen_.resize(rules_.size(), 0);
  FaultPlan plan;
  for (std::size_t i = 0; i < rules_.size(); ++i) {
    const FaultRule& rule = rules_[i];
    if (!rule.commands.empty() && !rule.commands.contains(code)) continue;
    const unsigned seen = ++seen_[i];
    if (seen <= rule.after) continue;
    if (rule.count != 0 && seen > rule.after + rule.count) continue;
    // These act on a whole request, so their dice are thrown once for it.
    const bool per_request = rule.kind == FaultRule::Kind::refuse || rule.kind == FaultRule::Kind::silent ||
                             rule.kind == FaultRule::Kind::abort;
    if (per_request && !hits(rule)) continue;
    plan.rules.push_back(&rule);
  }
  return plan;
}

bool Faults::hits(const FaultRule& rule) {
  if (rule.probability >= 1) return true;
  if (rule.probability <= 0) return false;
  return std::uniform_real_distribution<double>(0, 1)(random_) < rule.probability;
}

void Faults::malform(const FaultPlan& plan, std::uint16_t& code, std::vector<std::uint8_t>& payload) {
  using K = FaultRule::Kind;
  const auto hit = [&](K kind) {
    const FaultRule* rule = plan.find(kind);
    return rule != nullptr && hits(*rule) ? rule : nullptr;
  };
  const auto random_bytes = [&](std::size_t n) {
    std::vector<std::uint8_t> bytes(n);
    for (std::uint8_t& b : bytes) b = static_cast<std::uint8_t>(random_());
    return bytes;
  };
  // One change at most: a cut followed by an added byte, say, would give a
  // reply of the right size with one wrong byte, which no receiver can tell.
  if (const FaultRule* rule = hit(K::random)) {
    // By default never the original size, so that the size alone shows the
    // reply is not a well-formed one.
    std::size_t n = rule->bytes;
    if (n == 0) {
      const std::size_t most = 2 * payload.size() + 8;
      n = std::uniform_int_distribution<std::size_t>(0, most - 1)(random_);
      if (n >= payload.size()) ++n;
    }
    payload = random_bytes(n);
  } else if (const FaultRule* cut = hit(K::truncated)) {
    payload.resize(payload.size() - std::min<std::size_t>(cut->bytes == 0 ? 1 : cut->bytes, payload.size()));
  } else if (const FaultRule* longer = hit(K::over_long)) {
    const std::vector<std::uint8_t> extra = random_bytes(longer->bytes == 0 ? 1 : longer->bytes);
    payload.insert(payload.end(), extra.begin(), extra.end());
  } else if (const FaultRule* wrong = hit(K::wrong_code)) {
    std::uint16_t other = wrong->reply_code.value_or(code);
    while (other == code) other = static_cast<std::uint16_t>(random_());
    code = other;
  }
}

}  // namespace varnode::sim
