#include <fcntl.h>
#include <sched.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <future>
#include <set>

#include "dcp/broadcast.hpp"
#include "dcp/transaction_id.hpp"
#include "rig.hpp"
#include "support/netns.hpp"

namespace varnode::sim::test {
namespace {

using nlohmann::json;

// A rack served from a thread inside a peer namespace; its sockets stay
// there, and so do the addresses a configure command moves modules to.
class PeerRack {
 public:
  PeerRack(const varnode::test::Peer& peer, const json& description, Server::Options options)
      : server_(parse_rack(description, Placement::namespaced), std::move(options)) {
    std::promise<void> bound;
    thread_ = std::thread([&] {
      const int fd = ::open(("/run/netns/" + peer.name()).c_str(), O_RDONLY | O_CLOEXEC);
      ASSERT_TRUE(fd >= 0 && ::setns(fd, CLONE_NEWNET) == 0);
      ::close(fd);
      server_.bind();
      bound.set_value();
      server_.run();
    });
    bound.get_future().wait();
  }
  ~PeerRack() {
    server_.stop();
    thread_.join();
  }

 private:
  Server server_;
  std::thread thread_;
};

IP::Address address(std::uint32_t last) { return IP::Address(0xC6120000u | last); }  // 198.18.0.x

std::set<IP::Address> identities(std::uint32_t id, std::map<std::uint32_t, IP::Address>* serials = nullptr) {
  const DCP::InterfaceSockets sockets;
  DCP::broadcast(sockets, 5, id, {});
  std::set<IP::Address> found;
  Bytes buffer;
  const std::uint64_t end = current_milliseconds() + 1000;
  while (current_milliseconds() < end) {
    const auto message = DCP::collect(sockets, buffer);
    if (!message || message->code != 6 || message->transaction_id != id) continue;
    const auto tags = elements(Bytes(message->payload.begin(), message->payload.end()));
    const auto& a = tags.at(18);
    const IP::Address reported(std::array<std::uint8_t, 4>{a[0], a[1], a[2], a[3]});
    found.insert(reported);
    if (serials != nullptr) (*serials)[DCP::get_u32(tags.at(4).data())] = reported;
  }
  return found;
}

TEST(Broadcast, EveryModuleAnswersFromItsOwnAddressAndConfigureMovesOne) {
  varnode::test::Peer peer("198.18.0.1/24", "198.18.0.11/24");
  peer.add_address("198.18.0.12/24");
  peer.add_address("198.18.0.13/24");
  Server::Options options;
  options.hear_broadcasts = true;
  options.move_address = [&](IP::Address, IP::Address to) {
    peer.add_address(format_address(to) + "/24");
    return true;
  };
  PeerRack rack(peer,
                {{"modules", json::array({{{"kind", "KL01"}, {"serial", 1}},
                                          {{"kind", "RE01"}, {"serial", 2}},
                                          {{"kind", "HX02"}, {"serial", 3}, {"identity", "extended"}}})}},
                options);
  std::map<std::uint32_t, IP::Address> serials;
  EXPECT_EQ(identities(0x100, &serials), (std::set{address(11), address(12), address(13)}));
  EXPECT_EQ(serials.at(2), address(12));

  // Commands other than identity and configure are not taken by broadcast.
  const DCP::InterfaceSockets sockets;
  DCP::broadcast(sockets, 3, 0x101, {});
  Bytes buffer;
  for (int i = 0; i < 200; ++i) EXPECT_FALSE(DCP::collect(sockets, buffer).has_value());

  Bytes configure{0, 0, 0, 2, 1, 1, 0, 2, 4, 198, 18, 0, 42, 3, 4, 255, 255, 255, 0, 4, 4, 198, 18, 0, 1, 5, 0};
  DCP::broadcast(sockets, 9, 0x102, configure);
  std::set<IP::Address> after;
  for (int attempt = 0; attempt < 20 && !after.contains(address(42)); ++attempt) after = identities(0x103 + attempt);
  EXPECT_EQ(after, (std::set{address(11), address(13), address(42)}));
  Client client;
  const Answer answer = client.ask(address(42), 0x0908, {0x00, 0x64});
  EXPECT_EQ(answer.source, address(42));
  EXPECT_EQ(answer.code, 1);
}

}  // namespace
}  // namespace varnode::sim::test
