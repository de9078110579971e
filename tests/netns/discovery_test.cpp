#include <gtest/gtest.h>

#include <array>
#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <memory>
#include <set>
#include <string>
#include <thread>

#include "device/device.hpp"
#include "net/clock.hpp"
#include "support/fake_module.hpp"
#include "support/netns.hpp"
#include "support/payloads.hpp"
#include "support/registry.hpp"
#include "varnode/varnode.h"

namespace varnode {
namespace {

using test::FakeModule;
using test::Reply;
using test::Request;
using test::is_registered;

constexpr std::uint32_t ip(std::uint32_t a, std::uint32_t b, std::uint32_t c, std::uint32_t d) {
  return (a << 24) | (b << 16) | (c << 8) | d;
}

test::Script identity_replies(std::function<std::vector<Reply>(const Request&)> replies) {
  return [replies](const Request& r) { return r.code == 5 ? replies(r) : std::vector<Reply>{}; };
}

Reply identity(const Request& r, std::uint32_t serial, std::uint32_t address) {
  return test::answer(r, 6, test::identity(serial, address));
}

// Two links to two further namespaces, so that this one has two interfaces
// besides loopback. Modules on the far side listen on 0.0.0.0, the only way
// to hear 255.255.255.255.
class Discovery : public testing::Test {
 protected:
  static void SetUpTestSuite() {
    links[0] = std::make_unique<test::Peer>("198.18.11.1/24", "198.18.11.2/24");
    links[1] = std::make_unique<test::Peer>("198.18.12.1/24", "198.18.12.2/24");
  }
  static void TearDownTestSuite() {
    for (auto& link : links) link.reset();
  }

  static std::unique_ptr<FakeModule> module_behind(std::size_t link, test::Script script) {
    const IP::Address own(link == 0 ? ip(198, 18, 11, 2) : ip(198, 18, 12, 2));
    std::unique_ptr<FakeModule> module;
    links[link]->inside([&] { module = std::make_unique<FakeModule>(script, own, IP::unspecified_address); });
    return module;
  }

