// The simulator tests bind port 30000 on many addresses and broadcast, so
// they run inside a private network namespace, or are skipped saying why.
#include <gtest/gtest.h>

#include <cstdio>
#include <string>

#include "support/netns.hpp"

int main(int argc, char** argv) {
  testing::InitGoogleTest(&argc, argv);
  std::string why;
  if (!varnode::test::PrivateNetwork::enter(why)) {
    std::printf("SKIPPED: simulator tests: %s\n", why.c_str());
    testing::GTEST_FLAG(filter) = "-*";
  }
  return RUN_ALL_TESTS();
}
