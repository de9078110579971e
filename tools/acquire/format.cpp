// The log format's three encodings, as text the caller writes.
#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <initializer_list>
#include <set>
#include <utility>

#include "acquire.hpp"
#include "catalogue.hpp"

namespace varnode::acquire {
namespace {

// The log format's own words for the result codes, one per code of the
// catalogue: one token each, so that readers may split on spaces and commas.
constexpr const char* words[] = {"ok",       "error",   "failed",  "parameter", "network",
                                 "not_found", "timeout", "aborted", "reserved",  "configuration"};
static_assert(std::size(words) == std::size(catalogue::results), "a word for every result code");

void append_number(std::string& out, double v) {
  char text[40];
  std::snprintf(text, sizeof text, "%.9g", v);
  out += text;
}

void append_fixed6(std::string& out, double v) {
  char text[40];
  std::snprintf(text, sizeof text, "%.6f", v);
  out += text;
}

void append_json_string(std::string& out, std::string_view text) {
  out += '"';
  for (const char c : text) {
    const auto u = static_cast<unsigned char>(c);
    if (c == '"' || c == '\\') {
      out += '\\';
      out += c;
    } else if (c == '\n') {
      out += "\\n";
    } else if (c == '\t') {
      out += "\\t";
    } else if (u < 0x20 || u == 0x7f) {
      char escape[8];
      std::snprintf(escape, sizeof escape, "\\u%04x", u);
      out += escape;
    } else {
      out += c;
    }
  }
  out += '"';
}

// A header or event pair: the value bare, or as a JSON string when it would
// not survive bare (space, quote, '=', control characters).
void append_pair(std::string& out, std::string_view key, std::string_view value) {
  out += key;
  out += '=';
  const bool quoted = std::any_of(value.begin(), value.end(), [](char c) {
    const auto u = static_cast<unsigned char>(c);
    return c == ' ' || c == '"' || c == '=' || u < 0x20 || u == 0x7f;
  });
  if (quoted)
    append_json_string(out, value);
  else
    out += value;
}

// "# what: key=value key=value\n", a header line of pairs.
void append_line(std::string& out, std::string_view what,
                 std::initializer_list<std::pair<std::string_view, std::string_view>> pairs) {
  out += "# ";
  out += what;
  out += ':';
  for (const auto& [key, value] : pairs) {
    out += ' ';
    append_pair(out, key, value);
  }
  out += '\n';
}

void append_json_value(std::string& out, const Value& value) {
  if (const auto* i = std::get_if<std::int64_t>(&value)) {
    out += std::to_string(*i);
  } else if (const auto* d = std::get_if<double>(&value); d != nullptr && !std::isnan(*d)) {
    if (std::isinf(*d))
      out += *d > 0 ? "\"inf\"" : "\"-inf\"";
    else
      append_number(out, *d);
  } else {
    out += "null";
  }
}

// Influx: commas, '=' and spaces in tag values and field keys; quotes and
// backslashes in string fields.
void append_influx_escaped(std::string& out, std::string_view text, std::string_view special) {
  for (const char c : text) {
    if (c == '\\' || special.find(c) != std::string_view::npos) out += '\\';
    if (c == '\n')
      out += "\\n";
    else
      out += c;
  }
}

std::string influx_field(const std::string& channel) {
  if (!channel.empty() && std::all_of(channel.begin(), channel.end(), [](char c) { return c >= '0' && c <= '9'; }))
    return "ch" + channel;
  if (channel.starts_with("status.")) return "status_" + channel.substr(7);
  return channel;
}

bool valid_id(const std::string& id) {
  return !id.empty() && std::all_of(id.begin(), id.end(), [](char c) {
    return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '_' || c == '-';
  });
}

// RFC 4180 quoting, for a column name that holds a comma or a quote.
void append_csv_field(std::string& out, std::string_view text) {
  if (text.find_first_of(",\"\r\n") == std::string_view::npos) {
    out += text;
    return;
  }
  out += '"';
  for (const char c : text) {
    if (c == '"') out += '"';
    out += c;
  }
  out += '"';
}

}  // namespace

const char* status_word(std::uint8_t code) {
  static thread_local char other[16];
  if (code < std::size(words)) return words[code];
  if (code == missed) return "missed";
  std::snprintf(other, sizeof other, "code_%u", code);
  return other;
}

std::optional<Encoding> encoding_named(std::string_view name) {
  if (name == "csv") return Encoding::csv;
  if (name == "jsonl") return Encoding::jsonl;
  if (name == "influx") return Encoding::influx;
  return std::nullopt;
}

std::int64_t utc_now_us() {
  return std::chrono::duration_cast<std::chrono::microseconds>(std::chrono::system_clock::now().time_since_epoch())
      .count();
}

double monotonic_seconds() {
  return std::chrono::duration<double>(std::chrono::steady_clock::now().time_since_epoch()).count();
}

std::string iso_utc(std::int64_t utc_us) {
  using namespace std::chrono;
  const sys_time<microseconds> moment{microseconds{utc_us}};
  const sys_days day = floor<days>(moment);
  const year_month_day date{day};
  const auto in_day = duration_cast<microseconds>(moment - day).count();
  char text[48];
  std::snprintf(text, sizeof text, "%04d-%02u-%02uT%02lld:%02lld:%02lld.%06lldZ", static_cast<int>(date.year()),
                static_cast<unsigned>(date.month()), static_cast<unsigned>(date.day()),
                static_cast<long long>(in_day / 3'600'000'000), static_cast<long long>(in_day / 60'000'000 % 60),
                static_cast<long long>(in_day / 1'000'000 % 60), static_cast<long long>(in_day % 1'000'000));
  return text;
}

std::string value_text(const Value& value) {
  std::string out;
  if (const auto* i = std::get_if<std::int64_t>(&value)) {
    out = std::to_string(*i);
  } else if (const auto* d = std::get_if<double>(&value); d != nullptr && !std::isnan(*d)) {
    if (std::isinf(*d))
      out = *d > 0 ? "inf" : "-inf";
    else
      append_number(out, *d);
  }
  return out;
}

std::string check_header(const Header& header) {
  std::set<std::string> ids, columns;
  for (const ModuleHeader& m : header.modules) {
    if (!valid_id(m.id)) return "module id '" + m.id + "': ids are made of A-Z, a-z, 0-9, _ and -";
    if (!ids.insert(m.id).second) return "module id '" + m.id + "' is given twice";
  }
  for (const ChannelHeader& c : header.channels) {
    if (!ids.contains(c.module)) return "channel " + c.column + " names module '" + c.module + "', not in the header";
    if (!columns.insert(c.column).second) return "column " + c.column + " is given twice";
  }
  if (header.streamed && header.modules.size() != 1) return "a streamed log holds one module";
  if (header.streamed && !(header.frequency > 0)) return "a streamed log needs its frequency";
  return {};
}

Encoder::Encoder(Encoding encoding, Header header) : encoding_(encoding), header_(std::move(header)) {
  for (const ChannelHeader& c : header_.channels) {
    const auto at = std::find_if(header_.modules.begin(), header_.modules.end(),
                                 [&](const ModuleHeader& m) { return m.id == c.module; });
    channel_module_.push_back(static_cast<std::size_t>(at - header_.modules.begin()));
  }
}

std::string Encoder::header_text() const {
  const Header& h = header_;
  std::string out;
  if (encoding_ == Encoding::influx) return out;
  if (encoding_ == Encoding::jsonl) {
    out += "{\"varnode_log\":1,\"start\":\"" + iso_utc(h.start_us) + "\",\"tool\":";
    append_json_string(out, h.tool);
    out += ",\"library\":";
    append_json_string(out, h.library);
    if (h.streamed) {
      out += ",\"mode\":\"streamed\",\"frequency\":";
      append_number(out, h.frequency);
      out += ",\"samples\":" + std::to_string(h.samples);
    } else {
      out += ",\"mode\":\"polled\",\"interval\":";
      append_number(out, h.interval);
    }
    out += ",\"modules\":[";
    for (std::size_t i = 0; i < h.modules.size(); ++i) {
      const ModuleHeader& m = h.modules[i];
      out += i == 0 ? "{" : ",{";
      for (const auto& [key, value] : {std::pair<const char*, const std::string*>{"id", &m.id},
                                       {"kind", &m.kind}, {"address", &m.address}}) {
        out += std::string(key == std::string("id") ? "" : ",") + "\"" + key + "\":";
        append_json_string(out, *value);
      }
      out += ",\"serial\":" + std::to_string(m.serial) + ",\"name\":";
      append_json_string(out, m.name);
      out += ",\"firmware\":";
      append_json_string(out, m.firmware);
      out += "}";
    }
    out += "],\"channels\":[";
    for (std::size_t i = 0; i < h.channels.size(); ++i) {
      const ChannelHeader& c = h.channels[i];
      out += i == 0 ? "{" : ",{";
      bool first = true;
      for (const auto& [key, value] : {std::pair<const char*, const std::string*>{"column", &c.column},
                                       {"module", &c.module}, {"channel", &c.channel}, {"quantity", &c.quantity},
                                       {"sensor", &c.sensor}, {"unit", &c.unit}}) {
        out += std::string(first ? "" : ",") + "\"" + key + "\":";
        append_json_string(out, *value);
        first = false;
      }
      out += "}";
    }
    out += "]}\n";
    return out;
  }
  out += "# varnode-log 1\n# start: " + iso_utc(h.start_us) + "\n# tool: " + h.tool + "\n# library: " + h.library +
         "\n";
  if (h.streamed) {
    out += "# mode: streamed\n# frequency: ";
    append_number(out, h.frequency);
    out += "\n# samples: " + std::to_string(h.samples) + "\n";
  } else {
    out += "# mode: polled\n# interval: ";
    append_number(out, h.interval);
    out += "\n";
  }
  for (const ModuleHeader& m : h.modules) {
    const std::string serial = std::to_string(m.serial);
    append_line(out, "module", {{"id", m.id}, {"kind", m.kind}, {"address", m.address}, {"serial", serial},
                                {"name", m.name}, {"firmware", m.firmware}});
  }
  for (const ChannelHeader& c : h.channels) {
    if (c.sensor.empty())
      append_line(out, "channel", {{"column", c.column}, {"module", c.module}, {"channel", c.channel},
                                   {"quantity", c.quantity}, {"unit", c.unit}});
    else
      append_line(out, "channel", {{"column", c.column}, {"module", c.module}, {"channel", c.channel},
                                   {"quantity", c.quantity}, {"sensor", c.sensor}, {"unit", c.unit}});
  }
  out += "utc,seconds,index";
  for (const ChannelHeader& c : h.channels) {
    out += ',';
    append_csv_field(out, c.column);
  }
  for (const ModuleHeader& m : h.modules) out += ",status." + m.id;
  out += '\n';
  return out;
}

std::string Encoder::cells(const Stamp& at, std::int64_t index, std::span<const Value> values,
                           std::span<const std::uint8_t> codes) const {
  const auto failed = [&](std::size_t channel) {
    const std::size_t m = channel_module_[channel];
    return m < codes.size() && codes[m] != 0;
  };
  const auto value = [&](std::size_t channel) -> const Value& {
    static const Value none;
    return channel < values.size() && !failed(channel) ? values[channel] : none;
  };
  const auto code = [&](std::size_t m) -> std::uint8_t { return m < codes.size() ? codes[m] : 0; };
  std::string out;
  if (encoding_ == Encoding::csv) {
    out += iso_utc(at.utc_us);
    out += ',';
    append_fixed6(out, at.seconds);
    out += ',' + std::to_string(index);
    for (std::size_t c = 0; c < header_.channels.size(); ++c) {
      out += ',';
      out += value_text(value(c));
    }
    for (std::size_t m = 0; m < header_.modules.size(); ++m) {
      out += ',';
      out += status_word(code(m));
    }
    out += '\n';
  } else if (encoding_ == Encoding::jsonl) {
    out += "{\"utc\":\"" + iso_utc(at.utc_us) + "\",\"seconds\":";
    append_fixed6(out, at.seconds);
    out += ",\"index\":" + std::to_string(index) + ",\"values\":{";
    for (std::size_t c = 0; c < header_.channels.size(); ++c) {
      if (c > 0) out += ',';
      append_json_string(out, header_.channels[c].column);
      out += ':';
      append_json_value(out, value(c));
    }
    out += "},\"status\":{";
    for (std::size_t m = 0; m < header_.modules.size(); ++m) {
      if (m > 0) out += ',';
      append_json_string(out, header_.modules[m].id);
      out += ":\"";
      out += status_word(code(m));
      out += '"';
    }
    out += "}}\n";
  } else {
    const std::string stamp = std::to_string(at.utc_us) + "000\n";
    for (std::size_t m = 0; m < header_.modules.size(); ++m) {
      const ModuleHeader& module = header_.modules[m];
      out += "varnode,module=";
      append_influx_escaped(out, module.id, ", =");
      if (!module.kind.empty()) {
        out += ",kind=";
        append_influx_escaped(out, module.kind, ", =");
      }
      out += ",serial=" + std::to_string(module.serial) + " ";
      for (std::size_t c = 0; c < header_.channels.size(); ++c) {
        if (channel_module_[c] != m) continue;
        // InfluxDB stores no NaN or infinity: such a value leaves its field out.
        // A bare integer is a float field to InfluxDB, parsed from all its digits.
        const Value& v = value(c);
        const auto* d = std::get_if<double>(&v);
        if (std::holds_alternative<std::monostate>(v) || (d != nullptr && !std::isfinite(*d))) continue;
        append_influx_escaped(out, influx_field(header_.channels[c].channel), ", =");
        out += '=';
        out += value_text(v);
        out += ',';
      }
      out += "status=\"";
      out += status_word(code(m));
      out += "\",index=" + std::to_string(index) + "i " + stamp;
    }
  }
  return out;
}

std::string Encoder::row(const Stamp& at, std::int64_t index, std::span<const Value> values,
                         std::span<const std::uint8_t> codes) const {
  return cells(at, index, values, codes);
}

std::string Encoder::block(const Stamp& first, std::int64_t index, std::optional<double> gap,
                           std::span<const float> values, std::uint8_t code) const {
  const std::size_t channels = header_.channels.size();
  const std::size_t samples = code != 0 || channels == 0 ? 0 : values.size() / channels;
  const double frequency = header_.frequency;
  const std::string module = header_.modules.empty() ? std::string() : header_.modules.front().id;
  std::string out;
  if (encoding_ == Encoding::jsonl) {
    out += "{\"utc\":\"" + iso_utc(first.utc_us) + "\",\"seconds\":";
    append_fixed6(out, first.seconds);
    out += ",\"index\":" + std::to_string(index) + ",\"frequency\":";
    append_number(out, frequency);
    out += ",\"gap\":";
    if (gap)
      append_fixed6(out, *gap);
    else
      out += "null";
    out += ",\"values\":{";
    for (std::size_t c = 0; c < channels; ++c) {
      if (c > 0) out += ',';
      append_json_string(out, header_.channels[c].column);
      out += ":[";
      for (std::size_t s = 0; s < samples; ++s) {
        if (s > 0) out += ',';
        append_json_value(out, double{values[s * channels + c]});
      }
      out += ']';
    }
    out += "},\"status\":{";
    append_json_string(out, module);
    out += ":\"";
    out += status_word(code);
    out += "\"}}\n";
    return out;
  }
  if (encoding_ == Encoding::csv) {
    std::string gap_text;
    if (gap) append_fixed6(gap_text, *gap);
    const std::pair<std::string, std::string> pairs[] = {
        {"index", std::to_string(index)}, {"samples", std::to_string(samples)}, {"gap", gap_text}};
    out += event(first, "block", module, pairs);
  }
  const std::uint8_t codes[] = {code};
  if (samples == 0) return out + cells(first, index, {}, codes);
  std::vector<Value> row(channels);
  for (std::size_t s = 0; s < samples; ++s) {
    for (std::size_t c = 0; c < channels; ++c) row[c] = double{values[s * channels + c]};
    const double offset = static_cast<double>(s) / frequency;
    const Stamp at{first.utc_us + std::llround(offset * 1e6), first.seconds + offset};
    out += cells(at, index + static_cast<std::int64_t>(s), row, codes);
  }
  return out;
}

std::string Encoder::event(const Stamp& at, std::string_view what, std::string_view module,
                           std::span<const std::pair<std::string, std::string>> pairs) const {
  std::string out;
  if (encoding_ == Encoding::influx) return out;
  if (encoding_ == Encoding::jsonl) {
    out += "{\"event\":";
    append_json_string(out, what);
    out += ",\"utc\":\"" + iso_utc(at.utc_us) + "\",\"seconds\":";
    append_fixed6(out, at.seconds);
    if (!module.empty()) {
      out += ",\"module\":";
      append_json_string(out, module);
    }
    for (const auto& [key, value] : pairs) {
      out += ',';
      append_json_string(out, key);
      out += ':';
      append_json_string(out, value);
    }
    out += "}\n";
    return out;
  }
  out += "# event: utc=" + iso_utc(at.utc_us) + " seconds=";
  append_fixed6(out, at.seconds);
  if (!module.empty()) {
    out += ' ';
    append_pair(out, "module", module);
  }
  out += ' ';
  append_pair(out, "what", what);
  for (const auto& [key, value] : pairs) {
    out += ' ';
    append_pair(out, key, value);
  }
  out += '\n';
  return out;
}

}  // namespace varnode::acquire
