#include <gtest/gtest.h>

#include "net/clock.hpp"
#include "net/udp.hpp"
#include "support/fake_module.hpp"

namespace varnode {
namespace {

TEST(Socket, ReceiveTimesOutWhenNothingIsQueued) {
  UDP::Socket socket(IP::Address(0x7F000001), 0);
  std::uint8_t data[16];
  EXPECT_FALSE(socket.receive(1, data, sizeof data).has_value());
}

TEST(Socket, DatagramLongerThanAFrameIsReadWholeAndSourcePortIsHostOrder) {
  const IP::Address here = test::unique_loopback();
  UDP::Socket receiver(here, 0);
  UDP::Socket sender(here, 30000);
  const Bytes big(2000, 0x5A);
  sender.send(here, receiver.local_port(), big.data(), big.size());
  std::uint16_t port = 0;
  Bytes data{1, 2, 3};
  const Bytes expected = big;
  const auto source = test::receive_datagram(receiver, 1000, port, data);
  EXPECT_EQ(source, here);
  EXPECT_EQ(port, 30000);
  EXPECT_EQ(data, expected);
}

TEST(Socket, BindingToAForeignAddressFails) {
  // 203.0.113.0/24 is reserved for documentation; no machine has it.
  EXPECT_THROW(UDP::Socket(IP::Address(0xCB007101), 0), UDP::Exception::Network);
}

TEST(Clock, IsMonotonicMilliseconds) {
  const std::uint64_t start = current_milliseconds();
  pause_millisecond();
  const std::uint64_t end = current_milliseconds();
  EXPECT_GE(end, start + 1);
}

}  // namespace
}  // namespace varnode
