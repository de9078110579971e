#pragma once
// Checks shared by the exports that query a module and fill many outputs.
// `Outputs` holds every output of one export, starts filled with markers,
// compares with ==, and has call(address) that runs the export on itself.

#include <gtest/gtest.h>

#include <string>

#include "support/fake_module.hpp"
#include "varnode/varnode.h"

namespace varnode::test {

// A module's answer (or silence) that the export must refuse, and its code.
struct Refusal {
  const char* name;
  Script script;
  std::uint8_t result;
};

inline std::string refusal_name(const testing::TestParamInfo<Refusal>& refusal) { return refusal.param.name; }

template <class Outputs>
void expect_refused_writing_nothing(const Refusal& refusal) {
  FakeModule module(refusal.script);
  ASSERT_EQ(set_timeout(module.host(), 100), 0);
  Outputs out;
  const Outputs before = out;
  EXPECT_EQ(out.call(module.host()), refusal.result);
  EXPECT_EQ(out, before);
}

template <class Outputs>
void expect_unusable_addresses_refused() {
  Outputs out;
  const Outputs before = out;
  EXPECT_EQ(out.call(0), VARNODE_PARAMETER);
  EXPECT_EQ(out.call(0xFFFFFFFF), VARNODE_PARAMETER);
  EXPECT_EQ(out, before);
}

}  // namespace varnode::test
