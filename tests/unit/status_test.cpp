#include <gtest/gtest.h>

#include <array>
#include <cmath>
#include <limits>
#include <string>

#include "device/status.hpp"
#include "support/fake_module.hpp"
#include "support/query_outputs.hpp"
#include "support/payloads.hpp"
#include "varnode/varnode.h"

namespace varnode {
namespace {

using test::element;
using test::f32;
using test::join;

constexpr float nan = std::numeric_limits<float>::quiet_NaN();

std::string text(const Bytes& bytes) { return std::string(bytes.begin(), bytes.end()); }

// One item; NaN numbers are left out of the group.
Bytes item(std::string_view name, float lower, float upper, float value, std::string_view text_2 = "t2") {
  Bytes out = join({element(1, name), element(2, text_2), element(3, "t3")});
  if (!std::isnan(lower)) out = join({out, element(5, f32(lower))});
  if (!std::isnan(upper)) out = join({out, element(6, f32(upper))});
  if (!std::isnan(value)) out = join({out, element(7, f32(value))});
  return out;
}

struct Range {
  float lower, upper, value;
  bool in_range;
};

class StatusRange : public testing::TestWithParam<Range> {};

TEST_P(StatusRange, LimitsThatAreNumbersBoundTheValue) {
  const Range r = GetParam();
  EXPECT_EQ(Device::StatusItem::within(r.value, r.lower, r.upper), r.in_range);
  // An absent number decodes as NaN, so the same holds for a group that
  // leaves it out.
  const Device::Status status(item("x", r.lower, r.upper, r.value));
  EXPECT_EQ(status.items.at(Bytes{'x'}).in_range, r.in_range);
  EXPECT_EQ(status.ok, r.in_range);
}

INSTANTIATE_TEST_SUITE_P(Items, StatusRange,
                         testing::Values(Range{nan, 5, -1000, true}, Range{nan, 5, 6, false}, Range{1, 5, 1, true},
                                         Range{1, 5, 5, true}, Range{1, 5, 0.5f, false}, Range{1, nan, 1e30f, true},
                                         Range{nan, nan, nan, true}, Range{nan, nan, 3, true},
                                         Range{1, nan, nan, false}, Range{nan, 5, nan, false}));

TEST(Status, ItemsAreOrderedByNameBytes) {
  const Device::Status status(
      join({item("b", 0, 1, 0), item("\xC3", 0, 1, 0), item("ab", 0, 1, 0), item("a", 0, 1, 0), item("Z", 0, 1, 0)}));
  std::string names;
  for (const auto& [name, it] : status.items) names += text(name) + ",";
  EXPECT_EQ(names, "Z,a,ab,b,\xC3,");
}

TEST(Status, FirstOfTwoItemsWithOneNameStaysButBothCount) {
  const Device::Status first_out(join({item("a", 0, 1, 7), item("a", 0, 1, 0, "second")}));
  ASSERT_EQ(first_out.items.size(), 1u);
  EXPECT_EQ(first_out.items.begin()->second.value, 7);
  EXPECT_FALSE(first_out.ok);
  const Device::Status second_out(join({item("a", 0, 1, 0), item("a", 0, 1, 7, "second")}));
  EXPECT_EQ(text(second_out.items.begin()->second.text_2), "t2");
  EXPECT_FALSE(second_out.ok);
}

TEST(Status, NumbersDoNotCarryOverFromTheItemBefore) {
  const Device::Status status(join({element(1, "a"), element(4, f32(4)), element(5, f32(0)), element(6, f32(9)),
                                    element(7, f32(3)), element(1, "b"), element(1, "c"), element(6, f32(9))}));
  const Device::StatusItem& b = status.items.at(Bytes{'b'});
  EXPECT_TRUE(std::isnan(b.number_4) && std::isnan(b.lower_limit) && std::isnan(b.upper_limit) &&
              std::isnan(b.value));
  EXPECT_TRUE(b.in_range);
  EXPECT_TRUE(b.text_2.empty());
  // A limit but no value: out of range.
  EXPECT_FALSE(status.items.at(Bytes{'c'}).in_range);
  EXPECT_FALSE(status.ok);
  EXPECT_EQ(status.items.at(Bytes{'a'}).number_4, 4);
}

TEST(Status, RepeatedAndUnknownTags) {
  const Device::Status status(join({element(1, "a"), element(7, f32(1)), element(0, "x"), element(8, "x"),
                                    element(200, Bytes{}), element(7, f32(2)), element(2, "one"), element(2, "two")}));
  const Device::StatusItem& a = status.items.at(Bytes{'a'});
  EXPECT_EQ(a.value, 2);
  EXPECT_EQ(text(a.text_2), "two");
  EXPECT_TRUE(Device::Status(Bytes{}).ok);
  EXPECT_TRUE(Device::Status(Bytes{}).items.empty());
}

class StatusRefused : public testing::TestWithParam<Bytes> {};

TEST_P(StatusRefused, DoesNotDecode) { EXPECT_THROW(Device::Status{GetParam()}, DCP::Exception::Parameter); }

INSTANTIATE_TEST_SUITE_P(Payloads, StatusRefused,
                         testing::Values(element(2, "x"),                                   // no leading name
                                         join({element(1, ""), element(7, f32(1))}),        // empty name
                                         join({element(1, "a"), element(7, Bytes{1, 2})}),  // short number
                                         join({element(1, "a"), element(5, Bytes(5, 0))}),  // long number
                                         join({element(1, "a"), Bytes{9, 3, 1}}),           // cut short
                                         join({element(1, "a"), Bytes{1}})));               // cut-short name

// All outputs of get_status, filled with a marker so that untouched ones show.
struct StatusOutputs {
  std::array<std::array<char, 32>, 3> lists;  // names, texts_2, texts_3
  std::array<std::uint32_t, 3> list_sizes;
  std::array<std::array<float, 4>, 4> numbers;  // numbers_4, lower, upper, values
  std::uint32_t size = 4;
  std::uint8_t ok = 0xEE;

