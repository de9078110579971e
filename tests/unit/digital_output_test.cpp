#include <gtest/gtest.h>

#include "module_cases.hpp"
#include "varnode/varnode.h"

namespace varnode::test {
namespace {

using WriteExport = std::uint8_t (*)(std::uint32_t, const std::uint8_t*, std::uint8_t, const bool*, std::uint8_t);

struct Writer {
  std::string name;
  WriteExport write;
  std::uint16_t command;
};

const Writer writers[] = {{"KS01", ks01_write, 0x0100}, {"KS02", ks02_write, 0x0A00}};

const Bytes one_and_two{0x3F, 0x80, 0x00, 0x00, 0x40, 0x00, 0x00, 0x00};

Call measure(Channels channels, std::uint8_t capacity) {
  return read_call<float>(ks01_measure, std::move(channels), capacity);
}

std::vector<ExchangeCase> exchanges() {
  std::vector<ExchangeCase> cases;
  for (const Writer& w : writers) {
    const std::uint16_t c = w.command;
    const std::string n = w.name;
    cases.push_back({n + "Write", flags_call(w.write, {2, 5}, {0, 1}), {c, {0x12, 0x10}}, Datagram{1, {}}, 0, ""});
    cases.push_back({n + "WriteAnyNonZeroByteIsSet",
                     flags_call(w.write, {8, 1}, {0x02, 0x00}),
                     {c, {0x81, 0x80}},
                     Datagram{1, {}},
                     0,
                     ""});
    cases.push_back({n + "AckWithPayload", flags_call(w.write, {1}, {1}), {c, {0x01, 0x01}}, Datagram{1, {0}}, 2, ""});
    cases.push_back({n + "OtherCode", flags_call(w.write, {1}, {1}), {c, {0x01, 0x01}}, Datagram{2, {}}, 2, ""});
    cases.push_back({n + "Silent", flags_call(w.write, {1}, {1}), {c, {0x01, 0x01}}, std::nullopt, 6, ""});
  }
  const ExchangeCase measures[] = {
      {"MeasureInCallerOrder", measure({6, 2}, 2), {0x0101, {0x22}}, {{0x0102, one_and_two}}, 0, "2: 2 1"},
      {"MeasureInChannelOrder", measure({2, 6}, 3), {0x0101, {0x22}}, {{0x0102, one_and_two}}, 0, "2: 1 2 -77"},
      {"MeasureShortReply", measure({6, 2}, 2), {0x0101, {0x22}}, {{0x0102, {0x3F, 0x80, 0, 0}}}, 2, "2: -77 -77"},
      {"MeasureLongReply", measure({2}, 2), {0x0101, {0x02}}, {{0x0102, one_and_two}}, 2, "2: -77 -77"},
      {"MeasureOtherCode", measure({2}, 2), {0x0101, {0x02}}, {{0x0103, {0x3F, 0x80, 0, 0}}}, 2, "2: -77 -77"},
      {"MeasureSilent", measure({2}, 2), {0x0101, {0x02}}, std::nullopt, 6, "2: -77 -77"},
  };
  cases.insert(cases.end(), std::begin(measures), std::end(measures));
  return cases;
}

std::vector<RefusalCase> refusals() {
  std::vector<RefusalCase> cases;
  const Channels nine{1, 2, 3, 4, 5, 6, 7, 8, 9};
  for (const Writer& w : writers) {
    const std::string n = w.name;
    cases.push_back({n + "CountsDiffer", flags_call(w.write, {1, 2, 3}, {1, 1}), false, ""});
    cases.push_back({n + "NineChannels", flags_call(w.write, nine, nine), false, ""});
    cases.push_back({n + "Duplicate", flags_call(w.write, {1, 1}, {1, 0}), false, ""});
    cases.push_back({n + "NoChannel", flags_call(w.write, {}, {}), true, ""});
    cases.push_back({n + "Channel9", flags_call(w.write, {9}, {1}), true, ""});
  }
  const RefusalCase measures[] = {
      {"MeasureCapacityTooSmall", measure({1, 2}, 1), false, "1: -77"},
      {"MeasureNineChannels", measure(nine, 9), false, "9: -77 -77 -77 -77 -77 -77 -77 -77 -77"},
      {"MeasureDuplicate", measure({3, 3}, 2), false, "2: -77 -77"},
      {"MeasureNoChannel", measure({}, 2), true, "2: -77 -77"},
      {"MeasureChannel0", measure({0}, 2), true, "2: -77 -77"},
  };
  cases.insert(cases.end(), std::begin(measures), std::end(measures));
  return cases;
}

INSTANTIATE_TEST_SUITE_P(DigitalOutput, ModuleExchange, testing::ValuesIn(exchanges()), CaseName{});
INSTANTIATE_TEST_SUITE_P(DigitalOutput, ModuleRefusal, testing::ValuesIn(refusals()), CaseName{});

}  // namespace
}  // namespace varnode::test
