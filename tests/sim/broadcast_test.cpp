// The rack in a peer namespace hearing broadcasts: find and configure as
// the library sends them, and a broadcast the library never sends.
#include <gtest/gtest.h>

#include <vector>

#include "rig.hpp"

namespace varnode::sim::test {
namespace {

using nlohmann::json;

std::vector<std::uint32_t> find_all() {
  std::vector<std::uint32_t> found(16);
  std::uint32_t size = 16;
  EXPECT_EQ(find(found.data(), &size, nullptr, 0), VARNODE_SUCCESS);
  found.resize(size);
  return found;
}

TEST(Broadcast, EveryModuleAnswersFindAndConfigureMovesOnlyItsOwn) {
  PeerLink link;
  link.peer.add_address("198.18.0.12/24");
  link.peer.add_address("198.18.0.13/24");
  Server::Options options;
  options.hear_broadcasts = true;
  options.move_address = [&](Address, Address to) {
    link.peer.add_address(format_address(to) + "/24");
    return true;
  };
  Rig rig(link.peer,
          {{"modules", json::array({{{"kind", "KL01"}, {"serial", 1}},
                                    {{"kind", "RE01"}, {"serial", 2}},
                                    {{"kind", "HX02"}, {"serial", 3}, {"identity", "extended"}}})}},
          options);
  EXPECT_EQ(find_all(), (std::vector{peer_address(11), peer_address(12), peer_address(13)}));
  std::uint32_t serial = 2, located = 0, size = 1;
  ASSERT_EQ(find(&located, &size, &serial, 1), VARNODE_SUCCESS);
  EXPECT_EQ(located, peer_address(12));

  // Commands other than identity and configure are not taken by broadcast.
  WireClient broadcaster(peer_address(1), true);
  broadcaster.send(peer_address(255), 3);
  EXPECT_TRUE(broadcaster.listen(300).empty());

  // A serial number no module has moves nothing.
  const char text[] = "lab";
  const std::uint32_t netmask = 0xFFFFFF00u, gateway = peer_address(1);
  ASSERT_EQ(configure(7, text, 3, 1, peer_address(43), netmask, gateway), VARNODE_SUCCESS);
  ASSERT_EQ(configure(2, text, 3, 1, peer_address(42), netmask, gateway), VARNODE_SUCCESS);
  // A search right behind the configure: the module may report its new
  // address only once it listens there, so asking it at once must work.
  size = 1;
  ASSERT_EQ(find(&located, &size, &serial, 1), VARNODE_SUCCESS);
  ASSERT_EQ(located, peer_address(42));
  EXPECT_EQ(re01_set_frequency(peer_address(42), 100), VARNODE_SUCCESS);
  EXPECT_EQ(find_all(), (std::vector{peer_address(11), peer_address(13), peer_address(42)}));

  Text t[26];
  std::uint32_t n[12];
  std::uint8_t mac[6], flag = 0;
  std::uint32_t ip = 0, mask = 0, gate = 0;
  ASSERT_EQ(get_info(peer_address(42), t[1].bytes, &t[1].size, t[2].bytes, &t[2].size, t[3].bytes, &t[3].size, &n[0],
                     t[5].bytes, &t[5].size, t[6].bytes, &t[6].size, &n[1], &n[2], t[7].bytes, &t[7].size,
                     t[10].bytes, &t[10].size, &n[3], &n[4], &n[5], &n[6], &n[7], &n[8], mac, &ip, &mask, &gate,
                     &flag, t[21].bytes, &t[21].size, t[22].bytes, &t[22].size, t[24].bytes, &t[24].size,
                     t[25].bytes, &t[25].size),
            VARNODE_SUCCESS);
  EXPECT_EQ(ip, peer_address(42));
  EXPECT_EQ(mask, netmask);
  EXPECT_EQ(gate, gateway);
  EXPECT_EQ(t[21].str(), "lab");
  EXPECT_EQ(flag, 1);

  // It answers from its new address, and no longer from the old one.
  WireClient client;
  EXPECT_EQ(client.ask(peer_address(42), 5).source, peer_address(42));
  const std::uint32_t id = client.send(peer_address(12), 5);
  EXPECT_FALSE(client.await(id, 300).has_value());
}

}  // namespace
}  // namespace varnode::sim::test
