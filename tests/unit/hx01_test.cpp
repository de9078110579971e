#include <gtest/gtest.h>

#include "module_cases.hpp"
#include "temperature_cases.hpp"

namespace varnode::test {
namespace {

Call measure(Channels channels, std::uint8_t capacity) { return hx01_measure_call(std::move(channels), capacity); }

Call set_sensor(Channels channels, Channels codes) {
  return values_call(hx01_set_sensor, std::move(channels), std::move(codes));
}

Call set_frequency(std::uint16_t frequency) { return frequency_call(hx01_set_frequency, frequency); }

// Voltage inputs pass through unconverted, so these replies need no table.
const Bytes one_and_three = hx01_values(0.05f, {{1, 1.5f}, {1, -2.0f}});
const Datagram measure_13{0x0600, {0x05}};
const std::string untouched = "2: -77 -77";

const std::vector<ExchangeCase> exchanges = {
    {"MeasureInCallerOrder", measure({3, 1}, 2), measure_13, {{0x0601, one_and_three}}, 0, "2: -2 1.5"},
    {"MeasureInChannelOrder", measure({1, 3}, 3), measure_13, {{0x0601, one_and_three}}, 0, "2: 1.5 -2 -77"},
    {"MeasureVoltageWhateverTheColdJunction",
     measure({8}, 2),
     {0x0600, {0x80}},
     {{0x0601, hx01_values(nan, {{1, 0.25f}})}},
     0,
     "1: 0.25 -77"},
    {"MeasureReplyOneShort",
     measure({3, 1}, 2),
     measure_13,
     {{0x0601, Bytes(one_and_three.begin(), one_and_three.end() - 1)}},
     2,
     untouched},
    {"MeasureReplyOneLong", measure({3, 1}, 2), measure_13, {{0x0601, joined({one_and_three, {0}})}}, 2, untouched},
    {"MeasureNoColdJunction", measure({1}, 2), {0x0600, {0x01}}, {{0x0601, {0, 0}}}, 2, untouched},
    {"MeasureRefused", measure({3, 1}, 2), measure_13, {{0x0602, {}}}, 9, untouched},
    {"MeasureRefusedWithPayload", measure({3, 1}, 2), measure_13, {{0x0602, {0}}}, 2, untouched},
    {"MeasureOtherCode", measure({3, 1}, 2), measure_13, {{0x0603, one_and_three}}, 2, untouched},
    {"MeasureSilent", measure({3, 1}, 2), measure_13, std::nullopt, 6, untouched},
    {"MeasureChannelWithoutSensor",
     measure({3, 1}, 2),
     measure_13,
     {{0x0601, hx01_values(0.05f, {{1, 1.5f}, {0, 0.001f}})}},
     2,
     untouched},
    {"MeasureUnknownSensorCode",
     measure({3, 1}, 2),
     measure_13,
     {{0x0601, hx01_values(0.05f, {{15, 1.5f}, {1, 0.5f}})}},
     2,
     untouched},
    {"MeasureNaNVoltagePassesRaw",
     measure({3, 1}, 2),
     measure_13,
     {{0x0601, hx01_values(0.05f, {{1, 1.5f}, {1, nan}})}},
     0,
     "2: nan 1.5"},
    {"SetSensorInChannelOrder", set_sensor({2, 1}, {8, 14}), {0x0609, {0x03, 0x0E, 0x08}}, {{1, {}}}, 0, ""},
    {"SetSensorNoneAndVoltage", set_sensor({8, 1}, {0, 1}), {0x0609, {0x81, 0x01, 0x00}}, {{1, {}}}, 0, ""},
    {"SetSensorAckWithPayload", set_sensor({1}, {8}), {0x0609, {0x01, 0x08}}, {{1, {0}}}, 2, ""},
    {"SetSensorOtherCode", set_sensor({1}, {8}), {0x0609, {0x01, 0x08}}, {{0x0602, {}}}, 2, ""},
    {"SetSensorSilent", set_sensor({1}, {8}), {0x0609, {0x01, 0x08}}, std::nullopt, 6, ""},
    {"SetFrequency3000", set_frequency(3000), {0x0608, {0x0B, 0xB8}}, {{1, {}}}, 0, ""},
    {"SetFrequency1500", set_frequency(1500), {0x0608, {0x05, 0xDC}}, {{1, {}}}, 0, ""},
    {"SetFrequencyAckWithPayload", set_frequency(50), {0x0608, {0x00, 0x32}}, {{1, {0}}}, 2, ""},
};

const Channels nine{1, 2, 3, 4, 5, 6, 7, 8, 9};

const std::vector<RefusalCase> refusals = {
    {"SetSensorCode15", set_sensor({1}, {15}), false, ""},
    {"SetSensorCountsDiffer", set_sensor({1, 2, 3}, {8, 8}), false, ""},
    {"SetSensorNineChannels", set_sensor(nine, Channels(9, 8)), false, ""},
    {"SetSensorDuplicate", set_sensor({4, 4}, {8, 7}), false, ""},
    {"SetSensorNoChannel", set_sensor({}, {}), true, ""},
    {"SetSensorChannel9", set_sensor({1, 9}, {8, 8}), true, ""},
    {"SetSensorChannel0", set_sensor({0}, {8}), true, ""},
    {"SetFrequency60", set_frequency(60), true, ""},
    {"SetFrequency0", set_frequency(0), true, ""},
    {"MeasureCapacityTooSmall", measure({1, 2}, 1), false, "1: -77"},
    {"MeasureNineChannels", measure(nine, 9), false, "9: -77 -77 -77 -77 -77 -77 -77 -77 -77"},
    {"MeasureDuplicate", measure({2, 2}, 2), false, untouched},
    {"MeasureNoChannel", measure({}, 2), true, untouched},
    {"MeasureChannel9", measure({9}, 2), true, untouched},
};

INSTANTIATE_TEST_SUITE_P(HX01, ModuleExchange, testing::ValuesIn(exchanges), CaseName{});
INSTANTIATE_TEST_SUITE_P(HX01, ModuleRefusal, testing::ValuesIn(refusals), CaseName{});

}  // namespace
}  // namespace varnode::test
