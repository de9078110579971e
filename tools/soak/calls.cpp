#include "calls.hpp"

#include <algorithm>
#include <array>
#include <bit>
#include <chrono>
#include <cmath>
#include <cstring>
#include <initializer_list>

#include <varnode/varnode.h>

namespace soak {
namespace {

// The calls below reach twin exports through one pointer type; twins
// document the same codes.
static_assert(VARNODE_RETURNS_KL01_SET_DIRECTION == VARNODE_RETURNS_KL02_SET_DIRECTION &&
              VARNODE_RETURNS_KL01_WRITE == VARNODE_RETURNS_KL02_WRITE &&
              VARNODE_RETURNS_KL01_READ == VARNODE_RETURNS_KL02_READ &&
              VARNODE_RETURNS_KS01_WRITE == VARNODE_RETURNS_KS02_WRITE &&
              VARNODE_RETURNS_RA01_SET_FREQUENCY == VARNODE_RETURNS_RE01_SET_FREQUENCY &&
              VARNODE_RETURNS_RA01_STOP == VARNODE_RETURNS_RE01_STOP &&
              VARNODE_RETURNS_RA01_MEASURE == VARNODE_RETURNS_RE01_MEASURE &&
              VARNODE_RETURNS_HX01_MEASURE == VARNODE_RETURNS_HX02_MEASURE &&
              VARNODE_RETURNS_QU01_ENABLE == VARNODE_RETURNS_QU01_DISABLE &&
              VARNODE_RETURNS_QU01_ENABLE == VARNODE_RETURNS_QU01_CLEAR);

template <class F>
void timed(Outcome& outcome, F call) {
  const auto start = std::chrono::steady_clock::now();
  outcome.code = call();
  outcome.took_ms = std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start).count();
}

Outcome exchange(Slot slot, std::uint16_t documented) {
  Outcome outcome;
  outcome.documented = documented;
  outcome.allowed_ms = module(slot).timeout_ms;
  return outcome;
}

// 1 to `last` distinct channels in random order.
std::vector<std::uint8_t> pick_channels(Random& random, unsigned last) {
  std::vector<std::uint8_t> channels(last);
  for (unsigned c = 0; c < last; ++c) channels[c] = static_cast<std::uint8_t>(c + 1);
  std::shuffle(channels.begin(), channels.end(), random);
  channels.resize(std::uniform_int_distribution<unsigned>(1, last)(random));
  return channels;
}

std::uint32_t address(Slot slot) { return module(slot).address; }
std::uint8_t count_of(const std::vector<std::uint8_t>& v) { return static_cast<std::uint8_t>(v.size()); }
bool same_float(float a, float b) { return std::bit_cast<std::uint32_t>(a) == std::bit_cast<std::uint32_t>(b); }

// Output buffers start filled with this, so that a failed call that wrote
// anything shows.
constexpr std::uint8_t untouched = 0xA5;
template <class T>
bool all_untouched(const T* values, std::size_t n) {
  const auto* bytes = reinterpret_cast<const std::uint8_t*>(values);
  return std::all_of(bytes, bytes + n * sizeof(T), [](std::uint8_t b) { return b == untouched; });
}
template <class T>
void fill_untouched(T* values, std::size_t n) {
  std::memset(static_cast<void*>(values), untouched, n * sizeof(T));
}

std::string text(const char* buffer, std::uint32_t size) { return std::string(buffer, size); }

struct Info {
  std::array<std::string, 11> texts;  // 1, 2, 3, 5, 6, 7, 10, 21, 22, 24, 25
  std::array<std::uint32_t, 12> numbers;  // serial, 8, 9, dates, 14, 15, 16, address, 19, 20
  std::array<std::uint8_t, 6> mac;
  std::uint8_t flag;
  bool operator==(const Info&) const = default;
};

struct InfoCall {
  std::array<std::array<char, 256>, 11> buffers;
  std::array<std::uint32_t, 11> sizes;
  Info info;

