// The exports themselves, with fuzzed arguments and the rest of the input as
// the module's replies (fake_net.cpp). Beyond crashes it checks the header's
// promises: only the codes documented for the call, 3 only with nothing
// sent, a failed call writes none of its outputs, and no call writes outside
// its outputs (guard elements on either side of each).
#include <cstring>
#include <algorithm>
#include <initializer_list>
#include <limits>
#include <vector>

#include "fake_net.hpp"
#include "input.hpp"
#include "varnode/varnode.h"

using namespace varnode;

namespace {

constexpr std::size_t guard = 4;

// An output of `capacity` elements between guards, filled with a pattern so
// that any write shows.
template <class T>
class Output {
 public:
  explicit Output(std::size_t capacity, bool null_when_empty = false)
      : capacity_(capacity), null_(null_when_empty && capacity == 0), storage_(capacity + 2 * guard) {
    std::memset(storage_.data(), 0xA5, storage_.size() * sizeof(T));
    before_ = storage_;
  }
  T* get() { return null_ ? nullptr : storage_.data() + guard; }
  T& operator*() { return storage_[guard]; }
  T& at(std::size_t i) { return storage_[guard + i]; }
  std::size_t capacity() const { return capacity_; }
  // Resets the pattern after the caller set an input value.
  void settle() { before_ = storage_; }

  bool unchanged() const { return same(0, storage_.size()); }
  // The guards, and every element from `first` on, as they were.
  bool unchanged_from(std::size_t first) const {
    return same(0, guard) && same(guard + first, storage_.size() - guard - first);
  }

 private:
  bool same(std::size_t from, std::size_t count) const {
    return count == 0 || std::memcmp(storage_.data() + from, before_.data() + from, count * sizeof(T)) == 0;
  }

  std::size_t capacity_;
  bool null_;
  std::vector<T> storage_;
  std::vector<T> before_;
};

// A size or other single in/out value, set before the call.
template <class T>
Output<T> value(T v) {
  Output<T> out(1);
  *out = v;
  out.settle();
  return out;
}

void check_code(std::uint8_t code, std::initializer_list<std::uint8_t> documented) {
  bool found = false;
  for (const std::uint8_t d : documented) found = found || d == code;
  if (!found) std::fprintf(stderr, "undocumented result %u\n", code);
  FUZZ_CHECK(found);
  // Argument checks send nothing.
  if (code == VARNODE_PARAMETER) FUZZ_CHECK(fuzz::sent().empty());
}

constexpr std::initializer_list<std::uint8_t> plain = {0, 2, 3, 4, 6};
constexpr std::initializer_list<std::uint8_t> refusable = {0, 2, 3, 4, 6, 9};

class Call {
 public:
  explicit Call(fuzz::Input& input) : in_(input) {}

  std::uint32_t address() {
    static const std::uint32_t choices[] = {fuzz::module_address.host_value(), 0, 0xFFFFFFFFu, 0x7F000001u,
                                            0xC61200FFu, 0xC6120107u};
    const std::uint8_t pick = in_.u8();
    return pick < 192 ? choices[0] : choices[pick % 6];
  }
  // Mostly plausible channel lists, with 0, 9 and duplicates now and then.
  std::vector<std::uint8_t> channels(std::size_t most) {
    std::vector<std::uint8_t> list(in_.u8() % (most + 2));
    for (auto& c : list) c = static_cast<std::uint8_t>(in_.u8() % 10);
    return list;
  }
  std::uint8_t count_near(std::size_t count) {
    const std::uint8_t pick = in_.u8();
    return static_cast<std::uint8_t>(pick < 224 ? count : count + (pick % 3) - 1);
  }
  std::vector<std::uint8_t> bytes(std::size_t count) { return in_.bytes(count); }
  std::vector<bool> flags(std::size_t count) {
    std::vector<bool> out;
    for (std::size_t i = 0; i < count; ++i) out.push_back(in_.u8() & 1);
    return out;
  }
  std::uint8_t u8() { return in_.u8(); }
  std::uint16_t u16() { return in_.u16(); }
  std::uint32_t u32() { return in_.u32(); }
  float f32() { return in_.f32(); }
  void replies() { fuzz::queue_replies(in_); }

