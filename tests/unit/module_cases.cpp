#include "module_cases.hpp"

#include <iomanip>

#include "device/device.hpp"
#include "support/fake_module.hpp"
#include "support/registry.hpp"
#include "varnode/varnode.h"

namespace varnode::test {
namespace {

std::string hex(const Bytes& bytes) {
  std::ostringstream out;
  for (const std::uint8_t b : bytes) out << std::hex << std::setw(2) << std::setfill('0') << +b << ' ';
  return out.str();
}

TEST_P(ModuleExchange, SendsOneRequestAndJudgesTheReply) {
  const ExchangeCase& c = GetParam();
  FakeModule module([&](const Request& request) {
    std::vector<Reply> replies;
    if (c.reply) replies.push_back(answer(request, c.reply->code, c.reply->payload));
    return replies;
  });
  if (!c.reply) {
    ASSERT_EQ(set_timeout(module.host(), 30), 0);
  }
  std::string outputs;
  EXPECT_EQ(c.call(module.host(), outputs), c.result);
  EXPECT_EQ(outputs, c.outputs);
  const auto requests = module.requests();
  ASSERT_EQ(requests.size(), 1u);
  EXPECT_EQ(requests[0].code, c.request.code);
  EXPECT_EQ(hex(requests[0].payload), hex(c.request.payload));
  EXPECT_EQ(requests[0].raw, DCP::encode(c.request.code, requests[0].transaction_id, c.request.payload));
}

TEST_P(ModuleRefusal, ReturnsParameterAndSendsNothing) {
  const RefusalCase& c = GetParam();
  FakeModule module;
  std::string outputs;
  EXPECT_EQ(c.call(module.host(), outputs), VARNODE_PARAMETER);
  EXPECT_EQ(outputs, c.outputs);
  EXPECT_TRUE(module.requests().empty());
  EXPECT_EQ(is_registered(module.address()), c.registered);
}

}  // namespace
}  // namespace varnode::test
