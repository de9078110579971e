// Every export that takes pointers, called with one of them NULL at a time
// and every other argument good: 3, nothing sent, nothing written. It runs
// in the private namespace so that find and configure, which broadcast, are
// in the table too, heard by a module listening on 0.0.0.0.
#include <gtest/gtest.h>

#include <array>
#include <functional>
#include <string>
#include <vector>

#include "support/fake_module.hpp"
#include "support/netns.hpp"
#include "support/payloads.hpp"
#include "varnode/varnode.h"

namespace varnode {
namespace {

// Hands on `pointer`, or NULL when it is the one under test.
struct Null {
  int at;
  template <class T>
  T* operator()(int index, T* pointer) const {
    return index == at ? nullptr : pointer;
  }
};

// Every output an export may write, filled with markers, so that one
// comparison shows whether anything was written.
struct Outputs {
  std::array<float, 64> floats;
  std::array<std::int64_t, 8> counts;
  std::array<bool, 8> flags;
  std::array<std::uint32_t, 16> words;
  std::array<std::uint8_t, 8> bytes;
  std::array<std::array<char, 16>, 11> texts;
  std::array<std::uint32_t, 11> text_sizes;
  std::uint16_t timeout = 7;
  std::uint8_t capacity_8 = 8;
  std::uint32_t capacity_32 = 64;
  std::uint32_t capacity_status = 8;