  InfoCall() {
    sizes.fill(256);
    fill_untouched(info.numbers.data(), info.numbers.size());
    fill_untouched(info.mac.data(), 6);
    fill_untouched(&info.flag, 1);
  }
  std::uint8_t call(std::uint32_t module_address) {
    auto& b = buffers;
    auto& s = sizes;
    auto& n = info.numbers;
    return get_info(module_address, b[0].data(), &s[0], b[1].data(), &s[1], b[2].data(), &s[2], &n[0], b[3].data(),
                    &s[3], b[4].data(), &s[4], &n[1], &n[2], b[5].data(), &s[5], b[6].data(), &s[6], &n[3], &n[4],
                    &n[5], &n[6], &n[7], &n[8], info.mac.data(), &n[9], &n[10], &n[11], &info.flag, b[7].data(), &s[7],
                    b[8].data(), &s[8], b[9].data(), &s[9], b[10].data(), &s[10]);
  }
  void collect() {
    for (std::size_t i = 0; i < 11; ++i) info.texts[i] = text(buffers[i].data(), sizes[i]);
  }
  bool unwritten() const {
    return std::all_of(sizes.begin(), sizes.end(), [](std::uint32_t s) { return s == 256; }) &&
           all_untouched(info.numbers.data(), info.numbers.size()) && all_untouched(info.mac.data(), 6) &&
           all_untouched(&info.flag, 1);
  }
};

struct Status {
  std::string names, units, descriptions;
  std::vector<std::uint32_t> numbers;  // the four float arrays' bits, item by item
  std::uint32_t size = 0;
  std::uint8_t ok = 0;
  bool operator==(const Status&) const = default;
};

struct StatusCall {
  static constexpr std::uint32_t capacity = 64;
  std::array<char, 4096> names, units, descriptions;
  std::uint32_t names_size = 4096, units_size = 4096, descriptions_size = 4096, size = capacity;
  std::array<std::array<float, capacity>, 4> arrays;
  std::uint8_t ok = untouched;

