#include <gtest/gtest.h>

#include "net/ip.hpp"

namespace varnode {
namespace {

TEST(Address, HostValueRoundTripsInNetworkOrder) {
  const IP::Address address(0xC0A8010A);
  EXPECT_EQ(address, IP::Address(0xC0A8010A));
  EXPECT_EQ(address.host_value(), 0xC0A8010Au);
  EXPECT_EQ(address.bytes()[0], 192);
  EXPECT_EQ(address.bytes()[3], 10);
  EXPECT_EQ(IP::Address(), IP::unspecified_address);
  EXPECT_LT(IP::Address(0x0A000005), IP::Address(0xC0A80102));
}

TEST(Address, Loopback) {
  EXPECT_TRUE(IP::Address(0x7F000001).is_loopback());
  EXPECT_TRUE(IP::Address(0x7FFF0009).is_loopback());
  EXPECT_FALSE(IP::Address(0x80000001).is_loopback());
}

TEST(Address, LimitedBroadcastNeedsNoInterface) { EXPECT_TRUE(IP::broadcast_address.is_broadcast()); }

struct DirectedCase {
  std::uint32_t candidate;
  std::uint32_t interface_address;
  std::uint32_t netmask;
  bool broadcast;
};

class Directed : public testing::TestWithParam<DirectedCase> {};

TEST_P(Directed, MatchesTheSubnetsBroadcastAddress) {
  const DirectedCase& c = GetParam();
  const IP::Interface interface{IP::Address(c.interface_address), IP::Address(c.netmask), IP::Address()};
  EXPECT_EQ(IP::is_directed_broadcast(IP::Address(c.candidate), interface), c.broadcast);
}

INSTANTIATE_TEST_SUITE_P(Subnets, Directed,
                         testing::Values(DirectedCase{0xC0A805FF, 0xC0A80514, 0xFFFFFF00, true},
                                         DirectedCase{0xC0A805FE, 0xC0A80514, 0xFFFFFF00, false},
                                         DirectedCase{0xC0A806FF, 0xC0A80514, 0xFFFFFF00, false},
                                         DirectedCase{0xC0A80514, 0xC0A80514, 0xFFFFFFFF, true},
                                         DirectedCase{0xC0A805FF, 0xC0A80514, 0x00000000, false}));

TEST(Interfaces, LoopbackIsListedAndLookedUp) {
  const auto table = IP::interfaces();
  bool loopback = false;
  for (const auto& [name, interface] : table) {
    if (interface.address == IP::Address(0x7F000001)) {
      loopback = true;
      EXPECT_EQ(IP::interface_address(name), interface.address);
    }
  }
  EXPECT_TRUE(loopback);
  EXPECT_THROW(IP::interface_address("no-such-interface-here"), IP::Exception::Network);
}

}  // namespace
}  // namespace varnode
