#include <gtest/gtest.h>

#include <array>
#include <string>

#include "device/info.hpp"
#include "support/fake_module.hpp"
#include "support/query_outputs.hpp"
#include "support/payloads.hpp"
#include "varnode/varnode.h"

namespace varnode {
namespace {

using test::element;
using test::join;
using test::u32;

std::string text(const Bytes& bytes) { return std::string(bytes.begin(), bytes.end()); }

const Bytes mandatory = join({element(1, "a"), element(2, "b"), element(3, "c"), element(4, u32(7))});

// Every tag of the extended layout, with tags that must be skipped among them.
const Bytes extended = join({element(0, "skip"), element(1, "KL01"), element(2, "Tervane"), element(3, "2.1"),
                             element(4, u32(0x00ABCDEF)), element(5, "five"), element(6, "ATmega1284"),
                             element(7, "seven"), element(8, u32(8)), element(9, u32(9)), element(10, "ten"),
                             element(11, u32(730485)), element(12, u32(739110)), element(13, u32(0xFFFFFFFF)),
                             element(14, u32(14)), element(15, u32(15)), element(16, u32(16)),
                             element(17, Bytes{0x00, 0x1A, 0x2B, 0x3C, 0x4D, 0x5E}), element(18, u32(0xC0A8010A)),
                             element(19, u32(0xFFFFFF00)), element(20, u32(0xC0A80101)), element(21, "twenty-one"),
                             element(22, "twenty-two"), element(23, Bytes{1}), element(24, "twenty-four"),
                             element(25, "twenty-five"), element(30, "skip")});

TEST(Identity, HighestTag21SelectsTheLegacyNumbering) {
  const Device::Info info(join({mandatory, element(16, Bytes{1, 2, 3, 4, 5, 6}), element(17, u32(0x0A000005)),
                                element(18, u32(0xFFFF0000)), element(19, u32(0x0A000001)), element(20, "t21"),
                                element(21, "t22")}));
  EXPECT_EQ(info.mac_address, (std::array<std::uint8_t, 6>{1, 2, 3, 4, 5, 6}));
  EXPECT_EQ(info.ip_address, IP::Address(0x0A000005));
  EXPECT_EQ(info.address_19, IP::Address(0xFFFF0000));
  EXPECT_EQ(info.address_20, IP::Address(0x0A000001));
  EXPECT_EQ(text(info.text_21), "t21");
  EXPECT_EQ(text(info.text_22), "t22");
  EXPECT_EQ(info.number_16, 0u);
  EXPECT_EQ(info.flag_23, 0);
}

TEST(Identity, AnyTagAbove21KeepsTheExtendedNumbering) {
  const Device::Info info(join({mandatory, element(21, "t21"), element(22, "t22"), element(17, Bytes(6, 9))}));
  EXPECT_EQ(text(info.text_21), "t21");
  EXPECT_EQ(text(info.text_22), "t22");
  EXPECT_EQ(info.mac_address[0], 9);
  // So does an unknown tag above 21.
  const Device::Info with_unknown(join({mandatory, element(30, ""), element(21, "t21")}));
  EXPECT_EQ(text(with_unknown.text_21), "t21");
}

TEST(Identity, FlagRepeatsAndMissingDates) {
  const Device::Info info(join({mandatory, element(23, Bytes{}), element(1, "again"), element(4, u32(9))}));
  EXPECT_EQ(info.flag_23, 0);
  EXPECT_EQ(text(info.text_1), "again");
  EXPECT_EQ(info.serial_number, 9u);
  EXPECT_EQ(info.date_11.days(), 0u);
  EXPECT_EQ(Device::Info(join({mandatory, element(23, Bytes{0x80, 1})})).flag_23, 0x80);
}

struct Refused {
  const char* name;
  Bytes payload;
};

class IdentityRefused : public testing::TestWithParam<Refused> {};

TEST_P(IdentityRefused, DoesNotDecode) { EXPECT_THROW(Device::Info{GetParam().payload}, DCP::Exception::Parameter); }

INSTANTIATE_TEST_SUITE_P(
    Payloads, IdentityRefused,
    testing::Values(
        Refused{"Empty", {}},
        Refused{"SerialZero", join({element(1, "a"), element(2, "b"), element(3, "c"), element(4, u32(0))})},
        Refused{"NoSerial", join({element(1, "a"), element(2, "b"), element(3, "c")})},
        Refused{"EmptyText1", join({element(1, ""), element(2, "b"), element(3, "c"), element(4, u32(7))})},
        Refused{"EmptyText2", join({element(1, "a"), element(2, ""), element(3, "c"), element(4, u32(7))})},
        Refused{"NoText3", join({element(1, "a"), element(2, "b"), element(4, u32(7))})},
        Refused{"ShortSerial", join({element(1, "a"), element(2, "b"), element(3, "c"), element(4, Bytes{0, 0, 7})})},
        Refused{"LongAddress", join({mandatory, element(18, Bytes{1, 2, 3, 4, 5})})},
        Refused{"ShortDate", join({mandatory, element(12, Bytes{1, 2})})},
        Refused{"ShortMac", join({mandatory, element(17, Bytes{1, 2, 3, 4})})},
        // Legacy numbering without tag 21 is read as extended: tag 16 is then
        // a 4-byte number.
        Refused{"LegacyWithoutTag21", join({mandatory, element(16, Bytes{1, 2, 3, 4, 5, 6})})},
        Refused{"CutInsideUnknownTag", join({mandatory, Bytes{30, 5, 1, 2}})},
        Refused{"OneTrailingByte", join({mandatory, Bytes{0}})}),
    [](const testing::TestParamInfo<Refused>& c) { return std::string(c.param.name); });

// All outputs of get_info, filled with a marker so that untouched ones show.
struct InfoOutputs {
  // In parameter order: texts 1, 2, 3, 5, 6, 7, 10, 21, 22, 24, 25.
  std::array<std::array<char, 16>, 11> texts;
  std::array<std::uint32_t, 11> sizes;
  // serial, 8, 9, dates 11, 12, 13, numbers 14, 15, 16, addresses ip, 19, 20.
  std::array<std::uint32_t, 12> numbers;
  std::array<std::uint8_t, 6> mac;
  std::uint8_t flag = 0xEE;

