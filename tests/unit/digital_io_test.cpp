#include <gtest/gtest.h>

#include "module_cases.hpp"
#include "varnode/varnode.h"

namespace varnode::test {
namespace {

using FlagsExport = std::uint8_t (*)(std::uint32_t, const std::uint8_t*, std::uint8_t, const bool*, std::uint8_t);
using ReadExport = std::uint8_t (*)(std::uint32_t, const std::uint8_t*, std::uint8_t, bool*, std::uint8_t*);

struct Family {
  const char* name;
  std::uint8_t code;  // high byte of the commands
  std::uint8_t twin;  // the other family's byte
  FlagsExport set_direction;
  FlagsExport write;
  ReadExport read;
};

const Family kl01{"KL01", 0x03, 0x0B, kl01_set_direction, kl01_write, kl01_read};
const Family kl02{"KL02", 0x0B, 0x03, kl02_set_direction, kl02_write, kl02_read};

Call flags(FlagsExport function, Channels channels, Channels values) {
  return flags_call(function, std::move(channels), std::move(values));
}

Call read(ReadExport function, Channels channels, std::uint8_t capacity) {
  return read_call<bool>(function, std::move(channels), capacity);
}

std::uint16_t code(const Family& f, std::uint8_t operation) {
  return static_cast<std::uint16_t>(f.code << 8 | operation);
}

std::vector<ExchangeCase> exchanges(const Family& f) {
  const std::string n = f.name;
  const std::uint16_t set_direction = code(f, 0x00), read_command = code(f, 0x01), write = code(f, 0x02);
  const std::uint16_t refused = code(f, 0x03), levels = code(f, 0x04);
  const std::uint16_t twin_refused = static_cast<std::uint16_t>(f.twin << 8 | 0x03);
  const std::uint16_t twin_levels = static_cast<std::uint16_t>(f.twin << 8 | 0x04);
  return {
      {n + "DirectionOfChannel8", flags(f.set_direction, {8}, {1}), {set_direction, {0x80, 0x80}}, {{1, {}}}, 0, ""},
      {n + "DirectionCleared", flags(f.set_direction, {2, 1}, {0, 0}), {set_direction, {0x03, 0x00}}, {{1, {}}}, 0, ""},
      {n + "DirectionRefusalIsNoAnswer",
       flags(f.set_direction, {1}, {1}),
       {set_direction, {0x01, 0x01}},
       {{refused, {}}},
       2,
       ""},
      {n + "DirectionAckWithPayload",
       flags(f.set_direction, {1}, {1}),
       {set_direction, {0x01, 0x01}},
       {{1, {0}}},
       2,
       ""},
      {n + "WriteInChannelOrder", flags(f.write, {3, 1}, {1, 0}), {write, {0x05, 0x04}}, {{1, {}}}, 0, ""},
      {n + "WriteAnyNonZeroByteIsSet",
       flags(f.write, {8, 1, 2}, {0x02, 0x80, 0x00}),
       {write, {0x83, 0x81}},
       {{1, {}}},
       0,
       ""},
      {n + "WriteAllChannels",
       flags(f.write, {8, 7, 6, 5, 4, 3, 2, 1}, {1, 0, 1, 0, 1, 0, 1, 0}),
       {write, {0xFF, 0xAA}},
       {{1, {}}},
       0,
       ""},
      {n + "WriteRefused", flags(f.write, {1}, {1}), {write, {0x01, 0x01}}, {{refused, {}}}, 9, ""},
      {n + "WriteRefusalWithPayload", flags(f.write, {1}, {1}), {write, {0x01, 0x01}}, {{refused, {0}}}, 2, ""},
      {n + "WriteTwinRefusal", flags(f.write, {1}, {1}), {write, {0x01, 0x01}}, {{twin_refused, {}}}, 2, ""},
      {n + "WriteAckWithPayload", flags(f.write, {1}, {0}), {write, {0x01, 0x00}}, {{1, {0}}}, 2, ""},
      {n + "WriteOtherCode", flags(f.write, {1}, {0}), {write, {0x01, 0x00}}, {{2, {}}}, 2, ""},
      {n + "WriteSilent", flags(f.write, {1}, {0}), {write, {0x01, 0x00}}, std::nullopt, 6, ""},
      {n + "ReadBothSet", read(f.read, {2, 7}, 2), {read_command, {0x42}}, {{levels, {0x42}}}, 0, "2: 1 1"},
      {n + "ReadOneSet", read(f.read, {2, 7}, 2), {read_command, {0x42}}, {{levels, {0x02}}}, 0, "2: 1 0"},
      {n + "ReadInCallerOrder", read(f.read, {7, 2}, 2), {read_command, {0x42}}, {{levels, {0x02}}}, 0, "2: 0 1"},
      {n + "ReadIgnoresOtherBits", read(f.read, {1}, 3), {read_command, {0x01}}, {{levels, {0xFE}}}, 0, "1: 0 165 165"},
      {n + "ReadTwoBytes", read(f.read, {2, 7}, 2), {read_command, {0x42}}, {{levels, {0x42, 0}}}, 2, "2: 165 165"},
      {n + "ReadNoByte", read(f.read, {2}, 2), {read_command, {0x02}}, {{levels, {}}}, 2, "2: 165 165"},
      {n + "ReadRefused", read(f.read, {2}, 2), {read_command, {0x02}}, {{refused, {}}}, 9, "2: 165 165"},
      {n + "ReadRefusalWithPayload",
       read(f.read, {2}, 2),
       {read_command, {0x02}},
       {{refused, {0x02}}},
       2,
       "2: 165 165"},
      {n + "ReadTwinLevels", read(f.read, {2}, 2), {read_command, {0x02}}, {{twin_levels, {0x02}}}, 2, "2: 165 165"},
      {n + "ReadAck", read(f.read, {2}, 2), {read_command, {0x02}}, {{1, {}}}, 2, "2: 165 165"},
      {n + "ReadSilent", read(f.read, {2}, 2), {read_command, {0x02}}, std::nullopt, 6, "2: 165 165"},
  };
}

std::vector<RefusalCase> refusals(const Family& f) {
  const std::string n = f.name;
  const Channels nine{1, 2, 3, 4, 5, 6, 7, 8, 9};
  return {
      {n + "DirectionCountsDiffer", flags(f.set_direction, {1, 2}, {1, 0, 1}), false, ""},
      {n + "WriteCountsDiffer", flags(f.write, {1, 2}, {1}), false, ""},
      {n + "WriteNineChannels", flags(f.write, nine, nine), false, ""},
      {n + "WriteDuplicate", flags(f.write, {4, 4}, {1, 1}), false, ""},
      {n + "DirectionDuplicate", flags(f.set_direction, {4, 2, 4}, {1, 1, 0}), false, ""},
      {n + "ReadCapacityTooSmall", read(f.read, {1, 2}, 1), false, "1: 165"},
      {n + "ReadNineChannels", read(f.read, nine, 9), false, "9: 165 165 165 165 165 165 165 165 165"},
      {n + "ReadDuplicate", read(f.read, {4, 4}, 2), false, "2: 165 165"},
      {n + "WriteNoChannel", flags(f.write, {}, {}), true, ""},
      {n + "DirectionNoChannel", flags(f.set_direction, {}, {}), true, ""},
      {n + "ReadNoChannel", read(f.read, {}, 2), true, "2: 165 165"},
      {n + "WriteChannel0", flags(f.write, {1, 0}, {1, 1}), true, ""},
      {n + "DirectionChannel9", flags(f.set_direction, {9}, {1}), true, ""},
      {n + "ReadChannel9", read(f.read, {9, 1}, 2), true, "2: 165 165"},
      {n + "Unspecified", [f](std::uint32_t, std::string&) { return f.write(0, nullptr, 0, nullptr, 0); }, false, ""},
  };
}

template <class Case>
std::vector<Case> both(std::vector<Case> (*make)(const Family&)) {
  std::vector<Case> cases = make(kl01);
  for (Case& c : make(kl02)) cases.push_back(std::move(c));
  return cases;
}

INSTANTIATE_TEST_SUITE_P(DigitalIO, ModuleExchange, testing::ValuesIn(both(exchanges)), CaseName{});
INSTANTIATE_TEST_SUITE_P(DigitalIO, ModuleRefusal, testing::ValuesIn(both(refusals)), CaseName{});

}  // namespace
}  // namespace varnode::test