  StatusCall() {
    for (auto& a : arrays) fill_untouched(a.data(), capacity);
  }
  std::uint8_t call(std::uint32_t module_address) {
    return get_status(module_address, names.data(), &names_size, units.data(), &units_size, descriptions.data(),
                      &descriptions_size, arrays[0].data(), arrays[1].data(), arrays[2].data(), arrays[3].data(),
                      &size, &ok);
  }
  Status collect() const {
    Status s{text(names.data(), names_size), text(units.data(), units_size),
             text(descriptions.data(), descriptions_size), {}, size, ok};
    for (std::uint32_t i = 0; i < std::min(size, capacity); ++i) {
      for (const auto& a : arrays) s.numbers.push_back(std::bit_cast<std::uint32_t>(a[i]));
    }
    return s;
  }
  bool unwritten() const {
    return names_size == 4096 && units_size == 4096 && descriptions_size == 4096 && size == capacity &&
           ok == untouched && std::all_of(arrays.begin(), arrays.end(), [](const auto& a) {
             return all_untouched(a.data(), capacity);
           });
  }
};

// Learned before the soak starts, read-only while it runs.
std::array<Info, slot_count> info_reference;
std::array<Status, slot_count> status_reference;
std::array<float, 8> hx01_reference;
std::array<float, 4> hx02_reference;

// Fills the common checks of a call that writes outputs: a success must
// pass `right`, a failure must have left `unwritten` true.
template <class Right, class Unwritten>
void judge(Outcome& outcome, Right right, Unwritten unwritten) {
  if (outcome.code == VARNODE_SUCCESS) {
    outcome.wrong = right();
  } else if (!unwritten()) {
    outcome.wrong = "a failure wrote outputs";
  }
}

std::string hex(const std::uint8_t* bytes, std::size_t n) {
  std::string out;
  char two[3];
  for (std::size_t i = 0; i < n; ++i) {
    std::snprintf(two, sizeof two, "%02x", bytes[i]);
    out += two;
  }
  return out;
}

// Any module but the one that gets reset, whose identity counts its resets.
Slot steady_slot(Random& random) {
  return static_cast<Slot>(std::uniform_int_distribution<unsigned>(0, reset_target - 1)(random));
}

Slot any_slot(Random& random) { return static_cast<Slot>(std::uniform_int_distribution<unsigned>(0, slot_count - 1)(random)); }

Outcome call_get_info(Random& random) {
  const Slot slot = steady_slot(random);
  Outcome outcome = exchange(slot, VARNODE_RETURNS_GET_INFO);
  InfoCall c;
  timed(outcome, [&] { return c.call(address(slot)); });
  judge(
      outcome,
      [&]() -> std::string {
        c.collect();
        return c.info == info_reference[slot] ? "" : std::string("identity of ") + module(slot).kind + " differs";
      },
      [&] { return c.unwritten(); });
  return outcome;
}

Outcome call_get_status(Random& random) {
  const Slot slot = any_slot(random);
  Outcome outcome = exchange(slot, VARNODE_RETURNS_GET_STATUS);
  StatusCall c;
  timed(outcome, [&] { return c.call(address(slot)); });
  judge(
      outcome,
      [&]() -> std::string {
        return c.collect() == status_reference[slot] ? "" : std::string("status of ") + module(slot).kind + " differs";
      },
      [&] { return c.unwritten(); });
  return outcome;
}

Outcome call_find(Random& random, bool list) {
  Outcome outcome;
  outcome.documented = VARNODE_RETURNS_FIND;
  outcome.allowed_ms = 1000;
  std::array<std::uint32_t, 64> found;
  fill_untouched(found.data(), found.size());
  std::uint32_t size = list ? 64 : 1;
  const Slot slot = any_slot(random);
  const std::uint32_t serial = module(slot).serial;
  timed(outcome, [&] { return find(found.data(), &size, list ? nullptr : &serial, list ? 0 : 1); });
  judge(
      outcome,
      [&]() -> std::string {
        if (!list) return size == 1 && found[0] == address(slot) ? "" : "find gave a wrong address";
        for (std::uint32_t i = 0; i < size; ++i) {
          bool known = false;
          for (unsigned s = 0; s < slot_count; ++s) known = known || found[i] == address(static_cast<Slot>(s));
          if (!known || (i > 0 && found[i] <= found[i - 1])) return "find listed an unknown, repeated or unsorted address";
        }
        return "";
      },
      [&] { return size == (list ? 64u : 1u) && all_untouched(found.data(), found.size()); });
  return outcome;
}

Outcome call_configure(Random& random) {
  const Slot slot = steady_slot(random);
  Outcome outcome;
  outcome.documented = VARNODE_RETURNS_CONFIGURE;
  const Info& info = info_reference[slot];
  timed(outcome, [&] {
    return configure(module(slot).serial, configured_text, sizeof configured_text - 1, 0, address(slot),
                     info.numbers[10], info.numbers[11]);
  });
  return outcome;
}

Outcome call_burn(Random& random) {
  const Slot slot = steady_slot(random);
  Outcome outcome = exchange(slot, VARNODE_RETURNS_BURN);
  timed(outcome, [&] { return burn(address(slot), burned_bytes, sizeof burned_bytes); });
  return outcome;
}

Outcome call_reset(Random&) {
  Outcome outcome = exchange(reset_target, VARNODE_RETURNS_RESET);
  timed(outcome, [&] { return reset(address(reset_target)); });
  return outcome;
}

Outcome call_get_driver(Random&) {
  Outcome outcome;
  outcome.documented = VARNODE_RETURNS_GET_DRIVER;
  char vendor[32], version[32];
  std::uint32_t vendor_size = sizeof vendor, version_size = sizeof version, build = 0;
  timed(outcome, [&] { return get_driver(vendor, &vendor_size, version, &version_size, &build); });
  if (outcome.code == 0 && (text(vendor, vendor_size) != "Tervane" || text(version, version_size) != "2.5.0" ||
                            build != 739110))
    outcome.wrong = "driver identity differs";
  return outcome;
}

Outcome call_get_timeout(Random& random) {
  const Slot slot = any_slot(random);
  Outcome outcome;
  outcome.documented = VARNODE_RETURNS_GET_TIMEOUT;
  std::uint16_t value = 0;
  timed(outcome, [&] { return get_timeout(address(slot), &value); });
  if (outcome.code == 0 && value != module(slot).timeout_ms) outcome.wrong = "a time-out reads back wrong";
  return outcome;
}

Outcome call_set_timeout(Random& random) {
  const Slot slot = any_slot(random);
  Outcome outcome;
  outcome.documented = VARNODE_RETURNS_SET_TIMEOUT;
  timed(outcome, [&] { return set_timeout(address(slot), module(slot).timeout_ms); });
  return outcome;
}

// KL01 and KL02 take the same arguments, so one set of calls serves both.
struct DigitalIO {
  Slot slot;
  decltype(&kl01_set_direction) set_direction;
  decltype(&kl01_write) write;
  decltype(&kl01_read) read;
};

Outcome call_kl_direction(const DigitalIO& io, Random& random) {
  Outcome outcome = exchange(io.slot, VARNODE_RETURNS_KL01_SET_DIRECTION);
  const auto channels = pick_channels(random, VARNODE_KL01_CHANNELS);
  bool flags[8];
  for (std::size_t i = 0; i < channels.size(); ++i) flags[i] = (kl_directions >> (channels[i] - 1) & 1) != 0;
  timed(outcome, [&] { return io.set_direction(address(io.slot), channels.data(), count_of(channels), flags, count_of(channels)); });
  return outcome;
}

Outcome call_kl_write(const DigitalIO& io, Random& random) {
  Outcome outcome = exchange(io.slot, VARNODE_RETURNS_KL01_WRITE);
  // Now and then an input channel too, which the module must refuse.
  auto channels = pick_channels(random, std::bernoulli_distribution(0.2)(random) ? 8 : 4);
  bool values[8];
  bool input = false;
  for (std::size_t i = 0; i < channels.size(); ++i) {
    values[i] = kl_level(channels[i]);
    input = input || (kl_directions >> (channels[i] - 1) & 1) == 0;
  }
  timed(outcome, [&] { return io.write(address(io.slot), channels.data(), count_of(channels), values, count_of(channels)); });
  if (outcome.code == 0 && input) outcome.wrong = "a write to an input channel succeeded";
  return outcome;
}

Outcome call_kl_read(const DigitalIO& io, Random& random) {
  Outcome outcome = exchange(io.slot, VARNODE_RETURNS_KL01_READ);
  const auto channels = pick_channels(random, VARNODE_KL01_CHANNELS);
  bool values[8];
  fill_untouched(values, 8);
  std::uint8_t size = 8;
  timed(outcome, [&] { return io.read(address(io.slot), channels.data(), count_of(channels), values, &size); });
  judge(
      outcome,
      [&]() -> std::string {
        if (size != channels.size()) return "read gave a wrong size";
        for (std::size_t i = 0; i < channels.size(); ++i) {
          std::uint8_t byte;
          std::memcpy(&byte, &values[i], 1);
          if (byte != (kl_level(channels[i]) ? 1 : 0)) return "read gave a wrong level";
        }
        return "";
      },
      [&] { return size == 8 && all_untouched(values, 8); });
  return outcome;
}

Outcome call_ks_write(Slot slot, decltype(&ks01_write) write, Random& random) {
  Outcome outcome = exchange(slot, VARNODE_RETURNS_KS01_WRITE);
  const auto channels = pick_channels(random, VARNODE_KS01_CHANNELS);
  bool values[8];
  for (std::size_t i = 0; i < channels.size(); ++i) values[i] = (ks_outputs >> (channels[i] - 1) & 1) != 0;
  timed(outcome, [&] { return write(address(slot), channels.data(), count_of(channels), values, count_of(channels)); });
  return outcome;
}

Outcome call_ks01_measure(Random& random) {
  Outcome outcome = exchange(ks01, VARNODE_RETURNS_KS01_MEASURE);
  const auto channels = pick_channels(random, VARNODE_KS01_CHANNELS);
  float values[8];
  fill_untouched(values, 8);
  std::uint8_t size = 8;
  timed(outcome, [&] { return ks01_measure(address(ks01), channels.data(), count_of(channels), values, &size); });
  judge(
      outcome,
      [&]() -> std::string {
        if (size != channels.size()) return "measure gave a wrong size";
        for (std::size_t i = 0; i < channels.size(); ++i) {
          if (!same_float(values[i], ks01_reading(channels[i]))) return "measure gave a wrong current";
        }
        return "";
      },
      [&] { return size == 8 && all_untouched(values, 8); });
  return outcome;
}

Outcome call_qu01_switch(decltype(&qu01_enable) operation, Random& random) {
  Outcome outcome = exchange(qu01, VARNODE_RETURNS_QU01_ENABLE);
  const auto channels = pick_channels(random, VARNODE_QU01_CHANNELS);
  timed(outcome, [&] { return operation(address(qu01), channels.data(), count_of(channels)); });
  return outcome;
}

Outcome call_qu01_mode(Random& random) {
  Outcome outcome = exchange(qu01, VARNODE_RETURNS_QU01_SET_MODE);
  const auto channels = pick_channels(random, VARNODE_QU01_CHANNELS);
  std::uint8_t modes[4];
  for (std::size_t i = 0; i < channels.size(); ++i) modes[i] = static_cast<std::uint8_t>((channels[i] - 1) % 4);
  timed(outcome, [&] { return qu01_set_mode(address(qu01), channels.data(), count_of(channels), modes, count_of(channels)); });
  return outcome;
}

Outcome call_qu01_read(Random& random) {
  Outcome outcome = exchange(qu01, VARNODE_RETURNS_QU01_READ);
  const auto channels = pick_channels(random, VARNODE_QU01_CHANNELS);
  std::int64_t values[4], reference;
  fill_untouched(values, 4);
  fill_untouched(&reference, 1);
  std::uint8_t size = 4;
  timed(outcome, [&] { return qu01_read(address(qu01), channels.data(), count_of(channels), values, &size, &reference); });
  judge(
      outcome,
      [&]() -> std::string {
        if (size != channels.size()) return "read gave a wrong size";
        for (std::size_t i = 0; i < channels.size(); ++i) {
          if (values[i] != 0) return "a counter fed no pulses is not 0";
        }
        return "";
      },
      [&] { return size == 4 && all_untouched(values, 4) && all_untouched(&reference, 1); });
  return outcome;
}

struct AnalogInput {
  Slot slot;
  decltype(&ra01_set_frequency) set_frequency;
  decltype(&ra01_stop) stop;
  decltype(&ra01_measure) measure;
};

Outcome call_measure(const AnalogInput& in, Random& random) {
  static constexpr std::uint32_t sample_counts[] = {1, 40, 500, 3000};
  constexpr float frequency = 3000;
  const auto channels = pick_channels(random, VARNODE_RA01_CHANNELS);
  const std::uint32_t samples = sample_counts[std::uniform_int_distribution<std::size_t>(0, 3)(random)];
  Outcome outcome;
  outcome.documented = VARNODE_RETURNS_RA01_MEASURE;
  // Chunks restart the time-out, so the stream's own length comes on top.
  outcome.allowed_ms = module(in.slot).timeout_ms + samples / frequency / stream_speed * 1000 + longest_fault_delay_ms;
  const std::uint32_t total = count_of(channels) * samples;
  std::vector<float> values(total);
  fill_untouched(values.data(), total);
  std::uint32_t size = total;
  timed(outcome, [&] {
    return in.measure(address(in.slot), channels.data(), count_of(channels), samples, frequency, values.data(), &size);
  });
  judge(
      outcome,
      [&]() -> std::string {
        if (size != total) return "measure gave a wrong size";
        // Every sample of a channel is its constant: a hole (zeros) or a
        // chunk placed at the wrong offset breaks that.
        for (std::uint32_t v = 0; v < total; ++v) {
          if (!same_float(values[v], analog_input(in.slot, channels[v % channels.size()])))
            return "sample " + std::to_string(v / channels.size()) + " of channel " +
                   std::to_string(channels[v % channels.size()]) + " is " + std::to_string(values[v]);
        }
        return "";
      },
      [&] { return size == total && all_untouched(values.data(), total); });
  return outcome;
}

Outcome call_we01(Random& random) {
  Outcome outcome = exchange(we01, VARNODE_RETURNS_WE01_CONTROL);
  const auto channels = pick_channels(random, VARNODE_WE01_CHANNELS);
  float values[8];
  for (std::size_t i = 0; i < channels.size(); ++i) values[i] = we01_output(channels[i]);
  timed(outcome, [&] { return we01_control(address(we01), channels.data(), count_of(channels), values, count_of(channels)); });
  return outcome;
}

std::uint8_t set_hx01_sensors(const std::vector<std::uint8_t>& channels) {
  std::uint8_t sensors[8];
  for (std::size_t i = 0; i < channels.size(); ++i) sensors[i] = hx01_channels[channels[i] - 1].code;
  return hx01_set_sensor(address(hx01), channels.data(), count_of(channels), sensors, count_of(channels));
}

std::uint8_t set_hx02_sensors(const std::vector<std::uint8_t>& channels) {
  std::uint8_t sensors[4];
  float ranges[4], currents[4], nominals[4];
  for (std::size_t i = 0; i < channels.size(); ++i) {
    const Resistance& r = hx02_channels[channels[i] - 1];
    sensors[i] = r.code;
    ranges[i] = r.range;
    currents[i] = r.current;
    nominals[i] = r.nominal;
  }
  const std::uint8_t n = count_of(channels);
  return hx02_set_sensor(address(hx02), channels.data(), n, sensors, n, ranges, n, currents, n, nominals, n);
}

template <std::size_t N>
Outcome call_temperature(Slot slot, decltype(&hx01_measure) measure, const std::array<float, N>& reference,
                         Random& random) {
  Outcome outcome = exchange(slot, VARNODE_RETURNS_HX01_MEASURE);
  const auto channels = pick_channels(random, N);
  float values[N];
  fill_untouched(values, N);
  std::uint8_t size = N;
  timed(outcome, [&] { return measure(address(slot), channels.data(), count_of(channels), values, &size); });
  judge(
      outcome,
      [&]() -> std::string {
        if (size != channels.size()) return "measure gave a wrong size";
        for (std::size_t i = 0; i < channels.size(); ++i) {
          if (!same_float(values[i], reference[channels[i] - 1])) return "measure gave a wrong temperature";
        }
        return "";
      },
      [&] { return size == N && all_untouched(values, N); });
  return outcome;
}

std::vector<std::uint8_t> every_channel(unsigned last) {
  std::vector<std::uint8_t> channels;
  for (unsigned c = 1; c <= last; ++c) channels.push_back(static_cast<std::uint8_t>(c));
  return channels;
}

// Repeats a call until it succeeds, through whatever the faults do.
template <class F>
bool until_accepted(F call) {
  for (int attempt = 0; attempt < 200; ++attempt) {
    if (call() == VARNODE_SUCCESS) return true;
  }
  return false;
}

// Repeats a reading until three in a row succeed with the same result.
template <class T, class F>
bool agreed(T& result, F read) {
  int agreeing = 0;
  for (int attempt = 0; attempt < 500 && agreeing < 3; ++attempt) {
    T value{};
    if (!read(value)) {
      agreeing = 0;
      continue;
    }
    agreeing = agreeing > 0 && value == result ? agreeing + 1 : 1;
    result = value;
  }
  return agreeing == 3;
}

}  // namespace