  Outputs() {
    floats.fill(-77);
    counts.fill(-77);
    flags.fill(true);
    words.fill(0xEEEEEEEE);
    bytes.fill(0xEE);
    for (auto& text : texts) text.fill('#');
    text_sizes.fill(16);
  }
  bool operator==(const Outputs&) const = default;
};

const std::uint8_t channels[] = {1, 2};
const bool levels[] = {true, false};
const float floats[] = {1, 1};
const std::uint8_t codes[] = {8, 8};
const std::uint8_t data[] = {1};
const char text[] = "x";
const std::uint32_t serials[] = {1};

using Call = std::function<std::uint8_t(std::uint32_t address, Outputs& o, Null n)>;

struct Export {
  std::string name;
  int pointers;
  Call call;
};

// Channel operations shared by twins.
template <class F>
Export flags_call(std::string name, F f) {
  return {std::move(name), 2, [f](std::uint32_t a, Outputs&, Null n) { return f(a, n(0, channels), 2, n(1, levels), 2); }};
}
template <class F, class V>
Export read_call(std::string name, F f, V Outputs::*values) {
  return {std::move(name), 3, [f, values](std::uint32_t a, Outputs& o, Null n) {
            return f(a, n(0, channels), 2, n(1, (o.*values).data()), n(2, &o.capacity_8));
          }};
}
template <class F>
Export channels_call(std::string name, F f) {
  return {std::move(name), 1, [f](std::uint32_t a, Outputs&, Null n) { return f(a, n(0, channels), 2); }};
}
template <class F>
Export measure_call(std::string name, F f) {
  return {std::move(name), 3, [f](std::uint32_t a, Outputs& o, Null n) {
            return f(a, n(0, channels), 2, 10, 100.0f, n(1, o.floats.data()), n(2, &o.capacity_32));
          }};
}

std::uint8_t call_get_info(std::uint32_t a, Outputs& o, Null n) {
  auto& t = o.texts;
  auto& s = o.text_sizes;
  auto& w = o.words;
  return get_info(a, n(0, t[0].data()), n(1, &s[0]), n(2, t[1].data()), n(3, &s[1]), n(4, t[2].data()), n(5, &s[2]),
                  n(6, &w[0]), n(7, t[3].data()), n(8, &s[3]), n(9, t[4].data()), n(10, &s[4]), n(11, &w[1]),
                  n(12, &w[2]), n(13, t[5].data()), n(14, &s[5]), n(15, t[6].data()), n(16, &s[6]), n(17, &w[3]),
                  n(18, &w[4]), n(19, &w[5]), n(20, &w[6]), n(21, &w[7]), n(22, &w[8]), n(23, o.bytes.data()),
                  n(24, &w[9]), n(25, &w[10]), n(26, &w[11]), n(27, &o.bytes[6]), n(28, t[7].data()), n(29, &s[7]),
                  n(30, t[8].data()), n(31, &s[8]), n(32, t[9].data()), n(33, &s[9]), n(34, t[10].data()),
                  n(35, &s[10]));
}

std::uint8_t call_get_status(std::uint32_t a, Outputs& o, Null n) {
  auto& t = o.texts;
  auto& s = o.text_sizes;
  float* f = o.floats.data();
  return get_status(a, n(0, t[0].data()), n(1, &s[0]), n(2, t[1].data()), n(3, &s[1]), n(4, t[2].data()),
                    n(5, &s[2]), n(6, f), n(7, f + 8), n(8, f + 16), n(9, f + 24), n(10, &o.capacity_status),
                    n(11, o.bytes.data()));
}

// The 28 exports with pointer arguments; the other eight (set_timeout,
// reset, the four set_frequency, ra01_stop, re01_stop) take none.
const std::vector<Export> exports = {
    {"get_driver", 5,
     [](std::uint32_t, Outputs& o, Null n) {
       return get_driver(n(0, o.texts[0].data()), n(1, &o.text_sizes[0]), n(2, o.texts[1].data()),
                         n(3, &o.text_sizes[1]), n(4, &o.words[0]));
     }},
    {"get_timeout", 1, [](std::uint32_t a, Outputs& o, Null n) { return get_timeout(a, n(0, &o.timeout)); }},
    {"find", 3,
     [](std::uint32_t, Outputs& o, Null n) {
       return find(n(0, o.words.data()), n(1, &o.capacity_32), n(2, serials), 1);
     }},
    {"get_info", 36, call_get_info},
    {"get_status", 12, call_get_status},
    {"configure", 1, [](std::uint32_t, Outputs&, Null n) { return configure(1, n(0, text), 1, 0, 0, 0, 0); }},
    {"burn", 1, [](std::uint32_t a, Outputs&, Null n) { return burn(a, n(0, data), 1); }},
    flags_call("kl01_set_direction", kl01_set_direction),
    flags_call("kl02_set_direction", kl02_set_direction),
    flags_call("kl01_write", kl01_write),
    flags_call("kl02_write", kl02_write),
    read_call("kl01_read", kl01_read, &Outputs::flags),
    read_call("kl02_read", kl02_read, &Outputs::flags),
    flags_call("ks01_write", ks01_write),
    flags_call("ks02_write", ks02_write),
    read_call("ks01_measure", ks01_measure, &Outputs::floats),
    channels_call("qu01_enable", qu01_enable),
    channels_call("qu01_disable", qu01_disable),
    channels_call("qu01_clear", qu01_clear),
    {"qu01_set_mode", 2,
     [](std::uint32_t a, Outputs&, Null n) { return qu01_set_mode(a, n(0, channels), 2, n(1, codes), 2); }},
    {"qu01_read", 4,
     [](std::uint32_t a, Outputs& o, Null n) {
       return qu01_read(a, n(0, channels), 2, n(1, o.counts.data()), n(2, &o.capacity_8), n(3, &o.counts[7]));
     }},
    measure_call("ra01_measure", ra01_measure),
    measure_call("re01_measure", re01_measure),
    {"we01_control", 2,
     [](std::uint32_t a, Outputs&, Null n) { return we01_control(a, n(0, channels), 2, n(1, floats), 2); }},
    {"hx01_set_sensor", 2,
     [](std::uint32_t a, Outputs&, Null n) { return hx01_set_sensor(a, n(0, channels), 2, n(1, codes), 2); }},
    read_call("hx01_measure", hx01_measure, &Outputs::floats),
    {"hx02_set_sensor", 5,
     [](std::uint32_t a, Outputs&, Null n) {
       return hx02_set_sensor(a, n(0, channels), 2, n(1, codes), 2, n(2, floats), 2, n(3, floats), 2, n(4, floats), 2);
     }},
    read_call("hx02_measure", hx02_measure, &Outputs::floats),
};

struct Case {
  const Export* call;
  int null_at;
};

std::vector<Case> every_pointer() {
  std::vector<Case> cases;
  for (const Export& e : exports)
    for (int i = 0; i < e.pointers; ++i) cases.push_back({&e, i});
  return cases;
}

class NullPointer : public testing::TestWithParam<Case> {
 protected:
  static void SetUpTestSuite() {
    link = std::make_unique<test::Peer>("198.18.31.1/24", "198.18.31.2/24");
    link->inside([] {
      module = std::make_unique<test::FakeModule>(test::Script{}, IP::Address(0xC6121F02), IP::unspecified_address);
    });
  }
  static void TearDownTestSuite() {
    module.reset();
    link.reset();
  }
  static inline std::unique_ptr<test::Peer> link;
  static inline std::unique_ptr<test::FakeModule> module;
};

TEST_P(NullPointer, RefusedBeforeAnythingIsSentOrWritten) {
  const Case c = GetParam();
  ASSERT_EQ(set_timeout(module->host(), 100), 0);
  const std::size_t before = module->request_count();
  Outputs outputs;
  EXPECT_EQ(c.call->call(module->host(), outputs, Null{c.null_at}), 3);
  EXPECT_EQ(module->request_count(), before);
  EXPECT_TRUE(outputs == Outputs{});
}

INSTANTIATE_TEST_SUITE_P(Exports, NullPointer, testing::ValuesIn(every_pointer()),
                         [](const testing::TestParamInfo<Case>& param) {
                           return param.param.call->name + "_" + std::to_string(param.param.null_at);
                         });

TEST(NullBuffer, OfCapacityZeroIsAllowed) {
  test::FakeModule module(test::replying(6, test::identity(42, 0x7F000001)));
  std::uint32_t zero = 0, build = 0;
  EXPECT_EQ(get_driver(nullptr, &zero, nullptr, &zero, &build), 0);
  EXPECT_EQ(build, 739110u);
  std::array<std::uint32_t, 11> sizes{};
  std::array<std::uint32_t, 12> numbers{};
  std::array<std::uint8_t, 6> mac{};
  std::uint8_t flag = 0;
  auto& w = numbers;
  EXPECT_EQ(get_info(module.host(), nullptr, &sizes[0], nullptr, &sizes[1], nullptr, &sizes[2], &w[0], nullptr,
                     &sizes[3], nullptr, &sizes[4], &w[1], &w[2], nullptr, &sizes[5], nullptr, &sizes[6], &w[3], &w[4],
                     &w[5], &w[6], &w[7], &w[8], mac.data(), &w[9], &w[10], &w[11], &flag, nullptr, &sizes[7], nullptr,
                     &sizes[8], nullptr, &sizes[9], nullptr, &sizes[10]),
            0);
  EXPECT_EQ(numbers[0], 42u);
}

}  // namespace
}  // namespace varnode
