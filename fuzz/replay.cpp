// Feeds inputs to a fuzz target outside libFuzzer: the seeds compiled in
// when run without arguments, else the named files (to reproduce a crash in
// any build). A failing input aborts inside the target, which names it.
#include <cstdint>
#include <cstdio>
#include <fstream>
#include <iterator>
#include <vector>

#include "replay.hpp"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size);

namespace {

void run(const char* name, const unsigned char* data, std::size_t size) {
  std::fprintf(stderr, "%s (%lu bytes)\n", name, static_cast<unsigned long>(size));
  // A copy of exactly `size` bytes, so that a read past the end is caught by
  // a sanitizer as it would be under libFuzzer.
  const std::vector<std::uint8_t> input(data, data + size);
  LLVMFuzzerTestOneInput(input.data(), input.size());
}

}  // namespace

int main(int argc, char** argv) {
  std::size_t count = 0;
  if (argc > 1) {
    for (int i = 1; i < argc; ++i) {
      std::ifstream file(argv[i], std::ios::binary);
      if (!file) {
        std::fprintf(stderr, "cannot read %s\n", argv[i]);
        return 1;
      }
      const std::vector<unsigned char> bytes{std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>()};
      run(argv[i], bytes.data(), bytes.size());
      ++count;
    }
  } else {
    for (const Seed* seed = seeds; seed->name != nullptr; ++seed, ++count) run(seed->name, seed->data, seed->size);
  }
  std::printf("%lu inputs replayed\n", static_cast<unsigned long>(count));
  return count > 0 ? 0 : 1;
}
