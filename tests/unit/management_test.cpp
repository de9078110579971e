#include <gtest/gtest.h>

#include "device/configuration.hpp"
#include "support/fake_module.hpp"
#include "support/registry.hpp"
#include "varnode/varnode.h"

namespace varnode {
namespace {

using test::FakeModule;
using test::Request;
using test::is_registered;

TEST(Timeout, DefaultsSetsAndIsPerAddress) {
  const std::uint32_t a = test::unique_loopback().host_value();
  const std::uint32_t b = test::unique_loopback().host_value();
  std::uint16_t value = 7;
  EXPECT_EQ(get_timeout(a, &value), 0);
  EXPECT_EQ(value, 1000);
  EXPECT_EQ(set_timeout(a, 250), 0);
  EXPECT_EQ(get_timeout(a, &value), 0);
  EXPECT_EQ(value, 250);
  EXPECT_EQ(get_timeout(b, &value), 0);
  EXPECT_EQ(value, 1000);
  EXPECT_EQ(set_timeout(a, 0), 3);
  EXPECT_EQ(get_timeout(a, &value), 0);
  EXPECT_EQ(value, 250);
  EXPECT_EQ(set_timeout(a, 65535), 0);
}

TEST(Timeout, RefusedSetStillRegistersTheAddress) {
  const IP::Address fresh = test::unique_loopback();
  EXPECT_FALSE(is_registered(fresh));
  EXPECT_EQ(set_timeout(fresh.host_value(), 0), 3);
  EXPECT_TRUE(is_registered(fresh));
}

TEST(Device, RefusesUnspecifiedAndBroadcastEverywhere) {
  std::uint16_t value = 7;
  const std::uint8_t data[1] = {0};
  for (const std::uint32_t address : {0u, 0xFFFFFFFFu}) {
    EXPECT_EQ(get_timeout(address, &value), 3);
    EXPECT_EQ(set_timeout(address, 10), 3);
    EXPECT_EQ(reset(address), 3);
    EXPECT_EQ(burn(address, data, 1), 3);
    EXPECT_FALSE(is_registered(IP::Address(address)));
  }
  EXPECT_EQ(value, 7);
}

struct AckCase {
  std::uint16_t code;
  Bytes payload;
  std::uint8_t result;
};

class Acknowledged : public testing::TestWithParam<AckCase> {};

TEST_P(Acknowledged, ResetAndBurnAcceptOnlyAnEmptyCodeOne) {
  const AckCase c = GetParam();
  FakeModule module([&](const Request& r) { return std::vector{test::answer(r, c.code, c.payload)}; });
  ASSERT_EQ(set_timeout(module.host(), 300), 0);
  EXPECT_EQ(reset(module.host()), c.result);
  const std::uint8_t data[3] = {9, 8, 7};
  EXPECT_EQ(burn(module.host(), data, 3), c.result);
  const auto requests = module.requests();
  ASSERT_EQ(requests.size(), 2u);
  EXPECT_EQ(requests[0].raw, DCP::encode(3, requests[0].transaction_id, {}));
  EXPECT_EQ(requests[1].raw, DCP::encode(10, requests[1].transaction_id, Bytes{9, 8, 7}));
}

INSTANTIATE_TEST_SUITE_P(Replies, Acknowledged,
                         testing::Values(AckCase{1, {}, 0}, AckCase{1, {0}, 2}, AckCase{2, {}, 2},
                                         AckCase{0x0303, {}, 2}));

TEST(Reset, SilentModuleTimesOut) {
  FakeModule silent;
  ASSERT_EQ(set_timeout(silent.host(), 40), 0);
  EXPECT_EQ(reset(silent.host()), 6);
  EXPECT_EQ(silent.requests().size(), 1u);
}

TEST(Burn, SizeLimitIsCheckedBeforeSending) {
  FakeModule module([](const Request& r) { return std::vector{test::acknowledge(r)}; });
  std::uint8_t data[65] = {};
  EXPECT_EQ(burn(module.host(), data, 65), 3);
  EXPECT_EQ(burn(module.host(), data, 64), 0);
  EXPECT_EQ(burn(module.host(), nullptr, 0), 0);
  const auto requests = module.requests();
  ASSERT_EQ(requests.size(), 2u);
  EXPECT_EQ(requests[0].payload.size(), 64u);
  EXPECT_TRUE(requests[1].payload.empty());
}

TEST(Configure, PayloadLayout) {
  const Device::NetworkConfiguration configuration(Bytes{'a', 'b'}, 1, IP::Address(0xC0A8010A),
                                                   IP::Address(0xFFFFFF00), IP::Address(0x0A000001));
  EXPECT_EQ(configuration.payload(0x01020304),
            (Bytes{0x01, 0x02, 0x03, 0x04,                      // serial number
                   0x01, 0x01, 0x01,                            // flag
                   0x02, 0x04, 0xC0, 0xA8, 0x01, 0x0A,          // first address
                   0x03, 0x04, 0xFF, 0xFF, 0xFF, 0x00,          // second address
                   0x04, 0x04, 0x0A, 0x00, 0x00, 0x01,          // third address
                   0x05, 0x02, 'a', 'b'}));
  const Device::NetworkConfiguration empty(Bytes{}, 0, IP::Address(), IP::Address(), IP::Address());
  const Bytes payload = empty.payload(0);
  EXPECT_EQ(payload.size(), 27u);
  EXPECT_EQ(payload[6], 0x00);
  EXPECT_EQ(payload[26], 0x00);
}

TEST(Configure, RulesAreCheckedBeforeAnythingIsSent) {
  EXPECT_THROW(Device::NetworkConfiguration(Bytes(65, 'x'), 0, {}, {}, {}), Device::Exception::Parameter);
  EXPECT_THROW(Device::NetworkConfiguration(Bytes{}, 2, {}, {}, {}), Device::Exception::Parameter);
  EXPECT_NO_THROW(Device::NetworkConfiguration(Bytes(64, 'x'), 1, {}, {}, {}));
  const char text[65] = {};
  EXPECT_EQ(configure(1, text, 65, 0, 0, 0, 0), 3);
  EXPECT_EQ(configure(1, text, 0, 2, 0, 0, 0), 3);
}

}  // namespace
}  // namespace varnode