  InfoOutputs() {
    for (auto& t : texts) t.fill('#');
    sizes.fill(16);
    numbers.fill(0xEEEEEEEE);
    mac.fill(0xEE);
  }
  bool operator==(const InfoOutputs&) const = default;

  std::uint8_t call(std::uint32_t address) {
    auto& n = numbers;
    return get_info(address, texts[0].data(), &sizes[0], texts[1].data(), &sizes[1], texts[2].data(), &sizes[2],
                    &n[0], texts[3].data(), &sizes[3], texts[4].data(), &sizes[4], &n[1], &n[2], texts[5].data(),
                    &sizes[5], texts[6].data(), &sizes[6], &n[3], &n[4], &n[5], &n[6], &n[7], &n[8], mac.data(), &n[9],
                    &n[10], &n[11], &flag, texts[7].data(), &sizes[7], texts[8].data(), &sizes[8], texts[9].data(),
                    &sizes[9], texts[10].data(), &sizes[10]);
  }
  std::string text(std::size_t i) const { return std::string(texts[i].data(), sizes[i]); }
};

TEST(GetInfo, ExtendedLayoutReachesEveryOutputWithTextsCutToCapacity) {
  test::FakeModule module(test::replying(6, extended));
  InfoOutputs out;
  out.sizes[0] = 0;  // text_1: nothing
  out.sizes[4] = 6;  // text_6: "ATmega"
  ASSERT_EQ(out.call(module.host()), 0);
  const auto requests = module.requests();
  ASSERT_EQ(requests.size(), 1u);
  EXPECT_EQ(requests[0].raw, DCP::encode(5, requests[0].transaction_id, {}));

  EXPECT_EQ(out.sizes[0], 0u);
  EXPECT_EQ(out.texts[0][0], '#');
  EXPECT_EQ(out.text(1), "Tervane");
  EXPECT_EQ(out.texts[1][7], '#');  // not terminated
  EXPECT_EQ(out.text(2), "2.1");
  EXPECT_EQ(out.text(3), "five");
  EXPECT_EQ(out.text(4), "ATmega");
  EXPECT_EQ(out.text(5), "seven");
  EXPECT_EQ(out.text(6), "ten");
  EXPECT_EQ(out.text(7), "twenty-one");
  EXPECT_EQ(out.text(8), "twenty-two");
  EXPECT_EQ(out.text(9), "twenty-four");
  EXPECT_EQ(out.text(10), "twenty-five");
  EXPECT_EQ(out.numbers, (std::array<std::uint32_t, 12>{0x00ABCDEF, 8, 9, 730485, 739110, Date::last_day, 14, 15, 16,
                                                          0xC0A8010A, 0xFFFFFF00, 0xC0A80101}));
  EXPECT_EQ(out.mac, (std::array<std::uint8_t, 6>{0x00, 0x1A, 0x2B, 0x3C, 0x4D, 0x5E}));
  EXPECT_EQ(out.flag, 1);
}

// Eleven texts of the longest length, near 3 kB: more than one Ethernet frame.
TEST(GetInfo, LongestTextsAreReadWhole) {
  const std::string longest(255, 'x');
  Bytes payload = join({element(1, longest), element(2, longest), element(3, longest), element(4, u32(7))});
  for (const std::uint8_t tag : {5, 6, 7, 10, 21, 22, 24, 25}) payload = join({payload, element(tag, longest)});
  test::FakeModule module(test::replying(6, payload));
  InfoOutputs out;
  ASSERT_EQ(out.call(module.host()), 0);
  for (std::size_t i = 0; i < out.texts.size(); ++i) EXPECT_EQ(out.text(i), longest.substr(0, 16)) << i;
}

class GetInfoFails : public testing::TestWithParam<test::Refusal> {};

TEST_P(GetInfoFails, WritesNothing) { test::expect_refused_writing_nothing<InfoOutputs>(GetParam()); }

INSTANTIATE_TEST_SUITE_P(Replies, GetInfoFails,
                         testing::Values(test::Refusal{"OtherCode", test::replying(8, extended), 2},
                                         test::Refusal{"Undecodable", test::replying(6, join({extended, Bytes{1}})), 2},
                                         test::Refusal{"MandatoryMissing", test::replying(6, element(1, "a")), 2},
                                         test::Refusal{"Silent", {}, 6}),
                         test::refusal_name);

TEST(GetInfo, UnusableAddressesAreRefused) { test::expect_unusable_addresses_refused<InfoOutputs>(); }

}  // namespace
}  // namespace varnode
