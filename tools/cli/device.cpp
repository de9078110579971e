// find, info, status, reset, configure, burn, timeout.
#include <cmath>
#include <cstdio>
#include <memory>
#include <set>
#include <sstream>

#include "arguments.hpp"
#include "commands.hpp"
#include "varnode/varnode.h"

namespace varnode::cli {
namespace {

struct Identity {
  std::string text_1, text_2, text_3, text_5, text_6, text_7, text_10, text_21, text_22, text_24, text_25;
  std::uint32_t serial = 0, number_8 = 0, number_9 = 0, date_11 = 0, date_12 = 0, date_13 = 0;
  std::uint32_t number_14 = 0, number_15 = 0, number_16 = 0, ip = 0, address_19 = 0, address_20 = 0;
  std::uint8_t mac[6] = {};
  std::uint8_t flag_23 = 0;
};

std::uint8_t read_identity(std::uint32_t address, Identity& id) {
  constexpr std::uint32_t capacity = 256;
  char t[11][capacity];
  std::uint32_t s[11];
  for (auto& size : s) size = capacity;
  const std::uint8_t rc =
      get_info(address, t[0], &s[0], t[1], &s[1], t[2], &s[2], &id.serial, t[3], &s[3], t[4], &s[4], &id.number_8,
               &id.number_9, t[5], &s[5], t[6], &s[6], &id.date_11, &id.date_12, &id.date_13, &id.number_14,
               &id.number_15, &id.number_16, id.mac, &id.ip, &id.address_19, &id.address_20, &id.flag_23, t[7], &s[7],
               t[8], &s[8], t[9], &s[9], t[10], &s[10]);
  if (rc != 0) return rc;
  std::string* texts[11] = {&id.text_1, &id.text_2,  &id.text_3,  &id.text_5,  &id.text_6, &id.text_7,
                            &id.text_10, &id.text_21, &id.text_22, &id.text_24, &id.text_25};
  for (int i = 0; i < 11; ++i) texts[i]->assign(t[i], s[i]);
  return 0;
}

// Days since 0000-01-01 as YYYY-MM-DD (year 0 exists and is a leap year).
std::string format_date(std::uint32_t days) {
  long z = static_cast<long>(days) - 60;  // from 0000-03-01
  const long era = (z >= 0 ? z : z - 146096) / 146097;
  const long doe = z - era * 146097;
  const long yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
  const long doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
  const long mp = (5 * doy + 2) / 153;
  const long d = doy - (153 * mp + 2) / 5 + 1;
  const long m = mp < 10 ? mp + 3 : mp - 9;
  const long y = yoe + era * 400 + (m <= 2 ? 1 : 0);
  char text[64];
  std::snprintf(text, sizeof text, "%04ld-%02ld-%02ld", y, m, d);
  return text;
}

std::string format_mac(const std::uint8_t* mac) {
  char text[24];
  std::snprintf(text, sizeof text, "%02x:%02x:%02x:%02x:%02x:%02x", mac[0], mac[1], mac[2], mac[3], mac[4], mac[5]);
  return text;
}

// In tag order, as the module sends them, each named by what modules put
// there; own_* fields hold values whose meaning is the module's own, so
// they keep their tag number.
nlohmann::ordered_json identity_json(std::uint32_t address, const Identity& id) {
  return {{"address", format_address(address)}, {"maker", id.text_1}, {"type", id.text_2},
          {"description", id.text_3}, {"serial_number", id.serial}, {"hardware_revision", id.text_5},
          {"microcontroller", id.text_6}, {"firmware_version", id.text_7}, {"own_number_8", id.number_8},
          {"own_number_9", id.number_9}, {"own_text_10", id.text_10}, {"production_date", format_date(id.date_11)},
          {"calibration_date", format_date(id.date_12)}, {"firmware_date", format_date(id.date_13)},
          {"resets", id.number_14}, {"port", id.number_15}, {"own_number_16", id.number_16},
          {"mac_address", format_mac(id.mac)}, {"ip_address", format_address(id.ip)},
          {"netmask", format_address(id.address_19)}, {"gateway", format_address(id.address_20)},
          {"configured_text", id.text_21}, {"name", id.text_22}, {"configured_flag", id.flag_23},
          {"burned_data", id.text_24}, {"own_text_25", id.text_25}};
}

std::vector<std::string> split_tabs(const std::string& text, std::size_t count) {
  std::vector<std::string> parts;
  std::string part;
  std::istringstream in(text);
  while (std::getline(in, part, '\t')) parts.push_back(part);
  if (!text.empty() && text.back() == '\t') parts.emplace_back();
  parts.resize(std::max(parts.size(), count));
  return parts;
}

bool in_range(float value, float lower, float upper) {
  const bool below = !std::isnan(lower) && (std::isnan(value) || value < lower);
  const bool above = !std::isnan(upper) && (std::isnan(value) || value > upper);
  return !below && !above;
}

// How many modules find lists unless --max says otherwise: the library
// fills only the room it is given and says nothing of the rest.
constexpr std::uint32_t default_find_limit = 65536;

// Which of `serials` did not answer: the library says only that one did
// not, so every module is asked for its identity.
std::string missing(const std::vector<std::uint32_t>& serials) {
  std::vector<std::uint32_t> addresses(default_find_limit);
  auto size = static_cast<std::uint32_t>(addresses.size());
  std::set<std::uint32_t> answered;
  if (find(addresses.data(), &size, nullptr, 0) == VARNODE_SUCCESS) {
    for (std::uint32_t i = 0; i < size; ++i) {
      Identity id;
      if (read_identity(addresses[i], id) == 0) answered.insert(id.serial);
    }
  }
  std::string silent;
  for (std::uint32_t serial : serials) {
    if (!answered.contains(serial)) silent += (silent.empty() ? "" : ", ") + std::to_string(serial);
  }
  if (silent.empty()) return {};
  return "serial number" + std::string(silent.find(',') == std::string::npos ? " " : "s ") + silent +
         " did not answer";
}

void find_command(const Context& c, const std::vector<std::string>& serial_words, bool details,
                  std::uint32_t limit) {
  std::vector<std::uint32_t> serials;
  for (const auto& word : serial_words)
    serials.push_back(static_cast<std::uint32_t>(parse_unsigned(word, "serial number", 0xFFFFFFFFu)));
  std::vector<std::uint32_t> addresses(std::max<std::size_t>(serials.size(), limit));
  auto size = static_cast<std::uint32_t>(addresses.size());
  const std::uint8_t found = find(addresses.data(), &size, serials.empty() ? nullptr : serials.data(),
                                  static_cast<std::uint32_t>(serials.size()));
  if (found == VARNODE_NOT_FOUND) throw Failure{found, "find by serial number", 0, missing(serials)};
  check(found, serials.empty() ? "find" : "find by serial number");
  addresses.resize(size);
  // A full list may have left modules out: say so, on stderr so that JSON
  // stays parseable.
  const bool full = serials.empty() && size == limit;
  if (full)
    std::fprintf(stderr, "varnode: find lists at most %u modules and that many answered, so there may be more; "
                 "--max N raises the limit\n", limit);
  nlohmann::json list = nlohmann::json::array();
  Table table({"address", "type", "serial", "name"});
  for (std::size_t i = 0; i < addresses.size(); ++i) {
    Identity id;
    c.prepare(addresses[i]);
    const std::uint8_t rc = details ? read_identity(addresses[i], id) : 1;
    nlohmann::json entry{{"address", format_address(addresses[i])}};
    if (!serials.empty()) entry["serial_number"] = serials[i];
    if (rc == 0) {
      entry["type"] = id.text_2;
      entry["serial_number"] = id.serial;
      entry["name"] = id.text_22;
    }
    list.push_back(entry);
    const std::string unread = details ? std::string("(identity: ") + code_name(rc) + ")" : "-";
    table.add({format_address(addresses[i]), rc == 0 ? id.text_2 : "-",
               rc == 0 ? std::to_string(id.serial) : serials.empty() ? "-" : std::to_string(serials[i]),
               rc == 0 ? id.text_22 : unread});
  }
  if (c.json) return print_json(list);
  if (addresses.empty()) {
    std::cout << "no module answered\n";
    return;
  }
  table.print();
}

void info_command(const Context& c, const std::string& where) {
  const std::uint32_t address = parse_address(where);
  c.prepare(address);
  Identity id;
  check(read_identity(address, id), "info " + where, address);
  const nlohmann::ordered_json fields = identity_json(address, id);
  if (c.json) {
    std::cout << fields.dump(2, ' ', false, nlohmann::ordered_json::error_handler_t::replace) << "\n";
    return;
  }
  Table table({"field", "value"});
  for (const auto& [key, value] : fields.items()) {
    table.add({key, value.is_string() ? value.get<std::string>() : value.dump()});
  }
  table.print();
}

void status_command(const Context& c, const std::string& where) {
  const std::uint32_t address = parse_address(where);
  c.prepare(address);
  constexpr std::uint32_t text_capacity = 16384, capacity = 256;
  std::string names(text_capacity, '\0'), texts_2(text_capacity, '\0'), texts_3(text_capacity, '\0');
  std::uint32_t names_size = text_capacity, texts_2_size = text_capacity, texts_3_size = text_capacity;
  std::vector<float> numbers_4(capacity), lower(capacity), upper(capacity), values(capacity);
  std::uint32_t size = capacity;
  std::uint8_t ok = 0;
  check(get_status(address, names.data(), &names_size, texts_2.data(), &texts_2_size, texts_3.data(), &texts_3_size,
                   numbers_4.data(), lower.data(), upper.data(), values.data(), &size, &ok),
        "status " + where, address);
  const auto name = split_tabs(names.substr(0, names_size), size);
  const auto unit = split_tabs(texts_2.substr(0, texts_2_size), size);
  const auto description = split_tabs(texts_3.substr(0, texts_3_size), size);
  nlohmann::json items = nlohmann::json::array();
  Table table({"name", "value", "unit", "lower", "upper", "in range", "own number", "description"});
  for (std::uint32_t i = 0; i < size; ++i) {
    const bool good = in_range(values[i], lower[i], upper[i]);
    const auto number = json_float;
    items.push_back({{"name", name[i]}, {"value", number(values[i])}, {"unit", unit[i]},
                     {"lower_limit", number(lower[i])}, {"upper_limit", number(upper[i])}, {"in_range", good},
                     {"own_number", number(numbers_4[i])}, {"description", description[i]}});
    table.add({name[i], format_float(values[i]), unit[i], format_float(lower[i]), format_float(upper[i]),
               good ? "yes" : "NO", format_float(numbers_4[i]), description[i]});
  }
  if (c.json) return print_json({{"address", where}, {"ok", ok != 0}, {"items", items}});
  table.print();
  std::cout << (ok != 0 ? "every item is in range\n" : "SOME ITEMS ARE OUT OF RANGE\n");
}

void done(const Context& c, const std::string& what, nlohmann::json detail = nlohmann::json::object()) {
  if (c.json) {
    detail["result"] = "success";
    return print_json(detail);
  }
  std::cout << what << "\n";
}

}  // namespace

std::optional<std::string> module_kind(std::uint32_t address) {
  Identity id;
  if (read_identity(address, id) != 0) return std::nullopt;
  return id.text_2;
}

void Context::prepare(std::uint32_t address) const {
  if (timeout_ms != 0) check(set_timeout(address, static_cast<std::uint16_t>(timeout_ms)), "set time-out");
}

void add_device_commands(CLI::App& app, Context& context) {
  const Context& c = context;

  struct Find {
    std::vector<std::string> serials;
    bool brief = false;
    std::uint32_t limit = default_find_limit;
  };
  auto f = std::make_shared<Find>();
  auto* find_app = app.add_subcommand("find", "find modules by broadcast on every local interface (1 s)");
  find_app->add_option("serials", f->serials, "serial numbers to locate (default: list every module)");
  find_app->add_flag("--addresses-only", f->brief, "do not read each module's identity");
  find_app->add_option("--max", f->limit, "list at most this many modules (default 65536; a notice says when the "
                       "list is full)")
      ->check(CLI::Range(1u, 16777216u));
  find_app->callback([&c, f] { find_command(c, f->serials, !f->brief, f->limit); });

  auto where = std::make_shared<std::string>();
  auto* info_app = app.add_subcommand(
      "info",
      "identity and network settings of one module. Fields: maker, type, description, serial_number, "
      "hardware_revision, microcontroller, firmware_version, production_date, calibration_date, firmware_date, "
      "resets (since power-up), port (its DCP port), mac_address, ip_address, netmask, gateway, configured_text and "
      "configured_flag (of the last configure), name, burned_data (the last burned bytes); own_number_8, "
      "own_number_9, own_text_10, own_number_16 and own_text_25 hold values of the module's own. Texts are shown "
      "as sent, control characters and bytes that are not UTF-8 as \\xNN (with --json: U+FFFD)");
  info_app->add_option("address", *where, "the module's IPv4 address")->required();
  info_app->callback([&c, where] { info_command(c, *where); });

  auto* status_app = app.add_subcommand(
      "status",
      "status items of one module, each checked against its limits: name, value, unit, lower and upper limit, "
      "whether it is in range, the module's own number for the item and a description");
  status_app->add_option("address", *where, "the module's IPv4 address")->required();
  status_app->callback([&c, where] { status_command(c, *where); });

  auto* reset_app = app.add_subcommand("reset", "restart one module");
  reset_app->add_option("address", *where, "the module's IPv4 address")->required();
  reset_app->callback([&c, where] {
    const std::uint32_t address = parse_address(*where);
    c.prepare(address);
    check(reset(address), "reset " + *where, address);
    done(c, *where + " restarts");
  });

  struct Configure {
    std::string serial, address, netmask = "255.255.255.0", gateway = "0.0.0.0", text;
    unsigned flag = 0;
  };
  auto k = std::make_shared<Configure>();
  auto* configure_app = app.add_subcommand(
      "configure", "broadcast new network settings to the module with a serial number (no answer is awaited)");
  configure_app->add_option("serial", k->serial, "the module's serial number")->required();
  configure_app->add_option("--address", k->address, "its new address (first address)")->required();
  configure_app->add_option("--netmask", k->netmask, "second address, default 255.255.255.0");
  configure_app->add_option("--gateway", k->gateway, "third address, default 0.0.0.0");
  configure_app->add_option("--text", k->text, "up to 64 bytes of text, e.g. a name");
  configure_app->add_option("--flag", k->flag, "0 or 1")->check(CLI::Range(0, 1));
  configure_app->callback([&c, k] {
    const auto serial = static_cast<std::uint32_t>(parse_unsigned(k->serial, "serial number", 0xFFFFFFFFu));
    if (k->text.size() > 64) throw UsageError("--text holds at most 64 bytes");
    const std::uint32_t first = parse_address(k->address), second = parse_address(k->netmask),
                        third = parse_address(k->gateway);
    check(configure(serial, k->text.data(), static_cast<std::uint32_t>(k->text.size()),
                    static_cast<std::uint8_t>(k->flag), first, second, third),
          "configure");
    done(c, "sent to serial " + k->serial + ": " + k->address + " " + k->netmask + " " + k->gateway,
         {{"serial_number", serial}, {"address", k->address}});
  });

  struct Burn {
    std::string address, data;
    bool text = false;
  };
  auto b = std::make_shared<Burn>();
  auto* burn_app = app.add_subcommand("burn", "hand a module up to 64 bytes of data");
  burn_app->add_option("address", b->address, "the module's IPv4 address")->required();
  burn_app->add_option("data", b->data, "the bytes in hex, e.g. 0a1b2c (or text with --text)")->required();
  burn_app->add_flag("--text", b->text, "take DATA as text, not hex");
  burn_app->callback([&c, b] {
    const std::uint32_t address = parse_address(b->address);
    std::vector<std::uint8_t> bytes(b->data.begin(), b->data.end());
    if (!b->text) {
      if (b->data.size() % 2 != 0) throw UsageError("hex data needs two digits per byte");
      bytes.clear();
      for (std::size_t i = 0; i < b->data.size(); i += 2)
        bytes.push_back(static_cast<std::uint8_t>(parse_unsigned("0x" + b->data.substr(i, 2), "hex byte", 255)));
    }
    if (bytes.size() > 64) throw UsageError("at most 64 bytes can be burned");
    c.prepare(address);
    check(burn(address, bytes.data(), static_cast<std::uint32_t>(bytes.size())), "burn " + b->address, address);
    done(c, std::to_string(bytes.size()) + " bytes burned into " + b->address, {{"bytes", bytes.size()}});
  });

  struct Timeout {
    std::string address;
    std::optional<unsigned> ms;
  };
  auto t = std::make_shared<Timeout>();
  auto* timeout_app = app.add_subcommand(
      "timeout",
      "show the library's reply time-out for a module. The library keeps time-outs in the memory of the "
      "process that calls it, so a value set here is gone when this command ends: give --timeout to each "
      "command instead");
  timeout_app->add_option("address", t->address, "the module's IPv4 address")->required();
  timeout_app->add_option("milliseconds", t->ms, "new time-out, 1 to 65535 ms")->check(CLI::Range(1, 65535));
  timeout_app->callback([&c, t] {
    const std::uint32_t address = parse_address(t->address);
    if (t->ms) check(set_timeout(address, static_cast<std::uint16_t>(*t->ms)), "set time-out");
    std::uint16_t ms = 0;
    check(get_timeout(address, &ms), "read time-out");
    if (c.json) return print_json({{"address", t->address}, {"timeout_ms", ms}});
    std::cout << t->address << ": " << ms << " ms (for this command only; use --timeout MS with other commands)\n";
  });
}

}  // namespace varnode::cli