bool prepare_rack(std::string& failure) {
  const auto all8 = every_channel(8), all4 = every_channel(4);
  static_assert(kl_directions == 0x0F, "the KL latch goes to channels 1 to 4, its outputs");
  for (unsigned s = 0; s < slot_count; ++s) {
    if (set_timeout(module(static_cast<Slot>(s)).address, module(static_cast<Slot>(s)).timeout_ms) != 0) {
      failure = "set_timeout refused";
      return false;
    }
  }
  const auto flags_of = [](std::uint8_t bits, const std::vector<std::uint8_t>& channels) {
    std::vector<std::uint8_t> flags;
    for (std::uint8_t c : channels) flags.push_back((bits >> (c - 1)) & 1);
    return flags;
  };
  const auto directions = flags_of(kl_directions, all8), latch = flags_of(kl_latch, all4),
             switched = flags_of(ks_outputs, all8);
  const auto as_bools = [](const std::vector<std::uint8_t>& flags) {
    return reinterpret_cast<const bool*>(flags.data());
  };
  std::uint8_t modes[4] = {0, 1, 2, 3};
  float we[8];
  for (unsigned c = 1; c <= 8; ++c) we[c - 1] = we01_output(c);
  const struct {
    const char* what;
    std::function<std::uint8_t()> call;
  } steps[] = {
      {"kl01 directions", [&] { return kl01_set_direction(address(kl01), all8.data(), 8, as_bools(directions), 8); }},
      {"kl02 directions", [&] { return kl02_set_direction(address(kl02), all8.data(), 8, as_bools(directions), 8); }},
      {"kl01 latch", [&] { return kl01_write(address(kl01), all4.data(), 4, as_bools(latch), 4); }},
      {"kl02 latch", [&] { return kl02_write(address(kl02), all4.data(), 4, as_bools(latch), 4); }},
      {"ks01 outputs", [&] { return ks01_write(address(ks01), all8.data(), 8, as_bools(switched), 8); }},
      {"ks02 outputs", [&] { return ks02_write(address(ks02), all8.data(), 8, as_bools(switched), 8); }},
      {"qu01 modes", [&] { return qu01_set_mode(address(qu01), all4.data(), 4, modes, 4); }},
      {"ra01 frequency", [&] { return ra01_set_frequency(address(ra01), 3000); }},
      {"re01 frequency", [&] { return re01_set_frequency(address(re01), 3000); }},
      {"we01 outputs", [&] { return we01_control(address(we01), all8.data(), 8, we, 8); }},
      {"hx01 sensors", [&] { return set_hx01_sensors(all8); }},
      {"hx02 sensors", [&] { return set_hx02_sensors(all4); }},
      {"hx01 frequency", [&] { return hx01_set_frequency(address(hx01), converter_frequency); }},
      {"hx02 frequency", [&] { return hx02_set_frequency(address(hx02), converter_frequency); }},
  };
  for (const auto& step : steps) {
    if (!until_accepted(step.call)) {
      failure = std::string(step.what) + " never accepted";
      return false;
    }
  }
  for (unsigned s = 0; s < reset_target; ++s) {
    const Slot slot = static_cast<Slot>(s);
    if (!until_accepted([&] { return burn(address(slot), burned_bytes, sizeof burned_bytes); })) {
      failure = std::string("burn on ") + module(slot).kind + " never accepted";
      return false;
    }
    InfoCall c;
    if (!until_accepted([&] { return c.call(address(slot)); })) {
      failure = std::string("no identity from ") + module(slot).kind;
      return false;
    }
    const std::uint32_t netmask = c.info.numbers[10], gateway = c.info.numbers[11];
    if (configure(module(slot).serial, configured_text, sizeof configured_text - 1, 0, address(slot), netmask,
                  gateway) != 0) {
      failure = "configure failed";
      return false;
    }
    // Keeps them for call_configure until the references are learned.
    info_reference[slot].numbers[10] = netmask;
    info_reference[slot].numbers[11] = gateway;
  }
  return true;
}

