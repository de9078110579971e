#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <set>

#include "dcp/transaction_id.hpp"

namespace varnode {
namespace {

// The first id a fresh process would take. A child inherits this process's
// state, so a generator that nobody seeds would give every child the same.
std::uint32_t first_id_in_a_child() {
  int pipe[2];
  if (::pipe(pipe) != 0) return 0;
  const pid_t child = ::fork();
  if (child == 0) {
    const std::uint32_t id = DCP::TransactionCounter().next();
    const bool written = ::write(pipe[1], &id, sizeof id) == sizeof id;
    _exit(written ? 0 : 1);
  }
  ::close(pipe[1]);
  std::uint32_t id = 0;
  if (::read(pipe[0], &id, sizeof id) != sizeof id) id = 0;
  ::close(pipe[0]);
  ::waitpid(child, nullptr, 0);
  return id;
}

TEST(TransactionCounter, StartsAtADifferentIdInEveryProcess) {
  std::set<std::uint32_t> firsts;
  for (int i = 0; i < 4; ++i) firsts.insert(first_id_in_a_child());
  EXPECT_EQ(firsts.size(), 4u);
}

}  // namespace
}  // namespace varnode
