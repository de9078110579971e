#include <gtest/gtest.h>

#include "module_cases.hpp"
#include "temperature_cases.hpp"

namespace varnode::test {
namespace {

Call measure(Channels channels, std::uint8_t capacity) { return hx02_measure_call(std::move(channels), capacity); }

Call set_sensor(Channels channels, std::vector<Config> configs, int short_array = -1) {
  return hx02_set_sensor_call(std::move(channels), std::move(configs), short_array);
}

Call set_frequency(std::uint16_t frequency) { return frequency_call(hx02_set_frequency, frequency); }

// Big-endian floats as they go out.
const Bytes half{0x3F, 0, 0, 0}, one{0x3F, 0x80, 0, 0}, two_and_a_half{0x40, 0x20, 0, 0}, five{0x40, 0xA0, 0, 0};
const Bytes zero{0, 0, 0, 0}, ten_microamperes{0x37, 0x27, 0xC5, 0xAC}, one_milliampere{0x3A, 0x83, 0x12, 0x6F};
const Bytes hundred_ohms{0x42, 0xC8, 0, 0};

// What set-sensor sends for channel 1 alone.
Datagram sent(std::uint8_t type, const Bytes& range, const Bytes& current, const Bytes& nominal) {
  return {0x0209, joined({{0x01, type}, range, current, nominal})};
}

const Config voltage{1, 5.0f, 0.0f, 100.0f};
const Bytes two_and_four = joined({hx02_channel(voltage, 1.5f), hx02_channel(voltage, -3.0f)});
const Datagram measure_24{0x0200, {0x0A}};
const std::string untouched = "2: -77 -77";

// A measurement of channels 2 and 4 where channel 4 reports `config`.
ExchangeCase failed_report(std::string name, Config config, float reading = 1.0f) {
  return {std::move(name),
          measure({2, 4}, 2),
          measure_24,
          {{0x0201, joined({hx02_channel(voltage, 1.5f), hx02_channel(config, reading)})}},
          2,
          untouched};
}

const std::vector<ExchangeCase> exchanges = {
    {"SetSensorPlatinum100Ohms", set_sensor({1}, {{2}}), sent(2, half, one_milliampere, hundred_ohms), {{1, {}}}, 0,
     ""},
    {"SetSensorPlatinum500Ohms", set_sensor({1}, {{2, nan, nan, 500}}), sent(2, two_and_a_half, one_milliampere,
     {0x43, 0xFA, 0, 0}), {{1, {}}}, 0, ""},
    {"SetSensorPlatinum1000Ohms", set_sensor({1}, {{2, nan, nan, 1000}}), sent(2, five, one_milliampere,
     {0x44, 0x7A, 0, 0}), {{1, {}}}, 0, ""},
    {"SetSensorPlatinumSmallCurrent", set_sensor({1}, {{2, nan, 0.00001f, 1000}}),
     sent(2, half, ten_microamperes, {0x44, 0x7A, 0, 0}), {{1, {}}}, 0, ""},
    {"SetSensorDiode", set_sensor({1}, {{3}}), sent(3, two_and_a_half, ten_microamperes, hundred_ohms), {{1, {}}}, 0,
     ""},
    {"SetSensorPtc2000", set_sensor({1}, {{6}}), sent(6, five, one_milliampere, hundred_ohms), {{1, {}}}, 0, ""},
    {"SetSensorPtc1000", set_sensor({1}, {{7}}), sent(7, two_and_a_half, one_milliampere, hundred_ohms), {{1, {}}}, 0,
     ""},
    {"SetSensorVoltage", set_sensor({1}, {{1}}), sent(1, five, zero, hundred_ohms), {{1, {}}}, 0, ""},
    {"SetSensorNone", set_sensor({1}, {{0}}), sent(0, five, zero, hundred_ohms), {{1, {}}}, 0, ""},
    {"SetSensorVoltageZeroCurrent", set_sensor({1}, {{1, nan, 0.0f}}), sent(1, five, zero, hundred_ohms), {{1, {}}},
     0, ""},
    {"SetSensorAsGiven", set_sensor({1}, {{5, 1.0f, 0.00001f, 1.0f}}), sent(5, one, ten_microamperes, one),
     {{1, {}}}, 0, ""},
    {"SetSensorInChannelOrder", set_sensor({4, 2}, {{3, 0.5f, 0.001f, 100}, {1, 1.0f, 0.0f, 1}}),
     {0x0209, joined({{0x0A, 1}, one, zero, one, {3}, half, one_milliampere, hundred_ohms})}, {{1, {}}}, 0, ""},
    {"SetSensorAckWithPayload", set_sensor({1}, {{1}}), sent(1, five, zero, hundred_ohms), {{1, {0}}}, 2, ""},
    {"SetSensorOtherCode", set_sensor({1}, {{1}}), sent(1, five, zero, hundred_ohms), {{0x0202, {}}}, 2, ""},
    {"SetSensorSilent", set_sensor({1}, {{1}}), sent(1, five, zero, hundred_ohms), std::nullopt, 6, ""},
    {"SetFrequency1500", set_frequency(1500), {0x0208, {0x05, 0xDC}}, {{1, {}}}, 0, ""},
    {"SetFrequencyOtherCode", set_frequency(12), {0x0208, {0x00, 0x0C}}, {{2, {}}}, 2, ""},
    {"MeasureInCallerOrder", measure({4, 2}, 2), measure_24, {{0x0201, two_and_four}}, 0, "2: -3 1.5"},
    {"MeasureInChannelOrder", measure({2, 4}, 3), measure_24, {{0x0201, two_and_four}}, 0, "2: 1.5 -3 -77"},
    {"MeasureVoltageWithoutCurrent", measure({3}, 1), {0x0200, {0x04}}, {{0x0201, hx02_channel(voltage, 0.75f)}}, 0,
     "1: 0.75"},
    {"MeasureReplyOneShort", measure({4, 2}, 2), measure_24,
     {{0x0201, Bytes(two_and_four.begin(), two_and_four.end() - 1)}}, 2, untouched},
    {"MeasureReplyOneLong", measure({4, 2}, 2), measure_24, {{0x0201, joined({two_and_four, {0}})}}, 2, untouched},
    {"MeasureRefused", measure({4, 2}, 2), measure_24, {{0x0202, {}}}, 9, untouched},
    {"MeasureRefusedWithPayload", measure({4, 2}, 2), measure_24, {{0x0202, {0}}}, 2, untouched},
    {"MeasureOtherCode", measure({4, 2}, 2), measure_24, {{0x0200, two_and_four}}, 2, untouched},
    {"MeasureSilent", measure({4, 2}, 2), measure_24, std::nullopt, 6, untouched},
    failed_report("MeasureUnknownType", {11, 5.0f, 0.001f, 100}),
    failed_report("MeasureRangeOutOfSet", {1, 3.0f, 0.0f, 100}),
    failed_report("MeasureCurrentOutOfSet", {1, 5.0f, 0.0002f, 100}),
    failed_report("MeasureNominalOutOfSet", {1, 5.0f, 0.0f, 0.5f}),
    failed_report("MeasureNaNNominal", {1, 5.0f, 0.0f, nan}),
    failed_report("MeasureOpenRange", {1, nan, 0.0f, 100}),
    failed_report("MeasureOpenCurrent", {1, 5.0f, nan, 100}),
    failed_report("MeasureNoSensor", {0, 5.0f, 0.0f, 100}),
    failed_report("MeasurePlatinumWithoutCurrent", {2, 0.5f, 0.0f, 100}, 0.1385f),
    {"MeasureNaNVoltagePassesRaw",
     measure({2, 4}, 2),
     measure_24,
     {{0x0201, joined({hx02_channel(voltage, 1.5f), hx02_channel(voltage, nan)})}},
     0,
     "2: 1.5 nan"},
};

const Config platinum{2, nan, nan, 100};

const std::vector<RefusalCase> refusals = {
    {"SetSensorFiveChannels", set_sensor({1, 2, 3, 4, 5}, std::vector<Config>(5, platinum)), false, ""},
    {"SetSensorFewerTypes", set_sensor({1, 2}, {platinum, platinum}, 0), false, ""},
    {"SetSensorFewerRanges", set_sensor({1, 2}, {platinum, platinum}, 1), false, ""},
    {"SetSensorFewerCurrents", set_sensor({1, 2}, {platinum, platinum}, 2), false, ""},
    {"SetSensorFewerNominals", set_sensor({1, 2}, {platinum, platinum}, 3), false, ""},
    {"SetSensorDuplicate", set_sensor({3, 3}, {platinum, platinum}), false, ""},
    {"SetSensorType11", set_sensor({1}, {{11}}), false, ""},
    {"SetSensorRange3", set_sensor({1}, {{2, 3.0f}}), false, ""},
    {"SetSensorCurrent200Microamperes", set_sensor({1}, {{2, nan, 0.0002f}}), false, ""},
    {"SetSensorNominalHalfOhm", set_sensor({1}, {{2, nan, nan, 0.5f}}), false, ""},
    {"SetSensorNominal1001", set_sensor({1}, {{2, nan, nan, 1001}}), false, ""},
    {"SetSensorNominalNaN", set_sensor({1}, {{1, nan, nan, nan}}), false, ""},
    {"SetSensorNoChannel", set_sensor({}, {}), true, ""},
    {"SetSensorChannel5", set_sensor({1, 5}, {platinum, platinum}), true, ""},
    {"SetSensorChannel0", set_sensor({0}, {platinum}), true, ""},
    {"SetSensorPlatinumZeroCurrent", set_sensor({1}, {{2, nan, 0.0f}}), true, ""},
    {"SetSensorPtcZeroCurrent", set_sensor({2, 1}, {{1}, {9, 5.0f, 0.0f}}), true, ""},
    {"SetFrequency60", set_frequency(60), true, ""},
    {"MeasureCapacityTooSmall", measure({1, 2}, 1), false, "1: -77"},
    {"MeasureFiveChannels", measure({1, 2, 3, 4, 5}, 5), false, "5: -77 -77 -77 -77 -77"},
    {"MeasureDuplicate", measure({2, 2}, 2), false, untouched},
    {"MeasureNoChannel", measure({}, 2), true, untouched},
    {"MeasureChannel5", measure({5}, 2), true, untouched},
};

INSTANTIATE_TEST_SUITE_P(HX02, ModuleExchange, testing::ValuesIn(exchanges), CaseName{});
INSTANTIATE_TEST_SUITE_P(HX02, ModuleRefusal, testing::ValuesIn(refusals), CaseName{});

}  // namespace
}  // namespace varnode::test
