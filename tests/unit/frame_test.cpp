#include <gtest/gtest.h>

#include <new>

#include "api/frame.hpp"
#include "modules/analog_input.hpp"
#include "modules/analog_output.hpp"
#include "modules/digital_io.hpp"
#include "temperature/hx01.hpp"
#include "temperature/hx02.hpp"

namespace varnode {
namespace {

template <class E>
api::Result code_of() {
  return api::guarded([] { throw E{}; });
}

TEST(Frame, MapsByExactType) {
  EXPECT_EQ(code_of<Device::Exception::Failed>(), 2);
  EXPECT_EQ(code_of<Device::Exception::Parameter>(), 3);
  EXPECT_EQ(code_of<Device::Exception::Network>(), 4);
  EXPECT_EQ(code_of<Device::Exception::NotFound>(), 5);
  EXPECT_EQ(code_of<Device::Exception::Timeout>(), 6);
  EXPECT_EQ(code_of<RA01::Exception::Aborted>(), 7);
  EXPECT_EQ(code_of<RE01::Exception::Aborted>(), 7);
  EXPECT_EQ(code_of<HX01::Exception::Aborted>(), 7);
  EXPECT_EQ(code_of<HX02::Exception::Aborted>(), 7);
  EXPECT_EQ(code_of<WE01::Exception::Aborted>(), 7);
  EXPECT_EQ(code_of<RA01::Exception::Reserved>(), 8);
  EXPECT_EQ(code_of<RE01::Exception::Reserved>(), 8);
  EXPECT_EQ(code_of<HX01::Exception::Reserved>(), 8);
  EXPECT_EQ(code_of<HX02::Exception::Reserved>(), 8);
  EXPECT_EQ(code_of<WE01::Exception::Reserved>(), 8);
  EXPECT_EQ(code_of<RA01::Exception::Configuration>(), 9);
  EXPECT_EQ(code_of<RE01::Exception::Configuration>(), 9);
  EXPECT_EQ(code_of<KL01::Exception::Configuration>(), 9);
  EXPECT_EQ(code_of<KL02::Exception::Configuration>(), 9);
  EXPECT_EQ(code_of<HX01::Exception::Configuration>(), 9);
  EXPECT_EQ(code_of<HX02::Exception::Configuration>(), 9);
}

TEST(Frame, BasesAndForeignExceptionsAreOtherErrors) {
  EXPECT_EQ(code_of<Device::Exception>(), 1);
  EXPECT_EQ(code_of<RA01::Exception>(), 1);
  EXPECT_EQ(code_of<KL01::Exception>(), 1);
  EXPECT_EQ(code_of<DCP::Exception::Network>(), 1);
  EXPECT_EQ(code_of<std::bad_alloc>(), 1);
  EXPECT_EQ(api::guarded([] { throw 42; }), 1);
  EXPECT_EQ(api::guarded([] {}), 0);
}

TEST(Frame, BoolArraysAreReadAsBytes) {
  const unsigned char raw[] = {0, 1, 2, 0x80};
  const bool* flags = reinterpret_cast<const bool*>(raw);
  EXPECT_FALSE(api::flag_at(flags, 0));
  EXPECT_TRUE(api::flag_at(flags, 1));
  EXPECT_TRUE(api::flag_at(flags, 2));
  EXPECT_TRUE(api::flag_at(flags, 3));
}

struct TextCase {
  std::uint32_t capacity;
  std::string copied;
};

class DriverText : public testing::TestWithParam<TextCase> {};

TEST_P(DriverText, IsCutToCapacityWithoutTerminator) {
  char vendor[16];
  std::memset(vendor, '#', sizeof vendor);
  char version[16];
  std::uint32_t vendor_size = GetParam().capacity;
  std::uint32_t version_size = sizeof version;
  std::uint32_t build = 0;
  EXPECT_EQ(get_driver(vendor, &vendor_size, version, &version_size, &build), 0);
  EXPECT_EQ(vendor_size, GetParam().copied.size());
  EXPECT_EQ(std::string(vendor, vendor_size), GetParam().copied);
  EXPECT_EQ(vendor[vendor_size], '#');
  EXPECT_EQ(std::string(version, version_size), "2.5.0");
  EXPECT_EQ(build, 739110u);
}

INSTANTIATE_TEST_SUITE_P(Capacities, DriverText,
                         testing::Values(TextCase{0, ""}, TextCase{3, "Ter"}, TextCase{7, "Tervane"},
                                         TextCase{15, "Tervane"}));

}  // namespace
}  // namespace varnode