bool learn_references(std::string& failure) {
  for (unsigned s = 0; s < slot_count; ++s) {
    const Slot slot = static_cast<Slot>(s);
    const RackModule entry = module(slot);
    if (slot != reset_target) {
      const bool got = agreed(info_reference[slot], [&](Info& info) {
        InfoCall c;
        if (c.call(entry.address) != 0) return false;
        c.collect();
        info = c.info;
        // Until the configure broadcast has arrived, the identity is not yet the one to keep.
        return info.texts[1] == entry.kind && info.numbers[0] == entry.serial && info.numbers[9] == entry.address &&
               info.texts[7] == configured_text && info.texts[9] == hex(burned_bytes, sizeof burned_bytes);
      });
      if (!got) {
        failure = std::string("no agreeing identity from ") + entry.kind;
        return false;
      }
    }
    if (!agreed(status_reference[slot], [&](Status& status) {
          StatusCall c;
          if (c.call(entry.address) != 0) return false;
          status = c.collect();
          return status.ok == 1;
        })) {
      failure = std::string("no agreeing status from ") + entry.kind;
      return false;
    }
  }
  const auto learn = [&](auto& reference, decltype(&hx01_measure) measure, Slot slot, auto expected) {
    constexpr std::size_t n = std::tuple_size_v<std::remove_reference_t<decltype(reference)>>;
    const auto channels = every_channel(n);
    return agreed(reference, [&](std::remove_reference_t<decltype(reference)>& values) {
      std::uint8_t size = n;
      if (measure(address(slot), channels.data(), n, values.data(), &size) != 0 || size != n) return false;
      for (std::size_t i = 0; i < n; ++i) {
        if (!(std::fabs(values[i] - expected(i)) < 0.2)) return false;
      }
      return true;
    });
  };
  const auto hx01_expected = [](std::size_t i) {
    const Thermocouple& t = hx01_channels[i];
    return t.code == 1 ? t.celsius : t.celsius + 273.15;
  };
  if (!learn(hx01_reference, hx01_measure, hx01, hx01_expected)) {
    failure = "no agreeing HX01 temperatures near the rack's";
    return false;
  }
  if (!learn(hx02_reference, hx02_measure, hx02, [](std::size_t i) { return hx02_channels[i].celsius + 273.15; })) {
    failure = "no agreeing HX02 temperatures near the rack's";
    return false;
  }
  return true;
}

