#include "module.hpp"

#include <cmath>
#include <cstdio>
#include <limits>
#include <utility>

#include "catalogue.hpp"

namespace varnode::sim {
namespace {

constexpr const char* names[] = {"KL01", "KL02", "KS01", "KS02", "QU01", "RA01", "RE01", "WE01", "HX01", "HX02"};
constexpr std::uint16_t families[] = {0x03, 0x0B, 0x01, 0x0A, 0x07, 0x04, 0x09, 0x08, 0x06, 0x02};
constexpr const char* descriptions[] = {"8-channel digital I/O",     "8-channel digital I/O",
                                        "8-channel digital output",  "8-channel digital output",
                                        "4-channel counter",         "8-channel current input",
                                        "8-channel voltage input",   "8-channel voltage output",
                                        "8-channel thermocouple input", "4-channel RTD/diode/PTC input"};

std::size_t index_of(Kind kind) { return static_cast<std::size_t>(kind); }

void put_text(Bytes& out, std::uint8_t tag, const std::string& text) {
  wire::append_element(out, tag, wire::View(reinterpret_cast<const std::uint8_t*>(text.data()),
                                           std::min<std::size_t>(text.size(), 255)));
}
void put_number(Bytes& out, std::uint8_t tag, std::uint32_t value) {
  Bytes bytes;
  wire::put_u32(bytes, value);
  wire::append_element(out, tag, bytes);
}
void put_float(Bytes& out, std::uint8_t tag, float value) {
  Bytes bytes;
  wire::put_f32(bytes, value);
  wire::append_element(out, tag, bytes);
}
void put_address(Bytes& out, std::uint8_t tag, Address address) {
  wire::append_element(out, tag, address.bytes());
}

std::string hex(const Bytes& bytes) {
  std::string text;
  char two[3];
  for (std::uint8_t b : bytes) {
    std::snprintf(two, sizeof two, "%02x", b);
    text += two;
  }
  return text;
}

bool usable_unicast(Address address) {
  const std::uint32_t a = address.host_value();
  return a != 0 && a != 0xFFFFFFFFu && (a >> 28) != 0xE && (a >> 28) != 0xF;
}

}  // namespace

const char* kind_name(Kind kind) { return names[index_of(kind)]; }

std::uint16_t family_code(Kind kind) { return families[index_of(kind)]; }

std::optional<Kind> kind_from_name(const std::string& name) {
  for (Kind kind : all_kinds) {
    if (name == kind_name(kind)) return kind;
  }
  return std::nullopt;
}

std::uint32_t day_count(int year, unsigned month, unsigned day) {
  // Days from 0000-03-01 by whole eras of 400 years, then shifted to count
  // from 0000-01-01 (year 0 is a leap year: Jan and Feb have 60 days).
  const int y = year - (month <= 2 ? 1 : 0);
  const int era = (y >= 0 ? y : y - 399) / 400;
  const unsigned yoe = static_cast<unsigned>(y - era * 400);
  const unsigned doy = (153 * (month > 2 ? month - 3 : month + 9) + 2) / 5 + day - 1;
  const unsigned doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
  return static_cast<std::uint32_t>(era * 146097 + static_cast<int>(doe) + 60);
}

Module::Module(Common common) : common_(std::move(common)), faults_(common_.faults, common_.seed) {}

Module::Reply Module::set_frequency(const Bytes& payload, std::uint16_t& setting) {
  if (payload.size() != 2) return failure();
  const std::uint16_t hertz = wire::get_u16(payload.data());
  if (!accepted_frequency(hertz)) return failure();
  setting = hertz;
  return acknowledge();
}

bool accepted_frequency(std::uint16_t hertz) { return catalogue::accepted_frequency(hertz); }

std::uint16_t Module::family() const { return family_code(common_.kind); }

void Module::power_on(Time now) {
  powered_ = now;
  restart(now);
}

std::optional<Address> Module::take_moved_address() { return std::exchange(moved_, std::nullopt); }

void Module::receive(const Request& request, Time now, Outbox& outbox) {
  outbox_ = &outbox;
  if (now < silent_until_) return;
  // Broadcasts only find and configure modules.
  if (request.broadcast && request.code != 5 && request.code != 9) return;
  if (request.code == 9) {
    configure(request);
    return;
  }
  plan_ = faults_.plan(request.code);
  const FaultPlan& plan = plan_;
  if (const FaultRule* refuse = plan.find(FaultRule::Kind::refuse)) {
    deliver(plan, request.from, request.transaction_id, refusal_code(refuse->refusal).value_or(2), {}, now);
    return;
  }
  std::optional<Reply> reply = management(request, now);
  if (!reply) reply = command(request, now);
  if (!reply) reply = failure();
  if (reply->code != 0) deliver(plan, request.from, request.transaction_id, reply->code, reply->payload, now);
  if (request.code == 3) {
    ++resets_;
    powered_ = now;
    silent_until_ = now + std::chrono::milliseconds(common_.restart_ms);
    held_.reset();
    restart(now);
  }
}

std::optional<Time> Module::pump(Time now, Outbox& outbox) {
  outbox_ = &outbox;
  if (held_ && now >= held_->until) {
    send(held_->to, std::move(held_->datagram), now);
    held_.reset();
  }
  std::optional<Time> next = stream(now);
  if (held_ && (!next || held_->until < *next)) next = held_->until;
  return next;
}

std::optional<Module::Reply> Module::management(const Request& request, Time now) {
  switch (request.code) {
    case 3:
      return acknowledge();
    case 5:
      return Reply{6, identity()};
    case 7:
      return Reply{8, status(now)};
    case 10:
      if (request.payload.size() > 64) return failure();
      burned_ = request.payload;
      return acknowledge();
    default:
      return std::nullopt;
  }
}

Bytes Module::identity() const {
  const bool legacy = common_.layout == Layout::legacy;
  const std::size_t index = index_of(common_.kind);
  Bytes out;
  put_text(out, 1, "varnode-sim");
  put_text(out, 2, kind_name(common_.kind));
  put_text(out, 3, descriptions[index]);
  put_number(out, 4, common_.serial);
  put_text(out, 5, "C");
  put_text(out, 6, index >= 5 && index != 7 ? "ATmega1284" : "ATmega644");
  put_text(out, 7, "1.8.3");
  put_number(out, 8, 183);
  put_number(out, 9, static_cast<std::uint32_t>(index + 1));
  put_text(out, 10, "simulated");
  put_number(out, 11, day_count(2022, 11, 4));
  put_number(out, 12, day_count(2023, 5, 17));
  put_number(out, 13, day_count(2023, 2, 20));
  put_number(out, 14, resets_);
  put_number(out, 15, wire::port);
  if (!legacy) put_number(out, 16, 1400);
  const std::uint32_t s = common_.serial;
  const std::uint8_t mac[6] = {0x02, 0x56, static_cast<std::uint8_t>(s >> 24), static_cast<std::uint8_t>(s >> 16),
                               static_cast<std::uint8_t>(s >> 8), static_cast<std::uint8_t>(s)};
  wire::append_element(out, legacy ? 16 : 17, mac);
  put_address(out, legacy ? 17 : 18, common_.address);
  put_address(out, legacy ? 18 : 19, common_.netmask);
  put_address(out, legacy ? 19 : 20, common_.gateway);
  put_text(out, legacy ? 20 : 21, configured_name_);
  // The legacy numbering is recognised by its highest tag, 21, so this
  // element is always present there.
  put_text(out, legacy ? 21 : 22, common_.name);
  if (!legacy) {
    wire::append_element(out, 23, Bytes{dhcp_});
    put_text(out, 24, hex(burned_));
    put_text(out, 25, "simulated module");
  }
  return out;
}

void Module::add_status(std::vector<StatusItem>& items, Time now) const {
  constexpr float none = std::numeric_limits<float>::quiet_NaN();
  items.push_back({"supply", "V", "supply voltage", 24, 18, 30, 24.1f});
  items.push_back({"temperature", "°C", "board temperature", 0, -20, 70, 34.5f});
  items.push_back({"uptime", "s", "time since power-on or reset", 0, none, none, static_cast<float>(seconds(now))});
  items.push_back({"resets", "", "resets since the simulator started", 0, none, none, static_cast<float>(resets_)});
}

Bytes Module::status(Time now) const {
  std::vector<StatusItem> items;
  add_status(items, now);
  for (const StatusItem& extra : common_.status) {
    bool replaced = false;
    for (StatusItem& item : items) {
      if (item.name == extra.name) {
        item = extra;
        replaced = true;
      }
    }
    if (!replaced) items.push_back(extra);
  }
  Bytes out;
  for (const StatusItem& item : items) {
    put_text(out, 1, item.name);
    put_text(out, 2, item.unit);
    put_text(out, 3, item.description);
    put_float(out, 4, item.number_4);
    put_float(out, 5, item.lower);
    put_float(out, 6, item.upper);
    put_float(out, 7, item.value);
  }
  return out;
}

std::optional<std::uint16_t> Module::refusal_code(Refusal) const { return std::nullopt; }

void Module::configure(const Request& request) {
  if (request.payload.size() < 4 || wire::get_u32(request.payload.data()) != common_.serial) return;
  wire::View rest = wire::View(request.payload).subspan(4);
  std::optional<Address> first;
  try {
    while (!rest.empty()) {
      const wire::Element element = wire::take_element(rest);
      const bool four = element.value.size() == 4;
      const auto address = [&] {
        return Address(std::array<std::uint8_t, 4>{element.value[0], element.value[1], element.value[2],
                                                       element.value[3]});
      };
      switch (element.tag) {
        case 1:
          if (element.value.size() == 1) dhcp_ = element.value[0];
          break;
        case 2:
          if (four) first = address();
          break;
        case 3:
          if (four) common_.netmask = address();
          break;
        case 4:
          if (four) common_.gateway = address();
          break;
        case 5:
          configured_name_.assign(element.value.begin(), element.value.end());
          break;
        default:
          break;
      }
    }
  } catch (const wire::Malformed&) {
    return;  // a garbled configuration is ignored, as far as it got
  }
  if (first && usable_unicast(*first) && !(*first == common_.address)) {
    moved_ = *first;
    common_.address = *first;
  }
}

void Module::set_address(Address address) { common_.address = address; }

void Module::deliver(const FaultPlan& plan, Endpoint to, std::uint32_t id, std::uint16_t code, const Bytes& payload,
                     Time at) {
  using K = FaultRule::Kind;
  const auto hit = [&](K kind) {
    const FaultRule* rule = plan.find(kind);
    return rule != nullptr && faults_.hits(*rule) ? rule : nullptr;
  };
  if (hit(K::drop)) return;
  if (const FaultRule* delay = hit(K::delay)) at += std::chrono::milliseconds(delay->delay_ms);
  const FaultRule* wrong = hit(K::wrong_id);
  std::uint16_t sent_code = code;
  Bytes sent = payload;
  faults_.malform(plan, sent_code, sent);
  Bytes datagram = wire::encode(sent_code, wrong ? id - 1 : id, sent);
  const bool twice = hit(K::duplicate) != nullptr;
  if (const FaultRule* reorder = hit(K::reorder); reorder && !held_) {
    held_ = Held{to, std::move(datagram), at + std::chrono::milliseconds(reorder->delay_ms)};
    return;
  }
  send(to, datagram, at);
  if (twice) send(to, datagram, at);
  // The copy with its last byte changed comes second: a receiver that took
  // the right bytes must still see that the repeat disagrees (a changed copy
  // first would be undetectable on a stream's last chunk, which ends it).
  if (hit(K::altered_duplicate) && !sent.empty()) {
    Bytes altered = sent;
    altered.back() ^= 0x5A;
    send(to, wire::encode(sent_code, wrong ? id - 1 : id, altered), at);
  }
  if (wrong && wrong->then_correct) send(to, wire::encode(code, id, payload), at);
  if (held_) {
    send(held_->to, std::move(held_->datagram), at);
    held_.reset();
  }
}

void Module::send(Endpoint to, Bytes datagram, Time at) { outbox_->send(common_.address, to, std::move(datagram), at); }

}  // namespace varnode::sim
