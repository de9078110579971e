#include <gtest/gtest.h>

#include <atomic>
#include <thread>

#include "dcp/exchange.hpp"
#include "dcp/socket_pool.hpp"
#include "dcp/transaction_id.hpp"
#include "device/device.hpp"
#include "support/fake_module.hpp"

namespace varnode {
namespace {

using test::FakeModule;
using test::Reply;
using test::Request;

Device quick_device(const FakeModule& module, std::uint16_t timeout = 200) {
  Device device(module.address());
  device.set_timeout(timeout);
  return device;
}

TEST(Exchange, ReturnsTheMatchingReplyCodeAndPayload) {
  FakeModule module([](const Request& r) { return std::vector{test::answer(r, 0x0304, {0x42})}; });
  Bytes payload{0x82};
  EXPECT_EQ(quick_device(module).exchange(0x0301, payload), 0x0304);
  EXPECT_EQ(payload, Bytes{0x42});
  const auto requests = module.requests();
  ASSERT_EQ(requests.size(), 1u);
  EXPECT_EQ(requests[0].code, 0x0301);
  EXPECT_EQ(requests[0].payload, Bytes{0x82});
}

// Each script sends something that must be dropped, then the right answer.
class Dropped : public testing::TestWithParam<std::function<Reply(const Request&)>> {};

TEST_P(Dropped, ThenTheCorrectReplyStillCompletes) {
  const auto wrong = GetParam();
  FakeModule module([&](const Request& r) { return std::vector{wrong(r), test::answer(r, 1)}; });
  Bytes payload;
  EXPECT_EQ(quick_device(module).exchange(3, payload), 1);
  EXPECT_TRUE(payload.empty());
}

INSTANTIATE_TEST_SUITE_P(
    Strays, Dropped,
    testing::Values([](const Request& r) { return test::answer_with_id(r.transaction_id - 1, 2); },
                    [](const Request& r) {
                      Reply reply = test::answer(r, 2);
                      reply.from = Reply::From::other_port;
                      return reply;
                    },
                    [](const Request& r) {
                      Reply reply = test::answer(r, 2);
                      reply.from = Reply::From::other_address;
                      return reply;
                    },
                    [](const Request&) { return test::raw({0, 2, 0}); },
                    [](const Request& r) {
                      Bytes bad = DCP::encode(2, r.transaction_id, {});
                      bad[3] = 9;  // claims more payload than it has
                      return test::raw(bad);
                    }));

TEST(Exchange, TimeOutMeansWhatItSays) {
  FakeModule silent;
  const Device device = quick_device(silent, 50);
  Bytes payload;
  const std::uint64_t start = current_milliseconds();
  EXPECT_THROW(device.exchange(3, payload), Device::Exception::Timeout);
  const std::uint64_t elapsed = current_milliseconds() - start;
  EXPECT_GE(elapsed, 50u);
  // Generous for a loaded machine, but far from the default second.
  EXPECT_LT(elapsed, 900u);
}

TEST(Exchange, LateReplyNeverAnswersTheNextExchange) {
  std::atomic<int> calls{0};
  FakeModule module([&](const Request& r) {
    if (calls++ == 0) {
      Reply late = test::answer(r, 1);
      late.delay_ms = 120;
      return std::vector{late};
    }
    return std::vector{test::answer(r, 1, {0x77})};
  });
  const Device device = quick_device(module, 30);
  Bytes first;
  EXPECT_THROW(device.exchange(3, first), Device::Exception::Timeout);
  // The late acknowledgement arrives on the same pooled socket meanwhile.
  device.set_timeout(1000);
  Bytes second;
  EXPECT_EQ(device.exchange(3, second), 1);
  EXPECT_EQ(second, Bytes{0x77});
}

// A module still streaming to a pooled socket sends strays as fast as they
// can be read; they must not carry an exchange past its deadline. Everything
// is queued before each read, so only the deadline decides.
TEST(Transaction, StraysDoNotStretchAPassedDeadline) {
  const IP::Address address = test::unique_loopback();
  UDP::Socket peer(address, DCP::port);
  DCP::Transaction transaction(address);
  transaction.send(3, {});
  std::uint16_t port = 0;
  Bytes request;
  const IP::Address source = test::receive_datagram(peer, 5000, port, request).value();
  const auto reply = [&](std::uint32_t id, std::uint8_t mark) {
    const Bytes datagram = DCP::encode(1, id, Bytes{mark});
    peer.send(source, port, datagram.data(), datagram.size());
  };
  // Loopback delivers in order: once the peer's note to itself is back,
  // everything sent before it is queued.
  const auto settle = [&] {
    const std::uint8_t note = 0;
    peer.send(address, DCP::port, &note, 1);
    std::uint16_t ignored = 0;
    Bytes back;
    ASSERT_TRUE(test::receive_datagram(peer, 5000, ignored, back));
  };

  // A deadline already reached still takes what is queued...
  reply(transaction.id(), 1);
  settle();
  auto message = transaction.next_reply(current_milliseconds());
  ASSERT_TRUE(message.has_value());
  EXPECT_EQ(Bytes(message->payload.begin(), message->payload.end()), Bytes{1});
  // ...but not past a stray.
  for (int i = 0; i < 20; ++i) reply(transaction.id() - 1, 2);
  reply(transaction.id(), 3);
  settle();
  ASSERT_FALSE(transaction.next_reply(current_milliseconds()).has_value());
  // The reply behind the strays waits for a call with time left.
  message = transaction.next_reply(current_milliseconds() + 5000);
  ASSERT_TRUE(message.has_value());
  EXPECT_EQ(Bytes(message->payload.begin(), message->payload.end()), Bytes{3});
}

TEST(Exchange, TransactionIdsCountUpByOne) {
  FakeModule module([](const Request& r) { return std::vector{test::acknowledge(r)}; });
  const Device device = quick_device(module);
  Bytes a, b;
  device.exchange(3, a);
  device.exchange(3, b);
  const auto requests = module.requests();
  ASSERT_EQ(requests.size(), 2u);
  EXPECT_EQ(requests[1].transaction_id, requests[0].transaction_id + 1);
}

TEST(TransactionCounter, WrapsAfterTheLargestValue) {
  DCP::TransactionCounter counter(0xFFFFFFFF);
  EXPECT_EQ(counter.next(), 0xFFFFFFFFu);
  EXPECT_EQ(counter.next(), 0u);
  EXPECT_EQ(counter.next(), 1u);
}

TEST(SocketPool, GrowsToThePeakAndReuses) {
  DCP::SocketPool pool;
  {
    const auto a = pool.lease();
    const auto b = pool.lease();
    EXPECT_NE(a.index(), b.index());
  }
  EXPECT_EQ(pool.size(), 2u);
  EXPECT_EQ(pool.idle(), 2u);
  const auto c = pool.lease();
  EXPECT_EQ(c.index(), 0u);
  EXPECT_EQ(pool.size(), 2u);
}

TEST(Exchange, ManyThreadsToManyDevices) {
  constexpr int threads = 16;
  constexpr int rounds = 20;
  std::vector<std::unique_ptr<FakeModule>> modules;
  for (int i = 0; i < 4; ++i)
    modules.push_back(std::make_unique<FakeModule>([](const Request& r) {
      // Echo the request payload so each thread can check it got its own answer.
      return std::vector{test::answer(r, 0x0102, r.payload)};
    }));
  for (auto& module : modules) quick_device(*module, 5000);
  const std::size_t before = DCP::socket_pool().size();
  std::atomic<int> wrong{0};
  std::vector<std::thread> workers;
  for (int t = 0; t < threads; ++t) {
    workers.emplace_back([&, t] {
      const Device device(modules[t % modules.size()]->address());
      for (int round = 0; round < rounds; ++round) {
        Bytes payload{static_cast<std::uint8_t>(t), static_cast<std::uint8_t>(round)};
        const Bytes sent = payload;
        if (device.exchange(0x0101, payload) != 0x0102 || payload != sent) ++wrong;
      }
    });
  }
  for (auto& worker : workers) worker.join();
  EXPECT_EQ(wrong, 0);
  EXPECT_LE(DCP::socket_pool().size(), before + threads);
  EXPECT_EQ(DCP::socket_pool().idle(), DCP::socket_pool().size());
  // Once grown, the pool serves sequential exchanges without new sockets.
  const std::size_t grown = DCP::socket_pool().size();
  Bytes payload{1};
  Device(modules[0]->address()).exchange(0x0101, payload);
  EXPECT_EQ(DCP::socket_pool().size(), grown);
}

TEST(Receive, APassedDeadlineMakesOneShortAttempt) {
  UDP::Socket socket(IP::Address(0x7F000001), 0);
  Bytes buffer(UDP::largest_datagram);
  EXPECT_FALSE(DCP::receive_until(socket, current_milliseconds(), buffer).has_value());
}

}  // namespace
}  // namespace varnode
