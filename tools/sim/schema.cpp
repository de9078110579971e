#include "schema.hpp"

#include <cctype>
#include <cmath>
#include <functional>
#include <initializer_list>
#include <stdexcept>
#include <utility>
#include <vector>

#include <nlohmann/json.hpp>

namespace varnode::sim {
namespace {

using nlohmann::json;
using Check = std::function<void(const json&, const std::string&)>;
using Keys = std::initializer_list<std::pair<const char*, Check>>;

constexpr std::uint64_t max_payload = 65507;  // the largest UDP payload
constexpr std::uint64_t max_delay_ms = 600000;

[[noreturn]] void fail(const std::string& path, const std::string& what) {
  throw std::invalid_argument(path.empty() ? what : path + ": " + what);
}

std::string shown(const json& value) {
  std::string text = value.dump();
  return text.size() > 40 ? text.substr(0, 37) + "..." : text;
}

void number(const json& v, const std::string& path) {
  if (!v.is_number()) fail(path, "a number, not " + shown(v));
  if (!std::isfinite(v.get<double>())) fail(path, "a finite number, not " + shown(v));
}
// A whole number no larger than the field that holds it.
Check whole_to(std::uint64_t largest) {
  return [largest](const json& v, const std::string& path) {
    if (!v.is_number_unsigned() && !(v.is_number_integer() && v.get<long long>() >= 0))
      fail(path, "a whole number from 0, not " + shown(v));
    if (v.get<std::uint64_t>() > largest) fail(path, "at most " + std::to_string(largest) + ", not " + shown(v));
  };
}
void whole(const json& v, const std::string& path) { whole_to(0xFFFFFFFFu)(v, path); }
// A number within [lowest, highest].
Check number_in(double lowest, double highest) {
  return [lowest, highest](const json& v, const std::string& path) {
    number(v, path);
    const double x = v.get<double>();
    if (x < lowest || x > highest)
      fail(path, "from " + shown(json(lowest)) + " to " + shown(json(highest)) + ", not " + shown(v));
  };
}
void text(const json& v, const std::string& path) {
  if (!v.is_string()) fail(path, "a string, not " + shown(v));
}
// Texts a module sends as one element, whose length is one byte.
void element_text(const json& v, const std::string& path) {
  text(v, path);
  if (v.get_ref<const std::string&>().size() > 255)
    fail(path, "at most 255 bytes, not " + std::to_string(v.get_ref<const std::string&>().size()));
}
void boolean(const json& v, const std::string& path) {
  if (!v.is_boolean()) fail(path, "true or false, not " + shown(v));
}
void byte(const json& v, const std::string& path) {
  if (!v.is_string()) whole(v, path);
}
void limit(const json& v, const std::string& path) {
  if (!v.is_null()) number(v, path);
}
void code_or_name(const json& v, const std::string& path) {
  if (!v.is_string()) whole(v, path);
}

void object(const json& v, const std::string& path, Keys keys) {
  if (!v.is_object()) fail(path, "an object, not " + shown(v));
  for (const auto& [key, value] : v.items()) {
    const Check* check = nullptr;
    for (const auto& [name, each] : keys) {
      if (key == name) check = &each;
    }
    if (check == nullptr) fail(path, "unknown key \"" + key + "\"");
    (*check)(value, path.empty() ? key : path + "." + key);
  }
}

void list(const json& v, const std::string& path, const Check& each) {
  if (!v.is_array()) fail(path, "a list, not " + shown(v));
  for (std::size_t i = 0; i < v.size(); ++i) each(v[i], path + "[" + std::to_string(i) + "]");
}

// Objects keyed by channel number; the numbers are checked where the
// module is built.
Check channels(Check each) {
  return [each](const json& v, const std::string& path) {
    if (!v.is_object()) fail(path, "an object keyed by channel number, not " + shown(v));
    for (const auto& [channel, value] : v.items()) each(value, path + "." + channel);
  };
}

void signal(const json& v, const std::string& path) {
  if (v.is_number()) return;
  if (!v.is_object()) fail(path, "a number or a signal such as {\"signal\": \"sine\", ...}, not " + shown(v));
  const json shape = v.value("signal", json("constant"));
  text(shape, path + ".signal");
  const std::string name = shape.get<std::string>();
  if (name == "constant") return object(v, path, {{"signal", text}, {"value", number}});
  if (name == "sine") return object(v, path, {{"signal", text}, {"offset", number}, {"amplitude", number}, {"hz", number}});
  if (name == "ramp") return object(v, path, {{"signal", text}, {"from", number}, {"to", number}, {"period", number}});
  if (name == "noise")
    return object(v, path, {{"signal", text}, {"mean", number}, {"deviation", number}, {"seed", whole}});
  // An unknown shape is named where the signal is built.
}

void commands(const json& v, const std::string& path) {
  list(v, path, [](const json& code, const std::string& at) {
    if (!code.is_string()) whole(code, at);
  });
}

// A reply code, as a number or as text ("0x0401").
void code(const json& v, const std::string& path) {
  if (!v.is_string()) whole(v, path);
}

void fault(const json& v, const std::string& path) {
  object(v, path,
         {{"fault", text}, {"commands", commands}, {"after", whole}, {"count", whole},
          {"probability", number_in(0, 1)}, {"delay_ms", whole_to(max_delay_ms)}, {"refusal", text},
          {"chunks", whole}, {"then_correct", boolean}, {"bytes", whole_to(max_payload)}, {"code", code}});
}

void status_item(const json& v, const std::string& path) {
  object(v, path,
         {{"name", element_text}, {"unit", element_text}, {"description", element_text}, {"number_4", number},
          {"value", number}, {"lower", limit}, {"upper", limit}});
}

// Every status item must fit the one datagram of the status reply: 64 items
// of three 255-byte texts and four numbers take about 51 kB.
void status_list(const json& v, const std::string& path) {
  list(v, path, status_item);
  if (v.size() > max_status_items)
    fail(path, "at most " + std::to_string(max_status_items) + " items, not " + std::to_string(v.size()));
}

void module(const json& v, const std::string& path) {
  if (!v.is_object()) fail(path, "a module is an object, not " + shown(v));
  if (!v.contains("kind")) fail(path, "\"kind\" is missing");
  text(v.at("kind"), path + ".kind");
  const auto kind = kind_from_name(v.at("kind").get<std::string>());
  if (!kind) return;  // named where the module is built
  const auto check = [&](Keys own) {
    const Keys common = {{"kind", text},     {"address", text},      {"serial", whole},
                         {"identity", text}, {"name", element_text}, {"restart_ms", whole},
                         {"stream_speed", number_in(1e-3, 1e6)}, {"seed", whole},
                         {"status", status_list},
                         {"faults", [](const json& f, const std::string& p) { list(f, p, fault); }}};
    std::vector<std::pair<const char*, Check>> keys(common);
    keys.insert(keys.end(), own.begin(), own.end());
    for (const auto& [key, value] : v.items()) {
      const Check* found = nullptr;
      for (const auto& [name, each] : keys) {
        if (key == name) found = &each;
      }
      if (found == nullptr) fail(path, "unknown key \"" + key + "\" for a " + std::string(kind_name(*kind)));
      (*found)(value, path + "." + key);
    }
  };
  const auto temperature_channel = [](bool hx02) {
    return channels([hx02](const json& c, const std::string& p) {
      if (hx02) {
        object(c, p,
               {{"sensor", code_or_name}, {"range", number}, {"current", number}, {"nominal", number},
                {"celsius", signal}, {"volts", signal}});
      } else {
        object(c, p, {{"sensor", code_or_name}, {"celsius", signal}, {"volts", signal}});
      }
    });
  };
  switch (*kind) {
    case Kind::KL01:
    case Kind::KL02:
      return check({{"directions", byte}, {"inputs", byte}});
    case Kind::KS01:
    case Kind::KS02:
      return check({{"loads", channels(signal)}});
    case Kind::QU01:
      return check({{"rates", channels(number_in(0, 1e6))}});
    case Kind::RA01:
    case Kind::RE01:
      return check({{"channels", channels(signal)}, {"frequency", whole_to(0xFFFF)}});
    case Kind::WE01:
      return check({{"lowest", number}, {"highest", number}});
    case Kind::HX01:
      return check({{"cold_junction", signal}, {"channels", temperature_channel(false)}});
    case Kind::HX02:
      return check({{"channels", temperature_channel(true)}});
  }
}

// The tool's names, by the low byte of the family's command codes.
struct Named {
  const char* name;
  std::uint8_t low;
};
struct Family {
  Kind kind;
  std::initializer_list<Named> commands;
};
const Family families[] = {
    {Kind::KL01, {{"direction", 0x00}, {"read", 0x01}, {"write", 0x02}}},
    {Kind::KL02, {{"direction", 0x00}, {"read", 0x01}, {"write", 0x02}}},
    {Kind::KS01, {{"write", 0x00}, {"measure", 0x01}}},
    {Kind::KS02, {{"write", 0x00}}},
    {Kind::QU01, {{"disable", 0x00}, {"enable", 0x01}, {"read", 0x02}, {"clear", 0x04}, {"mode", 0x05}}},
    {Kind::RA01, {{"measure", 0x00}, {"stop", 0x04}, {"frequency", 0x08}}},
    {Kind::RE01, {{"measure", 0x00}, {"stop", 0x04}, {"frequency", 0x08}}},
    {Kind::WE01, {{"set", 0x00}}},
    {Kind::HX01, {{"measure", 0x00}, {"frequency", 0x08}, {"sensor", 0x09}}},
    {Kind::HX02, {{"measure", 0x00}, {"frequency", 0x08}, {"sensor", 0x09}}},
};
// Device management, the same for every kind.
constexpr Named management[] = {{"reset", 3}, {"info", 5}, {"status", 7}, {"configure", 9}, {"burn", 10}};

}  // namespace

void check_description(const json& description) {
  object(description, "",
         {{"client", text},
          {"prefix", whole},
          {"modules", [](const json& m, const std::string& p) { list(m, p, module); }}});
  if (!description.contains("modules")) fail("modules", "missing");
}

std::optional<std::uint16_t> command_by_name(Kind kind, const std::string& name) {
  for (const Named& m : management) {
    if (name == m.name) return m.low;
  }
  for (const Family& family : families) {
    if (family.kind != kind) continue;
    for (const Named& c : family.commands) {
      if (name == c.name) return static_cast<std::uint16_t>(family_code(family.kind) << 8 | c.low);
    }
  }
  return std::nullopt;
}

std::string command_names(Kind kind) {
  std::string names;
  for (const Family& family : families) {
    if (family.kind != kind) continue;
    for (const Named& c : family.commands) names += std::string(names.empty() ? "" : ", ") + c.name;
  }
  for (const Named& m : management) names += std::string(", ") + m.name;
  return names;
}

json with_command_codes(const json& fault, Kind kind) {
  json rule = fault;
  if (!rule.is_object() || !rule.contains("commands") || !rule.at("commands").is_array()) return rule;
  for (json& code : rule["commands"]) {
    if (!code.is_string()) continue;
    const std::string name = code.get<std::string>();
    if (!name.empty() && std::isdigit(static_cast<unsigned char>(name[0]))) continue;  // "0x0301"
    const auto found = command_by_name(kind, name);
    if (!found)
      throw std::invalid_argument("commands: '" + name + "' is no command of a " + kind_name(kind) + " (" +
                                  command_names(kind) + ", or a code such as \"0x0301\")");
    code = *found;
  }
  return rule;
}

}  // namespace varnode::sim
