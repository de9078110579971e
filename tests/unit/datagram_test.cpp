#include <gtest/gtest.h>

#include "dcp/datagram.hpp"

namespace varnode {
namespace {

TEST(Datagram, EncodesHeaderThenPayload) {
  EXPECT_EQ(DCP::encode(7, 0x01020304, {}), (Bytes{0x00, 0x07, 0x00, 0x00, 0x01, 0x02, 0x03, 0x04}));
  const Bytes payload{0x00, 0x64};
  EXPECT_EQ(DCP::encode(0x0408, 0xA1B2C3D4, payload),
            (Bytes{0x04, 0x08, 0x00, 0x02, 0xA1, 0xB2, 0xC3, 0xD4, 0x00, 0x64}));
}

struct DecodeCase {
  Bytes datagram;
  bool ok;
  Bytes payload;
};

class Decode : public testing::TestWithParam<DecodeCase> {};

TEST_P(Decode, AcceptsOnlyWhatTheHeaderCovers) {
  const DecodeCase& c = GetParam();
  if (!c.ok) {
    EXPECT_THROW(DCP::decode(c.datagram), DCP::Exception::Parameter);
    return;
  }
  const DCP::Message message = DCP::decode(c.datagram);
  EXPECT_EQ(Bytes(message.payload.begin(), message.payload.end()), c.payload);
}

INSTANTIATE_TEST_SUITE_P(
    Lengths, Decode,
    testing::Values(DecodeCase{{0, 1, 0, 0, 0, 0, 0}, false, {}},                          // 7 bytes
                    DecodeCase{{0, 1, 0, 0, 0, 0, 0, 9}, true, {}},                        // empty payload
                    DecodeCase{{0, 1, 0, 2, 0, 0, 0, 9, 0xAA, 0xBB, 0xCC, 0xDD}, true, {0xAA, 0xBB}},  // tail ignored
                    DecodeCase{{0, 1, 0, 5, 0, 0, 0, 9, 0xAA, 0xBB, 0xCC, 0xDD}, false, {}},  // runs past the end
                    DecodeCase{{}, false, {}}));

TEST(Datagram, DecodesCodeAndId) {
  const Bytes datagram{0x03, 0x04, 0x00, 0x01, 0xDE, 0xAD, 0xBE, 0xEF, 0x42};
  const DCP::Message message = DCP::decode(datagram);
  EXPECT_EQ(message.code, 0x0304);
  EXPECT_EQ(message.transaction_id, 0xDEADBEEFu);
  ASSERT_EQ(message.payload.size(), 1u);
  EXPECT_EQ(message.payload[0], 0x42);
}

TEST(Element, IsReadOneByOneUntilTheRestFails) {
  const Bytes bytes{0x05, 0x02, 0xAA, 0xBB, 0x07};
  DCP::View rest = bytes;
  const DCP::Element element = DCP::take_element(rest);
  EXPECT_EQ(element.tag, 5);
  EXPECT_EQ(Bytes(element.value.begin(), element.value.end()), (Bytes{0xAA, 0xBB}));
  ASSERT_EQ(rest.size(), 1u);
  EXPECT_THROW(DCP::take_element(rest), DCP::Exception::Parameter);
  const Bytes cut{0x01, 0x03, 0xAA};
  DCP::View cut_rest = cut;
  EXPECT_THROW(DCP::take_element(cut_rest), DCP::Exception::Parameter);
}

TEST(Element, RoundTripsAndRefusesLongValues) {
  Bytes out;
  const Bytes value(255, 0x11);
  DCP::append_element(out, 9, value);
  DCP::append_element(out, 0, {});
  DCP::View rest = out;
  EXPECT_EQ(DCP::take_element(rest).value.size(), 255u);
  EXPECT_EQ(DCP::take_element(rest).value.size(), 0u);
  EXPECT_TRUE(rest.empty());
  EXPECT_THROW(DCP::append_element(out, 1, Bytes(256, 0)), DCP::Exception::Parameter);
}

TEST(BigEndian, NumbersAndFloats) {
  Bytes out;
  DCP::put_u32(out, 0x01020304);
  DCP::put_f32(out, 100.0f);
  EXPECT_EQ(out, (Bytes{1, 2, 3, 4, 0x42, 0xC8, 0x00, 0x00}));
  EXPECT_EQ(DCP::get_u32(out.data()), 0x01020304u);
  EXPECT_EQ(DCP::get_f32(out.data() + 4), 100.0f);
  const Bytes wide{0x80, 0, 0, 0, 0, 0, 0, 1};
  EXPECT_EQ(DCP::get_u64(wide.data()), 0x8000000000000001ull);
}

}  // namespace
}  // namespace varnode
