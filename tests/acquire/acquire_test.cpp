// Channel names as the logger's users type them, and the encodings' text.
#include <gtest/gtest.h>

#include <cmath>

#include "acquire.hpp"

namespace varnode::acquire {
namespace {

struct ChannelCase {
  Family family;
  const char* text;
  const char* refusal;  // a part of the refusal, or nullptr: accepted
};

void PrintTo(const ChannelCase& c, std::ostream* out) { *out << info(c.family).name << " '" << c.text << "'"; }

class ChannelNames : public ::testing::TestWithParam<ChannelCase> {};

TEST_P(ChannelNames, AcceptOrNameTheProblem) {
  const ChannelCase& c = GetParam();
  Channel channel;
  const std::string why = parse_channel(c.family, c.text, channel);
  if (c.refusal == nullptr) {
    EXPECT_EQ(why, "");
    EXPECT_EQ(channel.name(), c.text);
  } else {
    EXPECT_NE(why.find(c.refusal), std::string::npos) << why;
  }
}

INSTANTIATE_TEST_SUITE_P(
    Table, ChannelNames,
    ::testing::Values(ChannelCase{Family::KL01, "8", nullptr}, ChannelCase{Family::KL01, "9", "channels 1 to 8"},
                      ChannelCase{Family::HX02, "5", "channels 1 to 4"}, ChannelCase{Family::QU01, "0", "1 to 4"},
                      ChannelCase{Family::QU01, "reference", nullptr},
                      ChannelCase{Family::HX01, "reference", "QU01's"},
                      ChannelCase{Family::WE01, "1", "outputs only"},
                      ChannelCase{Family::WE01, "status.supply", nullptr},
                      ChannelCase{Family::KS02, "status.a,b", "no space, comma"},
                      ChannelCase{Family::KL01, "status.", "name the status item"},
                      ChannelCase{Family::KL01, "1x", "a channel is a number"},
                      ChannelCase{Family::KL01, "", "a channel is a number"}));

TEST(Values, TextAsTheFormatSays) {
  EXPECT_EQ(value_text(Value{}), "");
  EXPECT_EQ(value_text(Value{std::int64_t{-9007199254740993}}), "-9007199254740993");
  EXPECT_EQ(value_text(Value{double{296.15f}}), "296.149994");  // a float's nine digits
  EXPECT_EQ(value_text(Value{double{1e-7f}}), "1.00000001e-07");
  EXPECT_EQ(value_text(Value{-INFINITY}), "-inf");
  EXPECT_EQ(value_text(Value{NAN}), "");
  EXPECT_EQ(iso_utc(0), "1970-01-01T00:00:00.000000Z");
  EXPECT_EQ(iso_utc(951868799999999), "2000-02-29T23:59:59.999999Z");
  EXPECT_EQ(iso_utc(-1), "1969-12-31T23:59:59.999999Z");
}

Header polled() {
  Header h;
  h.start_us = 1796802000123456;
  h.tool = "varnode 2.6.0";
  h.library = "2.5.0";
  h.interval = 0.5;
  h.modules = {{"oven", "HX01", "198.18.0.19", 1019, "oven 2", "1.0"}, {"q", "QU01", "198.18.0.15", 1015, "", "1.0"}};
  h.channels = {{"oven.3", "oven", "3", "temperature", "K", "K"}, {"q.reference", "q", "reference", "reference", "", ""}};
  return h;
}

TEST(Encoder, FailedModuleCellsStayEmptyInEveryEncoding) {
  const Value values[] = {296.15, std::int64_t{7}};
  const std::uint8_t codes[] = {6, 0};  // the oven timed out: its value must not appear
  const Stamp at{1796802000623456, 0.5};
  EXPECT_EQ(Encoder(Encoding::csv, polled()).row(at, 1, values, codes),
            "2026-12-09T07:40:00.623456Z,0.500000,1,,7,timeout,ok\n");
  EXPECT_EQ(Encoder(Encoding::jsonl, polled()).row(at, 1, values, codes),
            "{\"utc\":\"2026-12-09T07:40:00.623456Z\",\"seconds\":0.500000,\"index\":1,"
            "\"values\":{\"oven.3\":null,\"q.reference\":7},\"status\":{\"oven\":\"timeout\",\"q\":\"ok\"}}\n");
  EXPECT_EQ(Encoder(Encoding::influx, polled()).row(at, 1, values, codes),
            "varnode,module=oven,kind=HX01,serial=1019 status=\"timeout\",index=1i 1796802000623456000\n"
            "varnode,module=q,kind=QU01,serial=1015 reference=7,status=\"ok\",index=1i 1796802000623456000\n");
}

TEST(Encoder, HeaderPairsStayOnTheirLine) {
  Header h = polled();
  h.modules[1].name = "two\nlines \"quoted\"";
  const std::string text = Encoder(Encoding::csv, h).header_text();
  EXPECT_NE(text.find("# module: id=q kind=QU01 address=198.18.0.15 serial=1015 name=\"two\\nlines \\\"quoted\\\"\" "
                      "firmware=1.0\n"),
            std::string::npos)
      << text;
  EXPECT_EQ(check_header(h), "");
  h.modules[1].id = "q 1";
  EXPECT_NE(check_header(h).find("ids are made of"), std::string::npos);
}

TEST(Encoder, StreamedBlockTimesEachSample) {
  Header h = polled();
  h.streamed = true;
  h.frequency = 4;
  h.modules.resize(1);
  h.channels = {{"oven.1", "oven", "1", "voltage", "", "V"}};
  const float samples[] = {0.5f, 1.5f};
  EXPECT_EQ(Encoder(Encoding::csv, h).block({1796802000123456, 2.0}, 8, 0.004, samples, 0),
            "# event: utc=2026-12-09T07:40:00.123456Z seconds=2.000000 module=oven what=block index=8 samples=2 "
            "gap=0.004000\n"
            "2026-12-09T07:40:00.123456Z,2.000000,8,0.5,ok\n"
            "2026-12-09T07:40:00.373456Z,2.250000,9,1.5,ok\n");
  EXPECT_EQ(Encoder(Encoding::csv, h).block({1796802000123456, 2.0}, 8, std::nullopt, {}, 6),
            "# event: utc=2026-12-09T07:40:00.123456Z seconds=2.000000 module=oven what=block index=8 samples=0 "
            "gap=\n"
            "2026-12-09T07:40:00.123456Z,2.000000,8,,timeout\n");
}

}  // namespace
}  // namespace varnode::acquire