std::vector<Call> all_calls() {
  static const DigitalIO kl[] = {{kl01, kl01_set_direction, kl01_write, kl01_read},
                                 {kl02, kl02_set_direction, kl02_write, kl02_read}};
  static const AnalogInput in[] = {{ra01, ra01_set_frequency, ra01_stop, ra01_measure},
                                   {re01, re01_set_frequency, re01_stop, re01_measure}};
  std::vector<Call> calls = {
      {"get_driver", "device", 4, call_get_driver},
      {"find (one serial)", "device", 1, [](Random& r) { return call_find(r, false); }},
      {"find (every module)", "device", 1, [](Random& r) { return call_find(r, true); }},
      {"get_info", "device", 10, call_get_info},
      {"get_status", "device", 10, call_get_status},
      {"configure", "device", 2, call_configure},
      {"burn", "device", 6, call_burn},
      {"reset", "device", 6, call_reset},
      {"get_timeout", "device", 4, call_get_timeout},
      {"set_timeout", "device", 4, call_set_timeout},
  };
  for (const DigitalIO& io : kl) {
    const char* family = io.slot == kl01 ? "KL01" : "KL02";
    calls.push_back({"set_direction", family, 6, [&io](Random& r) { return call_kl_direction(io, r); }});
    calls.push_back({"write", family, 8, [&io](Random& r) { return call_kl_write(io, r); }});
    calls.push_back({"read", family, 10, [&io](Random& r) { return call_kl_read(io, r); }});
  }
  calls.push_back({"write", "KS01", 8, [](Random& r) { return call_ks_write(ks01, ks01_write, r); }});
  calls.push_back({"measure", "KS01", 10, call_ks01_measure});
  calls.push_back({"write", "KS02", 8, [](Random& r) { return call_ks_write(ks02, ks02_write, r); }});
  calls.push_back({"enable", "QU01", 4, [](Random& r) { return call_qu01_switch(qu01_enable, r); }});
  calls.push_back({"disable", "QU01", 4, [](Random& r) { return call_qu01_switch(qu01_disable, r); }});
  calls.push_back({"clear", "QU01", 4, [](Random& r) { return call_qu01_switch(qu01_clear, r); }});
  calls.push_back({"set_mode", "QU01", 4, call_qu01_mode});
  calls.push_back({"read", "QU01", 10, call_qu01_read});
  for (const AnalogInput& a : in) {
    const char* family = a.slot == ra01 ? "RA01" : "RE01";
    calls.push_back({"set_frequency", family, 4, [&a](Random&) {
                       Outcome o = exchange(a.slot, VARNODE_RETURNS_RA01_SET_FREQUENCY);
                       timed(o, [&] { return a.set_frequency(address(a.slot), 3000); });
                       return o;
                     }});
    // Rare: a stop ends whatever measurement another thread has running.
    calls.push_back({"stop", family, 1, [&a](Random&) {
                       Outcome o = exchange(a.slot, VARNODE_RETURNS_RA01_STOP);
                       timed(o, [&] { return a.stop(address(a.slot)); });
                       return o;
                     }});
    calls.push_back({"measure", family, 10, [&a](Random& r) { return call_measure(a, r); }});
  }
  calls.push_back({"control", "WE01", 8, call_we01});
  calls.push_back({"set_sensor", "HX01", 4, [](Random& r) {
                     Outcome o = exchange(hx01, VARNODE_RETURNS_HX01_SET_SENSOR);
                     const auto channels = pick_channels(r, VARNODE_HX01_CHANNELS);
                     timed(o, [&] { return set_hx01_sensors(channels); });
                     return o;
                   }});
  calls.push_back({"set_frequency", "HX01", 3, [](Random&) {
                     Outcome o = exchange(hx01, VARNODE_RETURNS_HX01_SET_FREQUENCY);
                     timed(o, [&] { return hx01_set_frequency(address(hx01), converter_frequency); });
                     return o;
                   }});
  calls.push_back({"measure", "HX01", 10,
                   [](Random& r) { return call_temperature(hx01, hx01_measure, hx01_reference, r); }});
  calls.push_back({"set_sensor", "HX02", 4, [](Random& r) {
                     Outcome o = exchange(hx02, VARNODE_RETURNS_HX02_SET_SENSOR);
                     const auto channels = pick_channels(r, VARNODE_HX02_CHANNELS);
                     timed(o, [&] { return set_hx02_sensors(channels); });
                     return o;
                   }});
  calls.push_back({"set_frequency", "HX02", 3, [](Random&) {
                     Outcome o = exchange(hx02, VARNODE_RETURNS_HX02_SET_FREQUENCY);
                     timed(o, [&] { return hx02_set_frequency(address(hx02), converter_frequency); });
                     return o;
                   }});
  calls.push_back({"measure", "HX02", 10,
                   [](Random& r) { return call_temperature(hx02, hx02_measure, hx02_reference, r); }});
  return calls;
}

}  // namespace soak