  static inline std::array<std::unique_ptr<test::Peer>, 2> links;
};

TEST_F(Discovery, AllModeListsEveryModuleOnceInAddressOrder) {
  const auto first = module_behind(0, identity_replies([](const Request& r) {
    return std::vector{
        identity(r, 1, ip(198, 18, 11, 9)), identity(r, 5, ip(198, 18, 200, 1)), identity(r, 2, ip(198, 18, 11, 3)),
        // Dropped: another transaction, another code, an identity that does
        // not decode, and addresses no module can have.
        test::answer_with_id(r.transaction_id + 1, 6, test::identity(10, ip(198, 18, 11, 50))),
        test::answer(r, 8, test::identity(11, ip(198, 18, 11, 51))),
        test::answer(r, 6, test::join({test::element(1, "a"), test::element(2, "b"), test::element(4, test::u32(12)),
                                       test::element(18, test::u32(ip(198, 18, 11, 52)))})),
        identity(r, 13, 0), identity(r, 14, 0xFFFFFFFF)};
  }));
  // The module at 198.18.200.1 answers on both links.
  const auto second = module_behind(1, identity_replies([](const Request& r) {
    return std::vector{identity(r, 5, ip(198, 18, 200, 1)), identity(r, 3, ip(198, 18, 12, 4))};
  }));

  std::array<std::uint32_t, 8> addresses{};
  std::uint32_t size = addresses.size();
  ASSERT_EQ(find(addresses.data(), &size, nullptr, 0), 0);
  ASSERT_EQ(size, 4u);
  EXPECT_EQ(addresses[0], ip(198, 18, 11, 3));
  EXPECT_EQ(addresses[1], ip(198, 18, 11, 9));
  EXPECT_EQ(addresses[2], ip(198, 18, 12, 4));
  EXPECT_EQ(addresses[3], ip(198, 18, 200, 1));
  EXPECT_TRUE(is_registered(IP::Address(ip(198, 18, 11, 9))));
  for (const std::uint32_t dropped : {ip(198, 18, 11, 50), ip(198, 18, 11, 51), ip(198, 18, 11, 52)})
    EXPECT_FALSE(is_registered(IP::Address(dropped)));

  // One request per link, both of one transaction.
  const auto heard_first = first->requests();
  const auto heard_second = second->requests();
  ASSERT_EQ(heard_first.size(), 1u);
  ASSERT_EQ(heard_second.size(), 1u);
  EXPECT_EQ(heard_first[0].raw, DCP::encode(5, heard_first[0].transaction_id, {}));
  EXPECT_EQ(heard_second[0].transaction_id, heard_first[0].transaction_id);
  EXPECT_EQ(heard_first[0].source, IP::Address(ip(198, 18, 11, 1)));

  // A small capacity keeps the lowest addresses.
  std::array<std::uint32_t, 3> few{7, 7, 7};
  size = 2;
  ASSERT_EQ(find(few.data(), &size, nullptr, 0), 0);
  EXPECT_EQ(size, 2u);
  EXPECT_EQ(few, (std::array<std::uint32_t, 3>{ip(198, 18, 11, 3), ip(198, 18, 11, 9), 7}));
}

TEST_F(Discovery, SerialModeReturnsAsSoonAsTheLastRequestedModuleAnswered) {
  const auto module = module_behind(0, identity_replies([](const Request& r) {
    // The late reply would make the call fail with 3 if it were still
    // listening after the last requested module had answered.
    Reply late = identity(r, 0x100, 0);
    late.delay_ms = 300;
    return std::vector{identity(r, 0x300, 0),  // not requested: its address does not matter
                       identity(r, 0x100, ip(198, 18, 11, 20)), identity(r, 0x200, ip(198, 18, 11, 21)), late};
  }));
  const std::array<std::uint32_t, 3> serials{0x200, 0x100, 0x200};
  std::array<std::uint32_t, 4> addresses{7, 7, 7, 7};
  std::uint32_t size = 4;
  const std::uint64_t start = current_milliseconds();
  ASSERT_EQ(find(addresses.data(), &size, serials.data(), serials.size()), 0);
  std::printf("serial mode returned after %llu ms (window 1000 ms)\n",
              static_cast<unsigned long long>(current_milliseconds() - start));
  EXPECT_EQ(size, 3u);
  EXPECT_EQ(addresses,
            (std::array<std::uint32_t, 4>{ip(198, 18, 11, 21), ip(198, 18, 11, 20), ip(198, 18, 11, 21), 7}));

  size = 1;
  ASSERT_EQ(find(addresses.data(), &size, serials.data() + 1, 2), 0);
  EXPECT_EQ(size, 1u);
  EXPECT_EQ(addresses[0], ip(198, 18, 11, 20));
}

TEST_F(Discovery, SerialModeRefusesARequestedModuleWithoutAddress) {
  const auto module =
      module_behind(1, identity_replies([](const Request& r) { return std::vector{identity(r, 0x400, 0)}; }));
  const std::uint32_t serial = 0x400;
  std::uint32_t address = 7;
  std::uint32_t size = 1;
  EXPECT_EQ(find(&address, &size, &serial, 1), 3);
  EXPECT_EQ(address, 7u);
  EXPECT_EQ(size, 1u);
}

TEST_F(Discovery, SerialModeCountsOnlyGoodReplies) {
  const auto module = module_behind(0, identity_replies([](const Request& r) {
    return std::vector{test::answer_with_id(r.transaction_id - 1, 6, test::identity(0x500, ip(198, 18, 11, 30))),
                       test::answer(r, 1, test::identity(0x500, ip(198, 18, 11, 30))),
                       test::answer(r, 6, test::join({test::element(1, "a"), test::element(4, test::u32(0x500)),
                                                      test::element(18, test::u32(ip(198, 18, 11, 30)))})),
                       identity(r, 0x501, ip(198, 18, 11, 31))};
  }));
  const std::array<std::uint32_t, 2> serials{0x501, 0x500};
  std::array<std::uint32_t, 2> addresses{7, 7};
  std::uint32_t size = 2;
  EXPECT_EQ(find(addresses.data(), &size, serials.data(), serials.size()), 5);
  EXPECT_EQ(addresses, (std::array<std::uint32_t, 2>{7, 7}));
  EXPECT_EQ(size, 2u);
}

// A second address on a link, added after the first: both are searched.
TEST_F(Discovery, EveryAddressOfALinkIsSearched) {
  const std::string local = "198.18.111.1/24 dev " + links[0]->local_link();
  test::run_command("ip addr add " + local);
  links[0]->add_address("198.18.111.2/24");
  const auto module = module_behind(0, identity_replies([](const Request& r) {
    return std::vector{identity(r, 0x11, ip(198, 18, 11, 17))};
  }));
  std::array<std::uint32_t, 2> addresses{};
  std::uint32_t size = addresses.size();
  const std::uint8_t result = find(addresses.data(), &size, nullptr, 0);
  const auto heard = module->requests();
  test::run_command("ip addr del " + local);
  ASSERT_EQ(result, 0);
  ASSERT_EQ(size, 1u);
  EXPECT_EQ(addresses[0], ip(198, 18, 11, 17));
  std::set<IP::Address> sources;
  for (const Request& request : heard) sources.insert(request.source);
  EXPECT_EQ(sources, (std::set{IP::Address(ip(198, 18, 11, 1)), IP::Address(ip(198, 18, 111, 1))}));
}

// Interfaces created and deleted beside the module's link while find runs
// again and again: the ones that vanish are skipped, the module is found.
TEST_F(Discovery, InterfacesComingAndGoingAreSkipped) {
  const auto module = module_behind(0, identity_replies([](const Request& r) {
    return std::vector{identity(r, 0x22, ip(198, 18, 11, 22))};
  }));
  const std::string batch = testing::TempDir() + "varnode_churn.batch";
  {
    std::ofstream out(batch);
    for (int i = 0; i < 1500; ++i)
      out << "link add vnchurn0 type veth peer name vnchurn1\naddr add 198.18.99.1/24 dev vnchurn0\n"
             "link del vnchurn0\n";
  }
  std::atomic<bool> churning{true};
  std::thread churn([&] {
    std::system(("ip -force -batch " + batch + " >/dev/null 2>&1").c_str());
    churning = false;
  });
  const std::uint32_t serial = 0x22;
  int calls = 0;
  int failed = 0;
  while (churning && calls < 3000) {
    std::uint32_t address = 0;
    std::uint32_t size = 1;
    ++calls;
    if (find(&address, &size, &serial, 1) != 0 || address != ip(198, 18, 11, 22)) ++failed;
  }
  churn.join();
  std::printf("%d of %d calls failed while interfaces came and went\n", failed, calls);
  EXPECT_EQ(failed, 0);
}

TEST_F(Discovery, NobodyAnswers) {
  std::uint32_t address = 7;
  std::uint32_t size = 1;
  const std::uint64_t start = current_milliseconds();
  EXPECT_EQ(find(&address, &size, nullptr, 0), 0);
  const std::uint64_t elapsed = current_milliseconds() - start;
  std::printf("all mode with no answer returned after %llu ms\n", static_cast<unsigned long long>(elapsed));
  EXPECT_GE(elapsed, 1000u);  // the whole window, never less
  EXPECT_EQ(size, 0u);
  EXPECT_EQ(address, 7u);

  size = 1;
  const std::uint32_t serial = 0x600;
  EXPECT_EQ(find(&address, &size, &serial, 1), 5);
  EXPECT_EQ(size, 1u);
}

}  // namespace
}  // namespace varnode