  StatusOutputs() {
    for (auto& l : lists) l.fill('#');
    list_sizes.fill(32);
    for (auto& n : numbers) n.fill(-99);
  }
  bool operator==(const StatusOutputs&) const = default;

  std::uint8_t call(std::uint32_t address) {
    return get_status(address, lists[0].data(), &list_sizes[0], lists[1].data(), &list_sizes[1], lists[2].data(),
                      &list_sizes[2], numbers[0].data(), numbers[1].data(), numbers[2].data(), numbers[3].data(),
                      &size, &ok);
  }
  std::string list(std::size_t i) const { return std::string(lists[i].data(), list_sizes[i]); }
};

TEST(GetStatus, ListsEveryItemButFillsOnlyTheArraysCapacity) {
  test::FakeModule module(test::replying(8, join({item("temp", 0, 50, 21.5f, ""), item("fan", 1, 2, 3),
                                             join({element(1, "volt"), element(4, f32(4))})})));
  StatusOutputs out;
  out.size = 2;
  out.list_sizes[2] = 4;
  ASSERT_EQ(out.call(module.host()), 0);
  const auto requests = module.requests();
  ASSERT_EQ(requests.size(), 1u);
  EXPECT_EQ(requests[0].raw, DCP::encode(7, requests[0].transaction_id, {}));

  EXPECT_EQ(out.list(0), "fan\ttemp\tvolt");
  EXPECT_EQ(out.list(1), "t2\t\t");
  EXPECT_EQ(out.list(2), "t3\tt");  // cut to its capacity
  EXPECT_EQ(out.size, 2u);
  EXPECT_EQ(out.numbers[1], (std::array<float, 4>{1, 0, -99, -99}));
  EXPECT_EQ(out.numbers[2], (std::array<float, 4>{2, 50, -99, -99}));
  EXPECT_EQ(out.numbers[3], (std::array<float, 4>{3, 21.5f, -99, -99}));
  EXPECT_TRUE(std::isnan(out.numbers[0][0]));
  EXPECT_EQ(out.ok, 0);
}

TEST(GetStatus, LeadingEmptyFieldAndEmptyList) {
  test::FakeModule module(test::replying(8, join({item("a", 0, 1, 1, ""), item("b", nan, nan, nan, "x")})));
  StatusOutputs out;
  ASSERT_EQ(out.call(module.host()), 0);
  EXPECT_EQ(out.list(1), "\tx");
  EXPECT_EQ(out.ok, 1);

  module.script(test::replying(8, {}));
  StatusOutputs empty;
  ASSERT_EQ(empty.call(module.host()), 0);
  EXPECT_EQ(empty.size, 0u);
  EXPECT_EQ(empty.list_sizes, (std::array<std::uint32_t, 3>{0, 0, 0}));
  EXPECT_EQ(empty.ok, 1);
}

class GetStatusFails : public testing::TestWithParam<test::Refusal> {};

TEST_P(GetStatusFails, WritesNothing) { test::expect_refused_writing_nothing<StatusOutputs>(GetParam()); }

INSTANTIATE_TEST_SUITE_P(Replies, GetStatusFails,
                         testing::Values(test::Refusal{"OtherCode", test::replying(6, item("a", 0, 1, 0)), 2},
                                         test::Refusal{"StartsWithTag2", test::replying(8, element(2, "x")), 2},
                                         test::Refusal{"Acknowledgement", test::replying(1, {}), 2},
                                         // A tab would split one entry of the tab-joined lists in two.
                                         test::Refusal{"TabInName", test::replying(8, item("a\tb", 0, 1, 0)), 2},
                                         test::Refusal{"TabInText2", test::replying(8, item("a", 0, 1, 0, "\t")), 2},
                                         test::Refusal{"TabInText3",
                                                       test::replying(8, join({element(1, "a"), element(3, "x\ty")})),
                                                       2},
                                         test::Refusal{"Silent", {}, 6}),
                         test::refusal_name);

TEST(GetStatus, UnusableAddressesAreRefused) { test::expect_unusable_addresses_refused<StatusOutputs>(); }

}  // namespace
}  // namespace varnode
