#include <gtest/gtest.h>

#include "module_cases.hpp"
#include "varnode/varnode.h"

namespace varnode::test {
namespace {

Call read(Channels channels, std::uint8_t capacity) {
  return [=](std::uint32_t address, std::string& outputs) {
    std::int64_t values[8];
    fill_untouched(values, 8);
    std::uint8_t size = capacity;
    std::int64_t reference = -77;
    const std::uint8_t result = qu01_read(address, channels.data(), count_of(channels), values, &size, &reference);
    outputs = render(size, values, capacity) + " ref " + std::to_string(reference);
    return result;
  };
}

Call set_mode(Channels channels, Channels modes) { return values_call(qu01_set_mode, channels, modes); }

Bytes be64(std::uint64_t v) {
  Bytes out;
  for (int shift = 56; shift >= 0; shift -= 8) out.push_back(static_cast<std::uint8_t>(v >> shift));
  return out;
}

Bytes concat(std::initializer_list<Bytes> parts) {
  Bytes out;
  for (const Bytes& part : parts) out.insert(out.end(), part.begin(), part.end());
  return out;
}

// Reference, channel 1, channel 3.
const Bytes three_values = concat({be64(0x8000000000000001), be64(11), be64(0xFFFFFFFFFFFFFFFE)});

const std::vector<ExchangeCase> exchanges = {
    {"Enable", channels_call(qu01_enable, {3, 1}), {0x0701, {0x05}}, {{1, {}}}, 0, ""},
    {"EnableNone", channels_call(qu01_enable, {}), {0x0701, {0x00}}, {{1, {}}}, 0, ""},
    {"Disable", channels_call(qu01_disable, {4}), {0x0700, {0x08}}, {{1, {}}}, 0, ""},
    {"ClearNone", channels_call(qu01_clear, {}), {0x0704, {0x00}}, {{1, {}}}, 0, ""},
    {"ClearAll", channels_call(qu01_clear, {4, 3, 2, 1}), {0x0704, {0x0F}}, {{1, {}}}, 0, ""},
    {"ClearAckWithPayload", channels_call(qu01_clear, {1}), {0x0704, {0x01}}, {{1, {0}}}, 2, ""},
    {"DisableOtherCode", channels_call(qu01_disable, {1}), {0x0700, {0x01}}, {{0x0703, {}}}, 2, ""},
    {"EnableSilent", channels_call(qu01_enable, {1}), {0x0701, {0x01}}, std::nullopt, 6, ""},
    {"SetMode", set_mode({4, 2}, {3, 1}), {0x0705, {0x0A, 0x01, 0x03}}, {{1, {}}}, 0, ""},
    {"SetModeNone", set_mode({}, {}), {0x0705, {0x00}}, {{1, {}}}, 0, ""},
    {"SetModeOtherCode", set_mode({1}, {0}), {0x0705, {0x01, 0x00}}, {{2, {}}}, 2, ""},
    {"ReadInCallerOrder",
     read({3, 1}, 2),
     {0x0702, {0x05}},
     {{0x0703, three_values}},
     0,
     "2: -2 11 ref -9223372036854775807"},
    {"ReadNoChannel", read({}, 1), {0x0702, {0x00}}, {{0x0703, be64(42)}}, 0, "0: -77 ref 42"},
    {"ReadShortReply",
     read({3, 1}, 2),
     {0x0702, {0x05}},
     {{0x0703, Bytes(three_values.begin(), three_values.end() - 8)}},
     2,
     "2: -77 -77 ref -77"},
    {"ReadLongReply",
     read({3, 1}, 2),
     {0x0702, {0x05}},
     {{0x0703, concat({three_values, be64(0)})}},
     2,
     "2: -77 -77 ref -77"},
    {"ReadOtherCode", read({1}, 2), {0x0702, {0x01}}, {{0x0704, concat({be64(1), be64(2)})}}, 2, "2: -77 -77 ref -77"},
    {"ReadSilent", read({1}, 2), {0x0702, {0x01}}, std::nullopt, 6, "2: -77 -77 ref -77"},
};

const std::vector<RefusalCase> refusals = {
    {"EnableFiveChannels", channels_call(qu01_enable, {1, 2, 3, 4, 5}), false, ""},
    {"ClearDuplicate", channels_call(qu01_clear, {2, 2}), false, ""},
    {"SetModeCountsDiffer", set_mode({1, 2}, {1}), false, ""},
    {"SetModeDuplicate", set_mode({1, 1}, {1, 1}), false, ""},
    {"SetModeFiveChannels", set_mode({1, 2, 3, 4, 5}, {0, 0, 0, 0, 0}), false, ""},
    {"ReadCapacityTooSmall", read({1, 2}, 1), false, "1: -77 ref -77"},
    {"ReadFiveChannels", read({1, 2, 3, 4, 5}, 5), false, "5: -77 -77 -77 -77 -77 ref -77"},
    {"ReadDuplicate", read({4, 4}, 2), false, "2: -77 -77 ref -77"},
    {"EnableChannel5", channels_call(qu01_enable, {1, 5}), true, ""},
    {"DisableChannel0", channels_call(qu01_disable, {0}), true, ""},
    {"SetModeChannel5", set_mode({5}, {0}), true, ""},
    {"SetMode4", set_mode({2, 1}, {4, 0}), true, ""},
    {"ReadChannel5", read({5}, 1), true, "1: -77 ref -77"},
    {"Unspecified", [](std::uint32_t, std::string&) { return qu01_enable(0xFFFFFFFF, nullptr, 0); }, false, ""},
};

INSTANTIATE_TEST_SUITE_P(Counter, ModuleExchange, testing::ValuesIn(exchanges), CaseName{});
INSTANTIATE_TEST_SUITE_P(Counter, ModuleRefusal, testing::ValuesIn(refusals), CaseName{});

}  // namespace
}  // namespace varnode::test
