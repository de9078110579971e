#include "modules.hpp"

#include <array>
#include <cmath>
#include <limits>
#include <optional>

#include <varnode/varnode.h>

#include "acquire.hpp"
#include "catalogue.hpp"

namespace mqtt_bridge {
namespace {

using nlohmann::json;

struct Refusal {
  std::string why;
};

namespace catalogue = varnode::catalogue;
namespace acquire = varnode::acquire;

const json& field(const json& request, const char* key) {
  if (!request.contains(key)) throw Refusal{"\"" + std::string(key) + "\" is missing"};
  return request[key];
}

std::vector<std::uint8_t> channels_of(const json& request, const KindInfo& kind, bool may_be_empty = false) {
  const json& v = field(request, "channels");
  if (!v.is_array()) throw Refusal{"\"channels\" must be a list of channel numbers"};
  if (v.empty() && !may_be_empty) throw Refusal{"\"channels\" is empty"};
  std::vector<std::uint8_t> out;
  for (const json& c : v) {
    if (!c.is_number_integer() || c.get<long long>() < 1 || c.get<long long>() > kind.channels)
      throw Refusal{"channel " + c.dump() + ": " + kind.name + " has channels 1 to " + std::to_string(kind.channels)};
    for (auto seen : out)
      if (seen == c.get<int>()) throw Refusal{"channel " + c.dump() + " is listed twice"};
    out.push_back(static_cast<std::uint8_t>(c.get<int>()));
  }
  return out;
}

// One entry per channel, from "values" (or the named key).
const json& per_channel(const json& request, const char* key, std::size_t count) {
  const json& v = field(request, key);
  if (!v.is_array() || v.size() != count)
    throw Refusal{"\"" + std::string(key) + "\" must be a list with one entry per channel"};
  return v;
}

std::vector<std::uint8_t> flags(const json& request, const char* key, std::size_t count) {
  std::vector<std::uint8_t> out;
  for (const json& x : per_channel(request, key, count)) {
    if (x.is_boolean()) out.push_back(x.get<bool>() ? 1 : 0);
    else if (x.is_number_integer() && (x.get<long long>() == 0 || x.get<long long>() == 1))
      out.push_back(static_cast<std::uint8_t>(x.get<int>()));
    else throw Refusal{"\"" + std::string(key) + "\": " + x.dump() + " is not true, false, 0 or 1"};
  }
  return out;
}

std::vector<float> floats(const json& request, const char* key, std::size_t count, bool nan_allowed) {
  std::vector<float> out;
  for (const json& x : per_channel(request, key, count)) {
    if (nan_allowed && x.is_null()) {
      out.push_back(std::numeric_limits<float>::quiet_NaN());
      continue;
    }
    if (!x.is_number() || !std::isfinite(x.get<double>()) ||
        std::fabs(x.get<double>()) > std::numeric_limits<float>::max())
      throw Refusal{"\"" + std::string(key) + "\": " + x.dump() + " is not a finite number"};
    out.push_back(static_cast<float>(x.get<double>()));
  }
  return out;
}

// A sensor by its code or one of its names; the entry names the nominal
// resistance a name implies (0: none).
template <std::size_t N>
catalogue::Sensor sensor_of(const json& x, const catalogue::Sensor (&table)[N], std::uint8_t last, const char* kind) {
  if (x.is_number_integer() && x.get<long long>() >= 0 && x.get<long long>() <= last)
    return {{}, static_cast<std::uint8_t>(x.get<int>()), {}, {}, 0};
  if (x.is_string())
    if (const catalogue::Sensor* s = catalogue::find_sensor(table, x.get<std::string>())) return *s;
  throw Refusal{"sensor " + x.dump() + " is not one of " + kind + "'s sensor names or codes 0 to " +
                std::to_string(last)};
}

std::uint16_t frequency_setting(const json& request) {
  const json& f = field(request, "frequency");
  // Bounded before the cast: 4294967302 must not pass as 6.
  if (f.is_number_integer() && f.get<long long>() > 0 && f.get<long long>() <= 65535 &&
      catalogue::accepted_frequency(static_cast<unsigned>(f.get<long long>())))
    return static_cast<std::uint16_t>(f.get<long long>());
  std::string list;
  for (const std::uint16_t each : catalogue::frequencies) list += (list.empty() ? "" : ", ") + std::to_string(each);
  throw Refusal{"frequency " + f.dump() + " is not one of " + list};
}

std::uint8_t count8(std::size_t n) { return static_cast<std::uint8_t>(n); }

using BoolWrite = std::uint8_t (*)(std::uint32_t, const std::uint8_t*, std::uint8_t, const bool*, std::uint8_t);

std::uint8_t write_flags(BoolWrite call, std::uint32_t address, const std::vector<std::uint8_t>& channels,
                         const std::vector<std::uint8_t>& values) {
  std::array<bool, 8> v{};
  for (std::size_t i = 0; i < values.size(); ++i) v[i] = values[i] != 0;
  return call(address, channels.data(), count8(channels.size()), v.data(), count8(values.size()));
}

Outcome apply(const ModuleEntry& m, const json& request) {
  const KindInfo& kind = kind_info(m.kind);
  if (!request.is_object()) throw Refusal{"the payload must be a JSON object"};
  const json& command_field = field(request, "command");
  if (!command_field.is_string()) throw Refusal{"\"command\" must be a string"};
  const std::string command = command_field.get<std::string>();
  const std::uint32_t a = m.address;

  if (command == "timeout") {
    const json& t = field(request, "timeout_ms");
    if (!t.is_number_integer() || t.get<long long>() < 1 || t.get<long long>() > 65535)
      throw Refusal{"\"timeout_ms\" must be a whole number from 1 to 65535"};
    return {set_timeout(a, static_cast<std::uint16_t>(t.get<int>())), ""};
  }
  switch (m.kind) {
    case Kind::kl01:
    case Kind::kl02: {
      const bool one = m.kind == Kind::kl01;
      if (command == "write" || command == "direction") {
        const auto ch = channels_of(request, kind);
        const auto v = flags(request, "values", ch.size());
        if (command == "write") return {write_flags(one ? kl01_write : kl02_write, a, ch, v), ""};
        return {write_flags(one ? kl01_set_direction : kl02_set_direction, a, ch, v), ""};
      }
      break;
    }
    case Kind::ks01:
    case Kind::ks02:
      if (command == "write") {
        const auto ch = channels_of(request, kind);
        const auto v = flags(request, "values", ch.size());
        return {write_flags(m.kind == Kind::ks01 ? ks01_write : ks02_write, a, ch, v), ""};
      }
      break;
    case Kind::we01:
      if (command == "write") {
        const auto ch = channels_of(request, kind);
        const auto v = floats(request, "values", ch.size(), false);
        return {we01_control(a, ch.data(), count8(ch.size()), v.data(), count8(v.size())), ""};
      }
      break;
    case Kind::qu01:
      if (command == "enable" || command == "disable" || command == "clear") {
        const auto ch = channels_of(request, kind);
        auto call = command == "enable" ? qu01_enable : command == "disable" ? qu01_disable : qu01_clear;
        return {call(a, ch.data(), count8(ch.size())), ""};
      }
      if (command == "mode") {
        const auto ch = channels_of(request, kind);
        std::vector<std::uint8_t> modes;
        for (const json& x : per_channel(request, "modes", ch.size())) {
          if (!x.is_number_integer() || x.get<long long>() < 0 || x.get<long long>() > 3)
            throw Refusal{"mode " + x.dump() + " is not 0, 1, 2 or 3"};
          modes.push_back(static_cast<std::uint8_t>(x.get<int>()));
        }
        return {qu01_set_mode(a, ch.data(), count8(ch.size()), modes.data(), count8(modes.size())), ""};
      }
      break;
    case Kind::hx01:
      if (command == "sensor") {
        const auto ch = channels_of(request, kind);
        std::vector<std::uint8_t> codes;
        for (const json& x : per_channel(request, "sensors", ch.size()))
          codes.push_back(sensor_of(x, catalogue::hx01_sensors, catalogue::hx01_sensor_last, "HX01").code);
        return {hx01_set_sensor(a, ch.data(), count8(ch.size()), codes.data(), count8(codes.size())), ""};
      }
      if (command == "frequency") return {hx01_set_frequency(a, frequency_setting(request)), ""};
      break;
    case Kind::hx02:
      if (command == "sensor") {
        const auto ch = channels_of(request, kind);
        std::vector<std::uint8_t> codes;
        std::vector<float> nominals;
        const json& names = per_channel(request, "sensors", ch.size());
        for (const json& x : names) {
          const catalogue::Sensor s = sensor_of(x, catalogue::hx02_sensors, catalogue::hx02_sensor_last, "HX02");
          codes.push_back(s.code);
          nominals.push_back(s.nominal != 0 ? s.nominal : catalogue::hx02_nominal);
        }
        const auto nan = std::numeric_limits<float>::quiet_NaN();
        std::vector<float> ranges(ch.size(), nan), currents(ch.size(), nan);
        if (request.contains("ranges")) ranges = floats(request, "ranges", ch.size(), true);
        if (request.contains("currents")) currents = floats(request, "currents", ch.size(), true);
        if (request.contains("nominals")) nominals = floats(request, "nominals", ch.size(), false);
        const auto n = count8(ch.size());
        return {hx02_set_sensor(a, ch.data(), n, codes.data(), n, ranges.data(), n, currents.data(), n,
                                nominals.data(), n),
                ""};
      }
      if (command == "frequency") return {hx02_set_frequency(a, frequency_setting(request)), ""};
      break;
    case Kind::ra01:
    case Kind::re01:
      break;
  }
  throw Refusal{"\"" + command + "\" is not a command of " + std::string(kind.name)};
}

}  // namespace

const char* code_word(std::uint8_t code) { return acquire::status_word(code); }

namespace {

std::optional<acquire::Family> family_of(Kind kind) {
  return acquire::family_named(kind_info(kind).family);
}

}  // namespace

Reading read(const ModuleEntry& m) {
  Reading r;
  const auto& ch = m.poll->channels;
  if (m.kind == Kind::ra01 || m.kind == Kind::re01) {
    // One sample at the poll's configured frequency, which the shared reader does not take.
    std::array<float, 8> v{};
    std::uint32_t size = 8;
    r.code = (m.kind == Kind::ra01 ? ra01_measure : re01_measure)(m.address, ch.data(), count8(ch.size()), 1,
                                                                  m.poll->frequency, v.data(), &size);
    if (r.code == 0)
      for (std::uint32_t i = 0; i < size; ++i) r.values.emplace_back(v[i]);
    return r;
  }
  std::vector<acquire::Channel> wanted;
  for (const std::uint8_t c : ch) wanted.push_back({acquire::Channel::Kind::number, c, {}});
  if (m.kind == Kind::qu01) wanted.push_back({acquire::Channel::Kind::reference, 0, {}});
  const acquire::Reading got = acquire::read(m.address, *family_of(m.kind), wanted);
  r.code = got.code;
  if (r.code != 0) return r;
  auto as_json = [](const acquire::Value& v) -> json {
    if (const auto* i = std::get_if<std::int64_t>(&v)) return *i;
    if (const auto* d = std::get_if<double>(&v)) {
      // JSON has no infinity: a reading beyond its table is written as text.
      if (std::isinf(*d)) return *d > 0 ? "inf" : "-inf";
      return static_cast<float>(*d);
    }
    return nullptr;
  };
  for (std::size_t i = 0; i < ch.size(); ++i) r.values.push_back(as_json(got.values[i]));
  if (m.kind == Kind::qu01) r.reference = as_json(got.values.back());
  return r;
}

std::uint8_t stream_block(const ModuleEntry& m, std::vector<float>& values) {
  const Stream& s = *m.stream;
  acquire::Block block =
      acquire::stream(m.address, *family_of(m.kind), s.channels, s.samples, static_cast<float>(s.frequency));
  values = std::move(block.values);
  return block.code;
}

Identity identity(std::uint32_t address) {
  constexpr std::uint32_t cap = 256;
  std::array<std::array<char, cap>, 11> t{};
  std::array<std::uint32_t, 11> sizes;
  sizes.fill(cap);
  Identity id;
  std::uint32_t n8 = 0, n9 = 0, d11 = 0, d12 = 0, d13 = 0, n14 = 0, n15 = 0, n16 = 0, ip = 0, a19 = 0, a20 = 0;
  std::uint8_t mac[6] = {};
  std::uint8_t flag = 0;
  id.code = get_info(address, t[0].data(), &sizes[0], t[1].data(), &sizes[1], t[2].data(), &sizes[2], &id.serial,
                     t[3].data(), &sizes[3], t[4].data(), &sizes[4], &n8, &n9, t[5].data(), &sizes[5], t[6].data(),
                     &sizes[6], &d11, &d12, &d13, &n14, &n15, &n16, mac, &ip, &a19, &a20, &flag, t[7].data(),
                     &sizes[7], t[8].data(), &sizes[8], t[9].data(), &sizes[9], t[10].data(), &sizes[10]);
  if (id.code != 0) return id;
  auto s = [&](int i) { return std::string(t[static_cast<std::size_t>(i)].data(), sizes[static_cast<std::size_t>(i)]); };
  char mac_text[18];
  std::snprintf(mac_text, sizeof mac_text, "%02x:%02x:%02x:%02x:%02x:%02x", mac[0], mac[1], mac[2], mac[3], mac[4],
                mac[5]);
  id.info = {{"maker", s(0)},    {"kind", s(1)},        {"description", s(2)}, {"serial", id.serial},
             {"hardware", s(3)}, {"controller", s(4)},  {"firmware", s(5)},    {"name", s(8)},
             {"address", dotted(ip)}, {"mac", mac_text}, {"resets", n14}};
  return id;
}

Status status(std::uint32_t address) {
  constexpr std::uint32_t cap = 4096, items = 64;
  std::string names(cap, '\0'), units(cap, '\0'), descriptions(cap, '\0');
  std::uint32_t names_size = cap, units_size = cap, descriptions_size = cap, size = items;
  std::vector<float> numbers(items), lower_limits(items), upper_limits(items), values(items);
  std::uint8_t ok = 0;
  Status st;
  st.code = get_status(address, names.data(), &names_size, units.data(), &units_size, descriptions.data(),
                       &descriptions_size, numbers.data(), lower_limits.data(), upper_limits.data(), values.data(),
                       &size, &ok);
  if (st.code != 0) return st;
  auto split = [](const std::string& all, std::uint32_t used) {
    std::vector<std::string> out;
    std::string cur;
    for (std::uint32_t i = 0; i < used; ++i) {
      if (all[i] == '\t') {
        out.push_back(cur);
        cur.clear();
      } else {
        cur += all[i];
      }
    }
    out.push_back(cur);
    return out;
  };
  const auto n = split(names, names_size), u = split(units, units_size), d = split(descriptions, descriptions_size);
  auto number = [](float x) { return std::isfinite(x) ? json(x) : json(nullptr); };
  json list = json::object();
  for (std::uint32_t i = 0; i < size && i < n.size(); ++i)
    list[n[i]] = {{"value", number(values[i])},
                  {"unit", i < u.size() ? u[i] : ""},
                  {"description", i < d.size() ? d[i] : ""},
                  {"lower", number(lower_limits[i])},
                  {"upper", number(upper_limits[i])}};
  st.status = {{"ok", ok != 0}, {"items", list}};
  return st;
}

Outcome run_command(const ModuleEntry& module, const json& request) {
  try {
    return apply(module, request);
  } catch (const Refusal& r) {
    return {VARNODE_PARAMETER, r.why};
  }
}

}  // namespace mqtt_bridge
