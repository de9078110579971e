#include "description.hpp"

#include <arpa/inet.h>

#include <cmath>
#include <functional>
#include <initializer_list>
#include <set>
#include <utility>

#include <nlohmann/json.hpp>

#include "catalogue.hpp"

namespace mqtt_bridge {
namespace {

using nlohmann::json;

// The catalogue's name and channel count; the topic level and the unit of a
// polled reading are the bridge's.
constexpr KindInfo entry(Kind kind, const char* family, const char* unit) {
  const varnode::catalogue::Family& f = varnode::catalogue::families[static_cast<unsigned>(kind)];
  return {kind, f.name.data(), family, f.channels, unit};
}
constexpr KindInfo kinds[] = {
    entry(Kind::kl01, "kl01", ""),  entry(Kind::kl02, "kl02", ""),  entry(Kind::ks01, "ks01", ""),
    entry(Kind::ks02, "ks02", ""),  entry(Kind::qu01, "qu01", ""),  entry(Kind::ra01, "ra01", "A"),
    entry(Kind::re01, "re01", "V"), entry(Kind::we01, "we01", "V"), entry(Kind::hx01, "hx01", "K"),
    entry(Kind::hx02, "hx02", "K"),
};
static_assert(std::size(kinds) == std::size(varnode::catalogue::families));

std::string frequency_list() {
  std::string list;
  for (const std::uint16_t f : varnode::catalogue::frequencies) list += (list.empty() ? "" : ", ") + std::to_string(f);
  return list;
}

[[noreturn]] void fail(const std::string& path, const std::string& what) {
  throw DescriptionError(path.empty() ? what : path + ": " + what);
}

std::string shown(const json& value) {
  std::string text = value.dump();
  return text.size() > 40 ? text.substr(0, 37) + "..." : text;
}

std::string join(const std::string& path, const std::string& key) { return path.empty() ? key : path + "." + key; }

// Each object's keys must all be known; the caller reads the values.
void known_keys(const json& v, const std::string& path, std::initializer_list<const char*> keys) {
  if (!v.is_object()) fail(path, "an object, not " + shown(v));
  for (const auto& item : v.items()) {
    bool found = false;
    for (const char* key : keys) found = found || item.key() == key;
    if (!found) fail(path, "unknown key \"" + item.key() + "\"");
  }
}

std::string text(const json& v, const std::string& path) {
  if (!v.is_string()) fail(path, "a string, not " + shown(v));
  return v.get<std::string>();
}

double number(const json& v, const std::string& path, double low, double high) {
  if (!v.is_number()) fail(path, "a number, not " + shown(v));
  const double x = v.get<double>();
  if (!std::isfinite(x) || x < low || x > high)
    fail(path, "a number from " + json(low).dump() + " to " + json(high).dump() + ", not " + shown(v));
  return x;
}

std::uint64_t whole(const json& v, const std::string& path, std::uint64_t low, std::uint64_t high) {
  if (!v.is_number_integer() || (v.is_number_integer() && !v.is_number_unsigned() && v.get<long long>() < 0) ||
      v.get<std::uint64_t>() < low || v.get<std::uint64_t>() > high)
    fail(path, "a whole number from " + std::to_string(low) + " to " + std::to_string(high) + ", not " + shown(v));
  return v.get<std::uint64_t>();
}

bool boolean(const json& v, const std::string& path) {
  if (!v.is_boolean()) fail(path, "true or false, not " + shown(v));
  return v.get<bool>();
}

std::vector<std::uint8_t> channel_list(const json& v, const std::string& path, const KindInfo& kind) {
  if (!v.is_array() || v.empty()) fail(path, "a list of channel numbers, not " + shown(v));
  std::vector<std::uint8_t> out;
  for (std::size_t i = 0; i < v.size(); ++i) {
    const auto c = static_cast<std::uint8_t>(whole(v[i], path + "[" + std::to_string(i) + "]", 1, kind.channels));
    for (auto seen : out)
      if (seen == c) fail(path, "channel " + std::to_string(c) + " is listed twice");
    out.push_back(c);
  }
  return out;
}

std::uint32_t address(const json& v, const std::string& path) {
  const std::string t = text(v, path);
  in_addr parsed{};
  if (::inet_pton(AF_INET, t.c_str(), &parsed) != 1) fail(path, "an IPv4 address, not " + shown(v));
  const std::uint32_t a = ntohl(parsed.s_addr);
  if (a == 0 || a == 0xFFFFFFFFu) fail(path, "not a module's address: " + t);
  return a;
}

Poll poll(const json& v, const std::string& path, const KindInfo& kind) {
  known_keys(v, path, {"channels", "interval", "frequency", "units"});
  if (kind.kind == Kind::ks02 || kind.kind == Kind::we01)
    fail(path, std::string(kind.name) + " has nothing to read: its outputs show in its status");
  Poll p;
  if (!v.contains("channels")) fail(path, "\"channels\" is required");
  p.channels = channel_list(v["channels"], join(path, "channels"), kind);
  if (v.contains("interval")) p.interval = number(v["interval"], join(path, "interval"), 0.01, 86400);
  if (v.contains("frequency")) {
    if (kind.kind != Kind::ra01 && kind.kind != Kind::re01) fail(join(path, "frequency"), "only for RA01 and RE01");
    const auto f = whole(v["frequency"], join(path, "frequency"), varnode::catalogue::frequencies[0],
                         varnode::catalogue::frequencies[VARNODE_FREQUENCY_COUNT - 1]);
    if (!varnode::catalogue::accepted_frequency(static_cast<unsigned>(f)))
      fail(join(path, "frequency"), "one of " + frequency_list());
    p.frequency = static_cast<std::uint16_t>(f);
  }
  if (v.contains("units")) {
    const json& units = v["units"];
    const std::string upath = join(path, "units");
    if (!units.is_object()) fail(upath, "an object keyed by channel number, not " + shown(units));
    for (const auto& item : units.items()) {
      const std::string cpath = upath + "." + item.key();
      unsigned long c = 0;
      try {
        std::size_t used = 0;
        c = std::stoul(item.key(), &used);
        if (used != item.key().size()) c = 0;
      } catch (const std::exception&) {
        c = 0;
      }
      if (c < 1 || c > kind.channels) fail(cpath, "not a channel of " + std::string(kind.name));
      p.units[static_cast<std::uint8_t>(c)] = text(item.value(), cpath);
    }
  }
  return p;
}

Stream stream(const json& v, const std::string& path, const KindInfo& kind) {
  known_keys(v, path, {"channels", "samples", "frequency"});
  if (kind.kind != Kind::ra01 && kind.kind != Kind::re01) fail(path, "only RA01 and RE01 stream");
  Stream s;
  for (const char* key : {"channels", "samples", "frequency"})
    if (!v.contains(key)) fail(path, "\"" + std::string(key) + "\" is required");
  s.channels = channel_list(v["channels"], join(path, "channels"), kind);
  s.samples = static_cast<std::uint32_t>(whole(v["samples"], join(path, "samples"), 2, VARNODE_SAMPLE_LIMIT));
  s.frequency = number(v["frequency"], join(path, "frequency"), VARNODE_MEASURE_FREQUENCY_LOWEST,
                       VARNODE_MEASURE_FREQUENCY_HIGHEST);
  return s;
}

ModuleEntry module(const json& v, const std::string& path) {
  known_keys(v, path,
             {"kind", "address", "name", "timeout_ms", "poll", "stream", "status_interval", "offline_after"});
  ModuleEntry m;
  if (!v.contains("kind")) fail(path, "\"kind\" is required");
  const auto kind = kind_from_name(text(v["kind"], join(path, "kind")));
  if (!kind) fail(join(path, "kind"), "one of KL01 KL02 KS01 KS02 QU01 RA01 RE01 WE01 HX01 HX02, not " + shown(v["kind"]));
  m.kind = *kind;
  const KindInfo& info = kind_info(m.kind);
  if (!v.contains("address")) fail(path, "\"address\" is required");
  m.address = address(v["address"], join(path, "address"));
  if (v.contains("name")) {
    m.name = text(v["name"], join(path, "name"));
    if (!topic_safe(m.name)) fail(join(path, "name"), "letters, digits, '_' and '-' only, not " + shown(v["name"]));
    if (m.name == "bridge") fail(join(path, "name"), "\"bridge\" is the bridge's own topic");
  }
  if (v.contains("timeout_ms"))
    m.timeout_ms = static_cast<std::uint16_t>(whole(v["timeout_ms"], join(path, "timeout_ms"), 1, 65535));
  if (v.contains("poll")) m.poll = poll(v["poll"], join(path, "poll"), info);
  if (v.contains("stream")) m.stream = stream(v["stream"], join(path, "stream"), info);
  if (m.poll && m.stream) fail(path, "a module is either polled or streamed, not both");
  if (v.contains("status_interval"))
    m.status_interval = number(v["status_interval"], join(path, "status_interval"), 0.1, 86400);
  if (v.contains("offline_after"))
    m.offline_after = static_cast<unsigned>(whole(v["offline_after"], join(path, "offline_after"), 1, 1000));
  return m;
}

Broker broker(const json& v, const std::string& path) {
  known_keys(v, path, {"host", "port", "client_id", "username", "password", "password_file", "protocol", "keepalive",
                       "tls"});
  Broker b;
  if (v.contains("host")) b.host = text(v["host"], join(path, "host"));
  if (v.contains("port")) b.port = static_cast<std::uint16_t>(whole(v["port"], join(path, "port"), 1, 65535));
  if (v.contains("client_id")) b.client_id = text(v["client_id"], join(path, "client_id"));
  if (v.contains("username")) b.username = text(v["username"], join(path, "username"));
  if (v.contains("password")) b.password = text(v["password"], join(path, "password"));
  if (v.contains("password_file")) b.password_file = text(v["password_file"], join(path, "password_file"));
  if (!b.password.empty() && !b.password_file.empty()) fail(path, "\"password\" or \"password_file\", not both");
  if (v.contains("protocol")) {
    const std::string p = text(v["protocol"], join(path, "protocol"));
    if (p != "5" && p != "3.1.1") fail(join(path, "protocol"), "\"5\" or \"3.1.1\", not " + shown(v["protocol"]));
    b.v5 = p == "5";
  }
  if (v.contains("keepalive"))
    b.keepalive = static_cast<unsigned>(whole(v["keepalive"], join(path, "keepalive"), 5, 65535));
  if (v.contains("tls")) {
    const std::string tpath = join(path, "tls");
    known_keys(v["tls"], tpath, {"ca_file", "cert_file", "key_file", "insecure"});
    Tls t;
    const json& tv = v["tls"];
    if (tv.contains("ca_file")) t.ca_file = text(tv["ca_file"], join(tpath, "ca_file"));
    if (tv.contains("cert_file")) t.cert_file = text(tv["cert_file"], join(tpath, "cert_file"));
    if (tv.contains("key_file")) t.key_file = text(tv["key_file"], join(tpath, "key_file"));
    if (tv.contains("insecure")) t.insecure = boolean(tv["insecure"], join(tpath, "insecure"));
    if (t.ca_file.empty()) fail(tpath, "\"ca_file\" is required");
    if (t.cert_file.empty() != t.key_file.empty()) fail(tpath, "\"cert_file\" and \"key_file\" go together");
    b.tls = t;
  }
  return b;
}

}  // namespace

const KindInfo& kind_info(Kind kind) { return kinds[static_cast<unsigned>(kind)]; }

std::optional<Kind> kind_from_name(const std::string& name) {
  for (const auto& k : kinds)
    if (name == k.name) return k.kind;
  return std::nullopt;
}

bool topic_safe(const std::string& name) {
  if (name.empty() || name.size() > 64) return false;
  for (char c : name)
    if (!((c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '_' || c == '-'))
      return false;
  return true;
}

std::string dotted(std::uint32_t a) {
  return std::to_string(a >> 24) + "." + std::to_string((a >> 16) & 0xFF) + "." + std::to_string((a >> 8) & 0xFF) +
         "." + std::to_string(a & 0xFF);
}

Description parse_description(const std::string& source) {
  json v;
  try {
    v = json::parse(source, nullptr, true, true);
  } catch (const json::parse_error& e) {
    throw DescriptionError(e.what());
  }
  known_keys(v, "", {"broker", "site", "queue", "qos", "workers", "status_interval", "modules"});
  Description d;
  if (!v.contains("site")) fail("", "\"site\" is required");
  d.site = text(v["site"], "site");
  if (!topic_safe(d.site)) fail("site", "letters, digits, '_' and '-' only, not " + shown(v["site"]));
  if (v.contains("broker")) d.broker = broker(v["broker"], "broker");
  if (d.broker.client_id.empty()) d.broker.client_id = "varnode-mqtt-" + d.site;
  if (!topic_safe(d.broker.client_id))
    fail("broker.client_id", "letters, digits, '_' and '-' only (it names the bridge's topics)");
  if (v.contains("queue")) d.queue = static_cast<std::size_t>(whole(v["queue"], "queue", 1, 100000000));
  if (v.contains("qos")) d.qos = static_cast<int>(whole(v["qos"], "qos", 0, 1));
  if (v.contains("workers")) d.workers = static_cast<unsigned>(whole(v["workers"], "workers", 1, 256));
  if (v.contains("status_interval")) d.status_interval = number(v["status_interval"], "status_interval", 0.1, 86400);
  if (!v.contains("modules")) fail("", "\"modules\" is required");
  const json& modules = v["modules"];
  if (!modules.is_array()) fail("modules", "a list, not " + shown(modules));
  std::set<std::uint32_t> addresses;
  std::set<std::string> names;
  for (std::size_t i = 0; i < modules.size(); ++i) {
    const std::string path = "modules[" + std::to_string(i) + "]";
    ModuleEntry m = module(modules[i], path);
    if (!addresses.insert(m.address).second) fail(path + ".address", dotted(m.address) + " is listed twice");
    if (!m.name.empty() && !names.insert(m.name).second) fail(path + ".name", "\"" + m.name + "\" is listed twice");
    d.modules.push_back(std::move(m));
  }
  return d;
}

}  // namespace mqtt_bridge