 private:
  fuzz::Input& in_;
};

// Caller bool arrays are read as bytes: give them bytes other than 0 and 1.
std::vector<std::uint8_t> bool_bytes(Call& call, std::size_t count) {
  std::vector<std::uint8_t> out(count + 1);
  for (std::size_t i = 0; i < count; ++i) out[i] = call.u8();
  return out;
}
const bool* as_bools(const std::vector<std::uint8_t>& bytes) { return reinterpret_cast<const bool*>(bytes.data()); }

using Flags = std::uint8_t (*)(uint32_t, const uint8_t*, uint8_t, const bool*, uint8_t);
using FloatRead = std::uint8_t (*)(uint32_t, const uint8_t*, uint8_t, float*, uint8_t*);

void flags_call(Call& call, Flags f, std::initializer_list<std::uint8_t> codes) {
  const std::uint32_t address = call.address();
  auto channels = call.channels(8);
  channels.push_back(0);
  const auto values = bool_bytes(call, channels.size());
  const std::uint8_t count = static_cast<std::uint8_t>(channels.size() - 1);
  const std::uint8_t value_count = call.count_near(count);
  call.replies();
  check_code(f(address, channels.data(), count, as_bools(values), value_count), codes);
}

template <class T>
std::vector<T> values_of(Call& call, std::size_t count, T (*pick)(Call&)) {
  std::vector<T> out(count + 1);
  for (std::size_t i = 0; i < count; ++i) out[i] = pick(call);
  return out;
}

// A value per channel: the channels, then their values, then a value count
// near theirs.
template <class T>
void values_call(Call& call, std::uint8_t (*f)(uint32_t, const uint8_t*, uint8_t, const T*, uint8_t),
                 std::size_t most, T (*pick)(Call&)) {
  const std::uint32_t address = call.address();
  auto channels = call.channels(most);
  const auto count = static_cast<std::uint8_t>(channels.size());
  channels.push_back(0);
  const auto values = values_of<T>(call, count, pick);
  const std::uint8_t value_count = call.count_near(count);
  call.replies();
  check_code(f(address, channels.data(), count, values.data(), value_count), plain);
}

template <class T, class Read>
void read_call(Call& call, Read f, std::size_t most, std::initializer_list<std::uint8_t> codes) {
  const std::uint32_t address = call.address();
  auto channels = call.channels(most);
  const std::uint8_t count = static_cast<std::uint8_t>(channels.size());
  channels.push_back(0);
  Output<T> values(call.count_near(count));
  Output<std::uint8_t> size = value(static_cast<std::uint8_t>(values.capacity()));
  call.replies();
  const std::uint8_t code = f(address, channels.data(), count, values.get(), size.get());
  check_code(code, codes);
  if (code != 0) {
    FUZZ_CHECK(values.unchanged() && size.unchanged());
    return;
  }
  FUZZ_CHECK(*size == count && count <= values.capacity() && values.unchanged_from(count) &&
             size.unchanged_from(1));
  if constexpr (sizeof(T) == 1)
    for (std::size_t i = 0; i < count; ++i) FUZZ_CHECK(values.at(i) == 0 || values.at(i) == 1);
}

std::uint8_t kl01_read_bytes(uint32_t a, const uint8_t* c, uint8_t n, std::uint8_t* v, uint8_t* s) {
  return kl01_read(a, c, n, reinterpret_cast<bool*>(v), s);
}
std::uint8_t kl02_read_bytes(uint32_t a, const uint8_t* c, uint8_t n, std::uint8_t* v, uint8_t* s) {
  return kl02_read(a, c, n, reinterpret_cast<bool*>(v), s);
}

void mask_call(Call& call, std::uint8_t (*f)(uint32_t, const uint8_t*, uint8_t)) {
  const std::uint32_t address = call.address();
  auto channels = call.channels(4);
  const std::uint8_t count = static_cast<std::uint8_t>(channels.size());
  channels.push_back(0);
  call.replies();
  check_code(f(address, channels.data(), count), plain);
}

float any_float(Call& call) { return call.f32(); }
template <unsigned N>
std::uint8_t below(Call& call) {
  return static_cast<std::uint8_t>(call.u8() % N);
}
float range_choice(Call& call) {
  static const float choices[] = {0.5f, 1.0f, 2.5f, 5.0f, std::numeric_limits<float>::quiet_NaN(), 3.0f};
  const std::uint8_t pick = call.u8();
  return pick < 240 ? choices[pick % 6] : call.f32();
}
float current_choice(Call& call) {
  static const float choices[] = {0.0f, 0.00001f, 0.001f, std::numeric_limits<float>::quiet_NaN(), 0.01f};
  const std::uint8_t pick = call.u8();
  return pick < 240 ? choices[pick % 5] : call.f32();
}
float nominal_choice(Call& call) {
  static const float choices[] = {100.0f, 1000.0f, 1.0f, 0.5f, 1000.5f};
  const std::uint8_t pick = call.u8();
  return pick < 240 ? choices[pick % 5] : call.f32();
}

std::uint16_t frequency_choice(Call& call) {
  static const std::uint16_t choices[] = {VARNODE_FREQUENCIES, 0, 7};
  const std::uint8_t pick = call.u8();
  return pick < 240 ? choices[pick % 12] : call.u16();
}

void measure_call(Call& call, bool ra01) {
  const std::uint32_t address = call.address();
  auto channels = call.channels(8);
  const std::uint8_t count = static_cast<std::uint8_t>(channels.size());
  channels.push_back(0);
  const std::uint8_t how = call.u8();
  // Mostly short measurements; now and then any count, whose product with
  // the channel count may wrap in 32 bits.
  const std::uint32_t samples = (how & 0x80) ? call.u32() : 1 + call.u16() % 64;
  static const float frequencies[] = {100.0f, 6.0f, 3000.0f, 5.9f, std::numeric_limits<float>::quiet_NaN()};
  const float frequency = (how & 0x40) ? call.f32() : frequencies[how % 5];
  const std::uint32_t total = count * samples;
  const std::uint32_t capacity = total <= 4096 ? total + (call.u8() % 3) - (total > 0 ? 1 : 0) : call.u8();
  Output<float> values(capacity);
  Output<std::uint32_t> size = value(capacity);
  call.replies();
  const std::uint8_t code = ra01 ? ra01_measure(address, channels.data(), count, samples, frequency, values.get(), size.get())
                                 : re01_measure(address, channels.data(), count, samples, frequency, values.get(), size.get());
  check_code(code, {0, 1, 2, 3, 4, 6, 7, 8, 9});
  FUZZ_CHECK(code != 1);
  if (code != 0) {
    FUZZ_CHECK(values.unchanged() && size.unchanged());
    return;
  }
  FUZZ_CHECK(*size == total && total <= capacity && values.unchanged_from(total));
}

void info_call(Call& call) {
  const std::uint32_t address = call.address();
  std::vector<Output<char>> texts;
  std::vector<Output<std::uint32_t>> sizes;
  for (int i = 0; i < 11; ++i) {
    const std::uint8_t pick = call.u8();
    texts.emplace_back(pick % 24, (pick & 0x80) != 0);
    sizes.push_back(value(static_cast<std::uint32_t>(pick % 24)));
  }
  std::vector<Output<std::uint32_t>> numbers;
  for (int i = 0; i < 15; ++i) numbers.emplace_back(1);
  Output<std::uint8_t> mac(6);
  Output<std::uint8_t> flag(1);
  call.replies();
  auto t = [&](int i) { return texts[i].get(); };
  auto s = [&](int i) { return sizes[i].get(); };
  auto n = [&](int i) { return numbers[i].get(); };
  const std::uint8_t code = get_info(address, t(0), s(0), t(1), s(1), t(2), s(2), n(0), t(3), s(3), t(4), s(4), n(1),
                                     n(2), t(5), s(5), t(6), s(6), n(3), n(4), n(5), n(6), n(7), n(8), mac.get(),
                                     n(9), n(10), n(11), flag.get(), t(7), s(7), t(8), s(8), t(9), s(9), t(10), s(10));
  check_code(code, plain);
  for (int i = 0; i < 11; ++i) {
    if (code != 0) {
      FUZZ_CHECK(texts[i].unchanged() && sizes[i].unchanged());
    } else {
      FUZZ_CHECK(*sizes[i] <= texts[i].capacity() && texts[i].unchanged_from(*sizes[i]) && sizes[i].unchanged_from(1));
    }
  }
  for (auto& number : numbers) FUZZ_CHECK(code == 0 ? number.unchanged_from(1) : number.unchanged());
  FUZZ_CHECK(code == 0 ? mac.unchanged_from(6) && flag.unchanged_from(1) : mac.unchanged() && flag.unchanged());
}

void status_call(Call& call) {
  const std::uint32_t address = call.address();
  std::vector<Output<char>> texts;
  std::vector<Output<std::uint32_t>> sizes;
  for (int i = 0; i < 3; ++i) {
    const std::uint8_t pick = call.u8();
    texts.emplace_back(pick % 64, (pick & 0x80) != 0);
    sizes.push_back(value(static_cast<std::uint32_t>(pick % 64)));
  }
  const std::uint32_t capacity = call.u8() % 6;
  std::vector<Output<float>> arrays;
  for (int i = 0; i < 4; ++i) arrays.emplace_back(capacity);
  Output<std::uint32_t> size = value(capacity);
  Output<std::uint8_t> ok(1);
  call.replies();
  const std::uint8_t code = get_status(address, texts[0].get(), sizes[0].get(), texts[1].get(), sizes[1].get(),
                                       texts[2].get(), sizes[2].get(), arrays[0].get(), arrays[1].get(),
                                       arrays[2].get(), arrays[3].get(), size.get(), ok.get());
  check_code(code, plain);
  if (code != 0) {
    for (int i = 0; i < 3; ++i) FUZZ_CHECK(texts[i].unchanged() && sizes[i].unchanged());
    for (auto& a : arrays) FUZZ_CHECK(a.unchanged());
    FUZZ_CHECK(size.unchanged() && ok.unchanged());
    return;
  }
  for (int i = 0; i < 3; ++i)
    FUZZ_CHECK(*sizes[i] <= texts[i].capacity() && texts[i].unchanged_from(*sizes[i]) && sizes[i].unchanged_from(1));
  FUZZ_CHECK(*size <= capacity && size.unchanged_from(1));
  for (auto& a : arrays) FUZZ_CHECK(a.unchanged_from(*size));
  FUZZ_CHECK((*ok == 0 || *ok == 1) && ok.unchanged_from(1));
}

void find_call(Call& call, bool serial_mode) {
  std::vector<std::uint32_t> serials;
  if (serial_mode) {
    const std::size_t count = 1 + call.u8() % 3;
    for (std::size_t i = 0; i < count; ++i) serials.push_back(call.u8() < 128 ? 1048833 : call.u32());
  }
  Output<std::uint32_t> addresses(call.u8() % 5);
  Output<std::uint32_t> size = value(static_cast<std::uint32_t>(addresses.capacity()));
  call.replies();
  const std::uint8_t code =
      find(addresses.get(), size.get(), serials.data(), static_cast<std::uint32_t>(serials.size()));
  // A requested module that reports an unusable address is refused with 3
  // after the broadcast went out, as documented.
  if (serial_mode && code == VARNODE_PARAMETER) {
    FUZZ_CHECK(addresses.unchanged() && size.unchanged());
    return;
  }
  check_code(code, {0, 3, 4, 5});
  if (code != 0) {
    FUZZ_CHECK(addresses.unchanged() && size.unchanged());
    return;
  }
  FUZZ_CHECK(*size <= addresses.capacity() && addresses.unchanged_from(*size) && size.unchanged_from(1));
  if (serial_mode) FUZZ_CHECK(*size == std::min<std::size_t>(serials.size(), addresses.capacity()));
}

void run(Call& call) {
  switch (call.u8() % 37) {
    case 0: {
      Output<char> vendor(call.u8() % 10), version(call.u8() % 10);
      Output<std::uint32_t> vendor_size = value(static_cast<std::uint32_t>(vendor.capacity()));
      Output<std::uint32_t> version_size = value(static_cast<std::uint32_t>(version.capacity()));
      Output<std::uint32_t> build(1);
      check_code(get_driver(vendor.get(), vendor_size.get(), version.get(), version_size.get(), build.get()), {0});
      FUZZ_CHECK(vendor.unchanged_from(*vendor_size) && version.unchanged_from(*version_size));
      FUZZ_CHECK(fuzz::sent().empty());
      break;
    }
    case 1: find_call(call, false); break;
    case 2: find_call(call, true); break;
    case 3: info_call(call); break;
    case 4: status_call(call); break;
    case 5: {
      const std::uint32_t serial = call.u32();
      const std::vector<std::uint8_t> text = call.bytes(call.u8() % 70);
      const std::uint8_t flag = call.u8() % 3;
      check_code(configure(serial, reinterpret_cast<const char*>(text.data()), static_cast<std::uint32_t>(text.size()),
                           flag, call.u32(), call.u32(), call.u32()),
                 {0, 3, 4});
      break;
    }
    case 6: {
      const std::uint32_t address = call.address();
      std::vector<std::uint8_t> data = call.bytes(call.u8() % 70);
      const auto size = static_cast<std::uint32_t>(data.size());
      data.push_back(0);
      call.replies();
      check_code(burn(address, data.data(), size), plain);
      break;
    }
    case 7: {
      const std::uint32_t address = call.address();
      call.replies();
      check_code(reset(address), plain);
      break;
    }
    case 8: {
      Output<std::uint16_t> timeout(1);
      const std::uint8_t code = get_timeout(call.address(), timeout.get());
      check_code(code, {0, 3});
      FUZZ_CHECK(fuzz::sent().empty() && (code == 0 ? *timeout != 0 : timeout.unchanged()));
      break;
    }
    case 9: {
      const std::uint32_t address = call.address();
      check_code(set_timeout(address, call.u16()), {0, 3});
      FUZZ_CHECK(fuzz::sent().empty());
      break;
    }
    case 10: flags_call(call, kl01_set_direction, plain); break;
    case 11: flags_call(call, kl02_set_direction, plain); break;
    case 12: flags_call(call, kl01_write, refusable); break;
    case 13: flags_call(call, kl02_write, refusable); break;
    case 14: read_call<std::uint8_t>(call, kl01_read_bytes, 8, refusable); break;
    case 15: read_call<std::uint8_t>(call, kl02_read_bytes, 8, refusable); break;
    case 16: flags_call(call, ks01_write, plain); break;
    case 17: flags_call(call, ks02_write, plain); break;
    case 18: read_call<float>(call, static_cast<FloatRead>(ks01_measure), 8, plain); break;
    case 19: mask_call(call, qu01_enable); break;
    case 20: mask_call(call, qu01_disable); break;
    case 21: mask_call(call, qu01_clear); break;
    case 22: values_call<std::uint8_t>(call, qu01_set_mode, 4, below<5>); break;
    case 23: {
      const std::uint32_t address = call.address();
      auto channels = call.channels(4);
      const auto count = static_cast<std::uint8_t>(channels.size());
      channels.push_back(0);
      Output<std::int64_t> values(call.count_near(count));
      Output<std::uint8_t> size = value(static_cast<std::uint8_t>(values.capacity()));
      Output<std::int64_t> reference(1);
      call.replies();
      const std::uint8_t code = qu01_read(address, channels.data(), count, values.get(), size.get(), reference.get());
      check_code(code, plain);
      if (code != 0) {
        FUZZ_CHECK(values.unchanged() && size.unchanged() && reference.unchanged());
      } else {
        FUZZ_CHECK(*size == count && values.unchanged_from(count) && reference.unchanged_from(1));
      }
      break;
    }
    case 24:
    case 25:
    case 32:
    case 35: {
      static std::uint8_t (*const setters[])(uint32_t, uint16_t) = {ra01_set_frequency, re01_set_frequency,
                                                                     hx01_set_frequency, hx02_set_frequency};
      const std::uint8_t which = call.u8() % 4;
      const std::uint32_t address = call.address();
      const std::uint16_t frequency = frequency_choice(call);
      call.replies();
      check_code(setters[which](address, frequency), plain);
      break;
    }
    case 26:
    case 27: {
      const std::uint32_t address = call.address();
      const bool ra01 = call.u8() & 1;
      call.replies();
      check_code(ra01 ? ra01_stop(address) : re01_stop(address), plain);
      break;
    }
    case 28: measure_call(call, true); break;
    case 29: measure_call(call, false); break;
    case 30: values_call<float>(call, we01_control, 8, any_float); break;
    case 31: values_call<std::uint8_t>(call, hx01_set_sensor, 8, below<16>); break;
    case 33: read_call<float>(call, static_cast<FloatRead>(hx01_measure), 8, refusable); break;
    case 34: {
      const std::uint32_t address = call.address();
      auto channels = call.channels(4);
      const auto count = static_cast<std::uint8_t>(channels.size());
      channels.push_back(0);
      const auto sensors = values_of<std::uint8_t>(call, count, [](Call& c) { return static_cast<std::uint8_t>(c.u8() % 12); });
      const auto ranges = values_of<float>(call, count, range_choice);
      const auto currents = values_of<float>(call, count, current_choice);
      const auto nominals = values_of<float>(call, count, nominal_choice);
      const std::uint8_t c1 = call.count_near(count), c2 = call.count_near(count), c3 = call.count_near(count),
                         c4 = call.count_near(count);
      call.replies();
      check_code(hx02_set_sensor(address, channels.data(), count, sensors.data(), c1, ranges.data(), c2,
                                 currents.data(), c3, nominals.data(), c4),
                 plain);
      break;
    }
    default: read_call<float>(call, static_cast<FloatRead>(hx02_measure), 4, refusable); break;
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  fuzz::reset_wire();
  fuzz::Input input(data, size);
  Call call(input);
  run(call);
  fuzz::reset_wire();
  return 0;
}
