// Calls under a low descriptor limit, each case in a child process of its own
// so that the limit and the descriptors it takes end with it.
#include <gtest/gtest.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <cstdio>
#include <filesystem>
#include <thread>
#include <vector>

#include "dcp/socket_pool.hpp"
#include "support/fake_module.hpp"
#include "varnode/varnode.h"

namespace varnode {
namespace {

std::size_t open_descriptors() {
  std::size_t count = 0;
  for ([[maybe_unused]] const auto& entry : std::filesystem::directory_iterator("/proc/self/fd")) ++count;
  return count;
}

// Failures are counted on stderr, and the exit status is their number.
int failures = 0;
void check(bool ok, const char* what) {
  if (ok) return;
  std::fprintf(stderr, "failed: %s\n", what);
  ++failures;
}

int burst_under_a_low_limit() {
  test::FakeModule module(test::replying(1));
  const std::size_t before = open_descriptors();
  const rlimit low{before + 12, before + 12};
  check(setrlimit(RLIMIT_NOFILE, &low) == 0, "setrlimit");

  std::atomic<int> off_contract{0};
  std::vector<std::thread> threads;
  for (int t = 0; t < 32; ++t)
    threads.emplace_back([&] {
      for (int i = 0; i < 4; ++i) {
        const std::uint8_t result = reset(module.host());
        if (result != 0 && result != 4) ++off_contract;
      }
    });
  for (auto& thread : threads) thread.join();
  check(off_contract == 0, "every call gives 0 or 4");
  // The pool may have kept some idle sockets, no more.
  check(open_descriptors() <= before + DCP::idle_socket_limit, "the burst's sockets are closed");
  FILE* file = std::fopen("/dev/null", "r");
  check(file != nullptr, "the application opens a file afterwards");
  if (file != nullptr) std::fclose(file);
  check(reset(module.host()) == 0, "a call afterwards succeeds");

  // With every descriptor taken, find cannot open its sockets.
  const std::size_t held = open_descriptors();
  std::vector<FILE*> hogs;
  while (FILE* hog = std::fopen("/dev/null", "r")) hogs.push_back(hog);
  std::uint32_t address = 7;
  std::uint32_t size = 1;
  check(find(&address, &size, nullptr, 0) == 4, "find without a descriptor gives 4");
  const std::uint32_t serial = 1;
  check(find(&address, &size, &serial, 1) == 4, "find by serial without a descriptor gives 4");
  check(address == 7 && size == 1, "nothing written");
  for (FILE* hog : hogs) std::fclose(hog);
  check(open_descriptors() == held, "no descriptor left behind");
  return failures;
}

TEST(Descriptors, ABurstUnderALowLimitLeavesNoneHeld) {
#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
  // The sanitizers' runtime opens a pipe to tell whether memory can be read;
  // with no descriptor left it reports faults that are not there.
  GTEST_SKIP() << "the sanitizers' runtime needs descriptors of its own";
#endif
  // A plain fork, not a death test: the threadsafe style re-executes the
  // binary, which an emulator (qemu-user without binfmt) cannot.
  std::fflush(nullptr);
  const pid_t child = fork();
  ASSERT_GE(child, 0);
  if (child == 0) std::_Exit(burst_under_a_low_limit());
  int status = 0;
  ASSERT_EQ(waitpid(child, &status, 0), child);
  ASSERT_TRUE(WIFEXITED(status)) << "the child ended by signal " << WTERMSIG(status);
  EXPECT_EQ(WEXITSTATUS(status), 0) << "failed checks, listed on stderr";
}

}  // namespace
}  // namespace varnode
