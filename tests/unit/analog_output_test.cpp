#include <gtest/gtest.h>

#include "module_cases.hpp"
#include "varnode/varnode.h"

namespace varnode::test {
namespace {

Call control(Channels channels, std::vector<float> values) {
  return values_call(we01_control, std::move(channels), std::move(values));
}

const std::vector<ExchangeCase> exchanges = {
    {"InChannelOrder",
     control({5, 2}, {2.5f, -1.0f}),
     {0x0800, {0x12, 0xBF, 0x80, 0, 0, 0x40, 0x20, 0, 0}},
     {{1, {}}},
     0,
     ""},
    {"UnchangedOutOfAnyRange", control({8}, {1000.0f}), {0x0800, {0x80, 0x44, 0x7A, 0, 0}}, {{1, {}}}, 0, ""},
    {"AckWithPayload", control({1}, {0.0f}), {0x0800, {0x01, 0, 0, 0, 0}}, {{1, {0}}}, 2, ""},
    {"OtherCode", control({1}, {0.0f}), {0x0800, {0x01, 0, 0, 0, 0}}, {{0x0801, {}}}, 2, ""},
    {"Silent", control({1}, {0.0f}), {0x0800, {0x01, 0, 0, 0, 0}}, std::nullopt, 6, ""},
};

const std::vector<RefusalCase> refusals = {
    {"NineChannels", control({1, 2, 3, 4, 5, 6, 7, 8, 9}, std::vector<float>(9)), false, ""},
    {"CountsDiffer", control({1, 2}, {1.0f}), false, ""},
    {"Duplicate", control({7, 7}, {1.0f, 2.0f}), false, ""},
    {"NoChannel", control({}, {}), true, ""},
    {"Channel9", control({1, 9}, {1.0f, 2.0f}), true, ""},
    {"Channel0", control({0}, {1.0f}), true, ""},
};

INSTANTIATE_TEST_SUITE_P(AnalogOutput, ModuleExchange, testing::ValuesIn(exchanges), CaseName{});
INSTANTIATE_TEST_SUITE_P(AnalogOutput, ModuleRefusal, testing::ValuesIn(refusals), CaseName{});

}  // namespace
}  // namespace varnode::test
