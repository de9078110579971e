// Runs every test of this binary inside a private network namespace, or
// skips them all, saying why, where the machine cannot make one.
#include <gtest/gtest.h>

#include <cstdio>
#include <string>

#include "support/netns.hpp"

int main(int argc, char** argv) {
  testing::InitGoogleTest(&argc, argv);
  std::string why;
  if (!varnode::test::PrivateNetwork::enter(why)) {
    std::printf("SKIPPED: network namespace tests: %s\n", why.c_str());
    testing::GTEST_FLAG(filter) = "-*";
  }
  return RUN_ALL_TESTS();
}
