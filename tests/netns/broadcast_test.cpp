#include <gtest/gtest.h>

#include <memory>

#include "dcp/broadcast.hpp"
#include "net/clock.hpp"
#include "support/fake_module.hpp"
#include "support/netns.hpp"
#include "varnode/varnode.h"

namespace varnode {
namespace {

// Waits up to `limit_ms` for one datagram on a socket bound to 0.0.0.0:30000.
std::optional<Bytes> next_datagram(UDP::Socket& socket, unsigned limit_ms) {
  const std::uint64_t deadline = current_milliseconds() + limit_ms;
  Bytes data;
  while (current_milliseconds() < deadline) {
    std::uint16_t port = 0;
    if (test::receive_datagram(socket, 20, port, data)) return data;
  }
  return std::nullopt;
}

TEST(InterfaceSockets, LoopbackOnlyGivesOneSocketOn127001) {
  const DCP::InterfaceSockets sockets;
  ASSERT_EQ(sockets.sockets().size(), 1u);
  // A broadcast out of loopback may fail; it must not be reported.
  EXPECT_NO_THROW(DCP::broadcast(sockets, 5, 1, {}));
}

TEST(Configure, IsBroadcastOnEveryInterface) {
  test::Peer first("198.18.1.1/24", "198.18.1.2/24");
  test::Peer second("198.18.2.1/24", "198.18.2.2/24");
  std::unique_ptr<UDP::Socket> listeners[2];
  first.inside([&] { listeners[0] = std::make_unique<UDP::Socket>(IP::unspecified_address, DCP::port); });
  second.inside([&] { listeners[1] = std::make_unique<UDP::Socket>(IP::unspecified_address, DCP::port); });

  EXPECT_EQ(configure(0x00ABCDEF, "name", 4, 1, 0xC0A8010A, 0xFFFFFF00, 0xC0A80101), 0);
  for (auto& listener : listeners) {
    const auto datagram = next_datagram(*listener, 5000);
    ASSERT_TRUE(datagram.has_value());
    const DCP::Message message = DCP::decode(*datagram);
    EXPECT_EQ(message.code, 9);
    EXPECT_EQ(Bytes(message.payload.begin(), message.payload.end()),
              (Bytes{0x00, 0xAB, 0xCD, 0xEF, 1, 1, 1, 2, 4, 0xC0, 0xA8, 1, 10, 3, 4, 0xFF, 0xFF, 0xFF, 0,
                     4, 4, 0xC0, 0xA8, 1, 1, 5, 4, 'n', 'a', 'm', 'e'}));
  }
  // Refused arguments send nothing.
  EXPECT_EQ(configure(1, "x", 65, 0, 0, 0, 0), 3);
  EXPECT_FALSE(next_datagram(*listeners[0], 100).has_value());
}

// Everything queued is read in one step, but a run of datagrams that are
// dropped ends the step, so that a flood cannot hold find past its window.
TEST(Collect, DrainsWithoutPausingButNotPastSixtyFourDropped) {
  const DCP::InterfaceSockets sockets;
  const IP::Address loopback(0x7F000001);
  const std::uint16_t listening = sockets.sockets().front()->local_port();
  UDP::Socket module(loopback, DCP::port);
  const std::uint8_t garbage[3] = {1, 2, 3};
  for (int i = 0; i < 100; ++i) module.send(loopback, listening, garbage, sizeof garbage);
  const Bytes reply = DCP::encode(6, 42, {});
  module.send(loopback, listening, reply.data(), reply.size());

  Bytes buffer;
  EXPECT_FALSE(DCP::collect(sockets, buffer).has_value());
  const auto message = DCP::collect(sockets, buffer);
  ASSERT_TRUE(message.has_value());
  EXPECT_EQ(message->transaction_id, 42u);
}

}  // namespace
}  // namespace varnode
