// The command-line tool and the library against a virtual rack in a
// private network namespace: every subcommand once, JSON read back, and
// misbehaving modules giving their documented result codes.
#include <poll.h>
#include <pty.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <charconv>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <nlohmann/json.hpp>
#include <sstream>
#include <string>

#include "sim_process.hpp"
#include "varnode/varnode.h"

namespace {

using nlohmann::json;

struct Outcome {
  int status = -1;
  std::string out;
};

// Runs a program on the client side (this process lives there) and waits;
// `errors` keeps what it writes to stderr in `out`.
Outcome run_program(const std::string& program, const std::string& arguments, bool errors) {
  Outcome run;
  const std::string command = program + " " + arguments + (errors ? " 2>&1" : " 2>/dev/null");
  FILE* pipe = ::popen(command.c_str(), "r");
  if (pipe == nullptr) return run;
  char buffer[4096];
  for (std::size_t n; (n = std::fread(buffer, 1, sizeof buffer, pipe)) > 0;) run.out.append(buffer, n);
  const int status = ::pclose(pipe);
  run.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  return run;
}

Outcome tool(const std::string& arguments) { return run_program(VARNODE_CLI_PATH, arguments, false); }

json tool_json(const std::string& arguments, int status = 0) {
  const Outcome run = tool("--json " + arguments);
  EXPECT_EQ(run.status, status) << arguments << "\n" << run.out;
  try {
    return json::parse(run.out);
  } catch (const json::exception&) {
    ADD_FAILURE() << arguments << ": not JSON: " << run.out;
    return {};
  }
}

// Starts the simulator in its own namespaces and moves this process into
// the client's; stops it at the end.
class Rack : public testing::Environment {
 public:
  void SetUp() override {
    ASSERT_TRUE(sim_.start(VARNODE_SIM_PATH, "vn-it-" + std::to_string(::getpid()), RACK_PATH))
        << "the simulator did not start";
    ASSERT_TRUE(sim_.join_client());
  }
  void TearDown() override { sim_.stop(); }

 private:
  SimProcess sim_;
};

constexpr std::uint32_t at(std::uint32_t last) { return 0xC6120000u | last; }  // 198.18.0.x

TEST(Tool, FindListsEveryModuleWithItsIdentity) {
  const json found = tool_json("find");
  ASSERT_EQ(found.size(), 21u);
  EXPECT_EQ(found[0]["address"], "198.18.0.11");
  EXPECT_EQ(found[0]["type"], "KL01");
  EXPECT_EQ(found[1]["type"], "KL02");  // legacy identity layout
  EXPECT_EQ(found[9]["type"], "HX02");
  const json located = tool_json("find 1017 1013");
  ASSERT_EQ(located.size(), 2u);
  EXPECT_EQ(located[0]["address"], "198.18.0.17");
  EXPECT_EQ(located[1]["address"], "198.18.0.13");
  EXPECT_EQ(tool_json("find 999", 5)["error"]["name"], "not found");
  // A full list says that more may have answered, and how to see them.
  const Outcome capped = run_program(VARNODE_CLI_PATH, "--json find --max 3", true);
  EXPECT_EQ(capped.status, 0);
  EXPECT_NE(capped.out.find("varnode: find lists at most 3 modules and that many answered, so there may be more; "
                            "--max N raises the limit\n"),
            std::string::npos)
      << capped.out;
}

TEST(Tool, InfoStatusResetBurnTimeout) {
  const json info = tool_json("info 198.18.0.12");
  EXPECT_EQ(info["serial_number"], 1012);
  EXPECT_EQ(info["ip_address"], "198.18.0.12");
  EXPECT_EQ(info["production_date"], "2022-11-04");
  const json status = tool_json("status 198.18.0.18");
  EXPECT_TRUE(status["ok"].get<bool>());
  EXPECT_EQ(tool_json("we01 set 198.18.0.18 1=12.5 3=-2")["result"], "success");
  const json after = tool_json("status 198.18.0.18");
  EXPECT_FALSE(after["ok"].get<bool>());
  for (const json& item : after["items"]) {
    if (item["name"] == "output 1") {
      EXPECT_FLOAT_EQ(item["value"].get<float>(), 12.5f);
    }
  }
  EXPECT_EQ(tool_json("reset 198.18.0.18")["result"], "success");
  EXPECT_TRUE(tool_json("status 198.18.0.18")["ok"].get<bool>());
  EXPECT_EQ(tool_json("burn 198.18.0.11 c0ffee")["bytes"], 3);
  EXPECT_EQ(tool_json("info 198.18.0.11")["burned_data"], "c0ffee");
  EXPECT_EQ(tool_json("timeout 198.18.0.11 250")["timeout_ms"], 250);
  EXPECT_EQ(tool("burn 198.18.0.11 " + std::string(130, 'a')).status, 64);
}

TEST(Tool, ConfigureMovesTheModuleWithThatSerialNumber) {
  EXPECT_EQ(tool_json("configure 2040 --address 198.18.0.44 --text moved")["result"], "success");
  json located;
  for (int attempt = 0; attempt < 10; ++attempt) {
    located = tool_json("find 2040");
    if (located.size() == 1 && located[0]["address"] == "198.18.0.44") break;
  }
  EXPECT_EQ(located[0]["address"], "198.18.0.44");
  EXPECT_EQ(tool_json("info 198.18.0.44")["configured_text"], "moved");
}

// A module's text is whatever bytes it sends: here bytes that are not
// UTF-8 and a terminal's title, bell and clear-screen sequences, handed to
// the module as its configure text and read back by info and find.
TEST(Tool, HostileModuleTextNeitherAbortsNorReachesTheTerminal) {
  const std::string text = R"x("$(printf 'ok\377\376\033]0;owned\007\033[2J\302\233x')")x";
  EXPECT_EQ(tool_json("configure 1014 --address 198.18.0.14 --text " + text)["result"], "success");
  std::string got;
  for (int attempt = 0; attempt < 20 && got.rfind("ok", 0) != 0; ++attempt) {
    const json info = tool_json("info 198.18.0.14");
    if (info.is_object() && info["configured_text"].is_string()) got = info["configured_text"];
  }
  EXPECT_EQ(got, "ok\xEF\xBF\xBD\xEF\xBF\xBD\x1b]0;owned\x07\x1b[2J\xC2\x9B" "x");
  const Outcome plain = run_program(VARNODE_CLI_PATH, "info 198.18.0.14", true);
  EXPECT_EQ(plain.status, 0);
  EXPECT_NE(plain.out.find(R"(ok\xff\xfe\x1b]0;owned\x07\x1b[2J\xc2\x9bx)"), std::string::npos) << plain.out;
  EXPECT_EQ(plain.out.find('\033'), std::string::npos);
  EXPECT_EQ(plain.out.find('\007'), std::string::npos);
}

TEST(Tool, DigitalModules) {
  for (const char* family : {"kl01 ", "kl02 "}) {
    const std::string where = std::string(family) + (family[3] == '1' ? "198.18.0.11" : "198.18.0.12");
    const std::string prefix = std::string(family);
    EXPECT_EQ(tool_json(prefix + "direction " + where.substr(5) + " 5=out")["result"], "success");
    EXPECT_EQ(tool_json(prefix + "write " + where.substr(5) + " 1=1 5=on")["result"], "success");
    const json levels = tool_json(prefix + "read " + where.substr(5) + " 5 1 2 6")["levels"];
    EXPECT_TRUE(levels["1"].get<bool>());
    EXPECT_TRUE(levels["5"].get<bool>());
    EXPECT_FALSE(levels["2"].get<bool>());
    EXPECT_TRUE(levels["6"].get<bool>());  // wired high
    EXPECT_EQ(tool_json(prefix + "write " + where.substr(5) + " 7=1", 9)["error"]["name"], "configuration");
  }
  EXPECT_EQ(tool_json("ks01 write 198.18.0.13 2=on")["result"], "success");
  EXPECT_FLOAT_EQ(tool_json("ks01 measure 198.18.0.13 2 3")["values"]["2"].get<float>(), 0.5f);
  EXPECT_EQ(tool_json("ks02 write 198.18.0.14 8=on")["result"], "success");
}

TEST(Tool, Counter) {
  EXPECT_EQ(tool_json("qu01 clear 198.18.0.15 1 2")["result"], "success");
  EXPECT_EQ(tool_json("qu01 mode 198.18.0.15 1=2")["result"], "success");
  EXPECT_EQ(tool_json("qu01 enable 198.18.0.15 1")["result"], "success");
  json read;
  do read = tool_json("qu01 read 198.18.0.15 1 2");
  while (read["counts"]["1"].get<std::int64_t>() < 10);
  EXPECT_EQ(read["counts"]["2"], 0);
  EXPECT_GT(read["reference"].get<std::int64_t>(), 0);
  EXPECT_EQ(tool_json("qu01 disable 198.18.0.15 1")["result"], "success");
  EXPECT_EQ(tool_json("qu01 read 198.18.0.15")["counts"].size(), 4u);
}

TEST(Tool, AnalogInputsStream) {
  EXPECT_EQ(tool_json("re01 frequency 198.18.0.17 1500")["result"], "success");
  const json m = tool_json("re01 measure 198.18.0.17 1 3 -n 1000 -f 1000");
  ASSERT_EQ(m["values"]["1"].size(), 1000u);
  ASSERT_EQ(m["values"]["3"].size(), 1000u);
  // A slow ramp: consecutive samples rise by 0.1 V/s.
  EXPECT_NEAR(m["values"]["1"][999].get<double>() - m["values"]["1"][0].get<double>(), 0.0999, 1e-3);
  const Outcome csv = tool("--csv ra01 measure 198.18.0.16 2 -n 300 -f 3000");
  EXPECT_EQ(csv.status, 0);
  EXPECT_EQ(std::count(csv.out.begin(), csv.out.end(), '\n'), 301);
  EXPECT_EQ(csv.out.substr(0, csv.out.find('\n')), "sample,seconds,channel_2");
  EXPECT_EQ(tool_json("ra01 stop 198.18.0.16")["result"], "success");
  EXPECT_EQ(tool_json("ra01 frequency 198.18.0.16 25")["result"], "success");
  EXPECT_EQ(tool_json("ra01 measure 198.18.0.16 1 -n 10 -f 100", 9)["error"]["name"], "configuration");
  EXPECT_EQ(tool("ra01 measure 198.18.0.16 9").status, 64);
  // Chunks that come in swapped pairs are placed by their offsets.
  const json swapped = tool_json("ra01 measure 198.18.0.39 1 2 -n 1000 -f 3000");
  EXPECT_EQ(swapped["values"]["2"].size(), 1000u);
  // Every chunk sent twice: the repeats are dropped and no sample is left a
  // zero-filled hole (the sine on channel 1 never comes near 0).
  const json doubled = tool_json("ra01 measure 198.18.0.41 1 -n 2000 -f 3000");
  ASSERT_EQ(doubled["values"]["1"].size(), 2000u);
  for (const json& value : doubled["values"]["1"]) EXPECT_GT(value.get<double>(), 0.001);
}

TEST(Tool, Temperatures) {
  // The rack computes its readings with its own curves from the same sensor
  // data; the two interpolations agree far inside the tolerance.
  const double tolerance = 0.05;
  EXPECT_EQ(tool_json("hx01 frequency 198.18.0.19 50")["result"], "success");
  EXPECT_EQ(tool_json("hx01 sensor 198.18.0.19 1=K")["result"], "success");
  const json hx01 = tool_json("hx01 measure 198.18.0.19 1")["temperatures"]["1"];
  EXPECT_NEAR(hx01["kelvin"].get<double>(), 373.15, tolerance);
  EXPECT_NEAR(hx01["celsius"].get<double>(), 100, tolerance);
  EXPECT_EQ(tool_json("hx01 measure 198.18.0.19 8", 9)["error"]["code"], 9);  // no sensor there
  EXPECT_EQ(tool_json("hx02 frequency 198.18.0.20 100")["result"], "success");
  EXPECT_EQ(tool_json("hx02 sensor 198.18.0.20 1=pt100")["result"], "success");
  const json hx02 = tool_json("hx02 measure 198.18.0.20 1")["temperatures"]["1"];
  EXPECT_NEAR(hx02["kelvin"].get<double>(), 373.15, 0.05);
  EXPECT_EQ(tool("hx02 sensor 198.18.0.20 1=pt100,range=3").status, 64);
}

TEST(Tool, MisbehavingModulesGiveTheirResultCodes) {
  struct Case {
    const char* arguments;
    int code;
  };
  for (const Case& c : {Case{"--timeout 500 ra01 measure 198.18.0.31 1 -n 2000 -f 3000", 7},
                        Case{"--timeout 500 re01 measure 198.18.0.32 1 -n 2000 -f 3000", 6},
                        Case{"--timeout 500 re01 measure 198.18.0.33 1 -n 10 -f 100", 8},
                        Case{"--timeout 500 kl01 read 198.18.0.34 1", 9},
                        Case{"--timeout 500 kl02 read 198.18.0.35 1", 6},
                        Case{"--timeout 500 ks01 measure 198.18.0.36 1", 6},
                        Case{"--timeout 500 qu01 read 198.18.0.37 1", 0},
                        Case{"--timeout 1000 hx01 measure 198.18.0.38 1", 0},
                        Case{"--timeout 100 hx01 measure 198.18.0.38 1", 6},
                        Case{"--timeout 500 info 198.18.0.99", 6}}) {
    const Outcome run = tool(std::string("--json ") + c.arguments);
    EXPECT_EQ(run.status, c.code) << c.arguments;
    if (c.code != 0) {
      EXPECT_EQ(json::parse(run.out)["error"]["code"], c.code) << c.arguments;
    }
  }
}

// What a user sees when something is wrong: the cause in words and the
// exit status, for the tool and the rack.
TEST(Messages, NameTheCause) {
  char folder_template[] = "/tmp/vn-messages-XXXXXX";
  const std::string folder = ::mkdtemp(folder_template);
  const auto file = [&](const std::string& name, const std::string& text) {
    std::ofstream(folder + "/" + name) << text;
    return folder + "/" + name;
  };
  const std::string misspelled = file("misspelled.json", R"({"modules": [{"kind": "KL01"}, {"kind": "KS01"},
      {"kind": "RA01", "faults": [{"fault": "drop", "probabilty": 0.01}]}]})");
  const std::string mistyped = file("mistyped.json", R"({"modules": [{"kind": "KL01", "serial": "1011"}]})");
  const std::string broken = file("broken.json", "{\n  \"modules\": [\n    {\"kind\": \"KL01\"},\n  ]\n}\n");
  const std::string named = file("named.json", R"({"modules": [{"kind": "RA01", "faults":
      [{"fault": "drop", "commands": ["measure", "stop", "0x0408"]}]}]})");
  const std::string misnamed = file("misnamed.json", R"({"modules": [{"kind": "RA01", "faults":
      [{"fault": "drop", "commands": ["mesure"]}]}]})");
  const std::string deep = file("deep.json", "{\"modules\": " + std::string(100000, '[') + "]}");
  const std::string huge_serial = file("serial.json", R"({"modules": [{"kind": "KL01", "serial": 4294967297}]})");
  const std::string long_reply = file("long.json", R"({"modules": [{"kind": "KL01", "faults":
      [{"fault": "over_long", "bytes": 4000000000}]}]})");
  std::string items;
  for (int i = 0; i < 100; ++i) items += std::string(i ? "," : "") + "{\"name\": \"item " + std::to_string(i) + "\"}";
  const std::string many_items = file("items.json", R"({"modules": [{"kind": "KL01", "status": [)" + items + "]}]}");
  const std::string broadcast_client = file("client.json", R"({"client": "198.18.0.255",
      "modules": [{"kind": "KL01", "address": "198.18.0.11"}]})");
  const std::string example = folder + "/example.json";
  run_program(VARNODE_SIM_PATH, "--example >" + example, false);
  struct Case {
    bool sim;
    std::string arguments;
    int status;
    std::string message;
  };
  const Case cases[] = {
      {false, "kl01 raed 198.18.0.11 1", 64, "varnode: unknown command 'raed'; did you mean 'read'?"},
      {false, "--jsn find", 64, "varnode: unknown option '--jsn'; did you mean '--json'?"},
      {false, "re01 measure 198.18.0.17 1 --sample 10", 64, "varnode: unknown option '--sample'; did you mean '--samples'?"},
      {false, "kl01", 64, "varnode: 'kl01' needs a command: read, write, direction"},
      {false, "we01 set 198.18.0.18 1=nan", 64, "varnode: value 'nan' is not a finite number (nothing was sent)"},
      {false, "we01 set 198.18.0.18 2=-inf", 64, "varnode: value '-inf' is not a finite number (nothing was sent)"},
      {false, "hx01 sensor 198.18.0.19 1=Q", 64,
       "varnode: sensor 'Q' is unknown; choose none, voltage, B, C, D, E, G, J, K, M, N, P, R, S, T (or a code 0 "
       "to 14) (nothing was sent)"},
      {false, "hx02 sensor 198.18.0.20 1=k", 64, "varnode: sensor 'k' is for HX01, not HX02 (nothing was sent)"},
      {false, "hx01 sensor 198.18.0.19 1=k", 0, "hx01 sensor 198.18.0.19: done"},
      {false, "hx02 sensor 198.18.0.20 3=PTC1000", 0, "hx02 sensor 198.18.0.20: done"},
      {false, "--csv kl01 read 198.18.0.11 1", 64,
       "varnode: --csv: 'kl01 read' has no samples; --csv is for ra01/re01 measure (--json works everywhere)"},
      {false, "kl01 read 198.18.0.12 1", 2,
       "varnode: kl01 read 198.18.0.12: failed (2): 198.18.0.12 answers as a KL02, not a KL01"},
      {false, "hx01 measure 198.18.0.19 8", 9,
       "varnode: hx01 measure 198.18.0.19: configuration (9): channel 8 has no sensor; choose one with 'varnode "
       "hx01 sensor 198.18.0.19 8=K'"},
      {false, "find 999", 5, "varnode: find by serial number: not found (5): serial number 999 did not answer"},
      {false, "--timeout 200 info 198.18.0.99", 6,
       "varnode: info 198.18.0.99: time-out (6): 198.18.0.99 did not answer within 200 ms"},
      {false, "re01 measure 198.18.0.33 1 -n 10 -f 100", 8,
       "varnode: re01 measure 198.18.0.33: reserved (8): the module is busy: a measurement may still be "
       "streaming; 'varnode re01 stop 198.18.0.33' ends it"},
      {false, "hx01 measure 198.18.0.19 4", 0, "      4  0.0125 V  -"},
      {true, "--list --config " + misspelled, 64, "varnode-sim: modules[2].faults[0]: unknown key \"probabilty\""},
      {true, "--list --config " + mistyped, 64, "varnode-sim: modules[0].serial: a whole number from 0, not \"1011\""},
      {true, "--list --config " + broken, 64,
       "varnode-sim: " + broken + ":4:3: syntax error while parsing value - unexpected ']'; expected '[', '{', or a literal"},
      {true, "--list --config " + folder + "/absent.json", 66,
       "varnode-sim: " + folder + "/absent.json: No such file or directory"},
      {true, "--list --config " + named, 0, "fault: drop on 0400 0404 0408"},
      {true, "--list --config " + misnamed, 64,
       "varnode-sim: modules[0]: faults[0]: commands: 'mesure' is no command of a RA01 (measure, stop, frequency, "
       "reset, info, status, configure, burn, or a code such as \"0x0301\")"},
      {true, std::string("--list --config ") + RACK_PATH, 0, "fault: abort after 2 chunks"},
      {true, "--list --config " + deep, 64, "varnode-sim: " + deep + ": nested more than 32 levels deep"},
      {true, "--list --config " + huge_serial, 64, "varnode-sim: modules[0].serial: at most 4294967295, not 4294967297"},
      {true, "--list --config " + long_reply, 64,
       "varnode-sim: modules[0].faults[0].bytes: at most 65507, not 4000000000"},
      {true, "--list --config " + many_items, 64, "varnode-sim: modules[0].status: at most 64 items, not 100"},
      {true, "--list --config " + broadcast_client, 64,
       "varnode-sim: client: 198.18.0.255 is not a host address on a /24 link"},
      {true, "--list --config " + example, 0, "(these addresses need --netns)"},
  };
  for (const Case& c : cases) {
    const Outcome run = run_program(c.sim ? VARNODE_SIM_PATH : VARNODE_CLI_PATH, c.arguments, true);
    EXPECT_EQ(run.status, c.status) << c.arguments << "\n" << run.out;
    EXPECT_NE(run.out.find(c.message + "\n"), std::string::npos) << c.arguments << "\n" << run.out;
  }
  std::system(("rm -rf " + folder).c_str());
}

// Every number the tool prints is the shortest text of a float: read back
// as a float and printed again, it is the same text.
TEST(Tool, NumbersPrintAsTheirShortestFloat) {
  const auto shortest = [](const std::string& text) {
    const auto value = static_cast<float>(std::strtod(text.c_str(), nullptr));
    char out[32];
    return std::string(out, std::to_chars(out, out + sizeof out, value).ptr);
  };
  std::size_t checked = 0;
  const Outcome csv = tool("--csv re01 measure 198.18.0.17 1 2 3 -n 200 -f 1000");
  ASSERT_EQ(csv.status, 0);
  std::istringstream lines(csv.out.substr(csv.out.find('\n') + 1));
  for (std::string line; std::getline(lines, line);) {
    std::istringstream fields(line);
    std::string field;
    for (int column = 0; std::getline(fields, field, ','); ++column) {
      if (column < 2) continue;  // sample number and seconds
      EXPECT_EQ(field, shortest(field)) << line;
      ++checked;
    }
  }
  // JSON as printed; a whole number keeps its ".0" there.
  const Outcome raw = tool("--json re01 measure 198.18.0.17 1 2 3 -n 200 -f 1000");
  ASSERT_EQ(raw.status, 0);
  std::istringstream samples(raw.out.substr(raw.out.find("\"values\"")));
  for (std::string line; std::getline(samples, line);) {
    const auto start = line.find_first_of("-0123456789");
    if (start == std::string::npos || line.find('"') != std::string::npos) continue;
    std::string number = line.substr(start, line.find_first_of(", ", start) - start);
    if (number.ends_with(".0")) number.resize(number.size() - 2);
    EXPECT_EQ(number, shortest(number)) << line;
    ++checked;
  }
  EXPECT_EQ(checked, 1200u);
}

// Ctrl-C (or SIGTERM) during a stream stops the module, ends the progress
// line and exits 130; the next measurement is taken, not refused as busy.
// A rack killed outright, which no handler can see, still leaves no
// namespace behind.
TEST(Rack, KilledRackLeavesNoNamespace) {
  const std::string name = "vn-killed-" + std::to_string(::getpid());
  SimProcess sim;
  ASSERT_TRUE(sim.start(VARNODE_SIM_PATH, name, RACK_PATH));
  sim.kill_now();
  bool gone = false;
  for (int attempt = 0; attempt < 1000 && !gone; ++attempt) {  // a safety limit of about 10 s
    gone = ::access(("/run/netns/" + name).c_str(), F_OK) != 0 &&
           ::access(("/run/netns/" + name + "-rack").c_str(), F_OK) != 0;
    if (!gone) ::usleep(10000);
  }
  EXPECT_TRUE(gone);
}

TEST(Tool, InterruptedStreamLeavesTheModuleReady) {
  for (const int signal : {SIGINT, SIGTERM}) {
    int terminal = -1;
    const pid_t pid = ::forkpty(&terminal, nullptr, nullptr, nullptr);
    ASSERT_GE(pid, 0);
    if (pid == 0) {
      ::execl(VARNODE_CLI_PATH, "varnode", "re01", "measure", "198.18.0.17", "1", "2", "-n", "200000", "-f", "1000",
              static_cast<char*>(nullptr));
      _exit(127);
    }
    // The progress line shows once the stream is under way; the safety
    // limit only keeps a broken tool from hanging the suite.
    std::string seen;
    bool signalled = false;
    char buffer[512];
    for (;;) {
      pollfd p{terminal, POLLIN, 0};
      if (::poll(&p, 1, 60000) <= 0) break;
      const ssize_t n = ::read(terminal, buffer, sizeof buffer);
      if (n <= 0) break;
      seen.append(buffer, static_cast<std::size_t>(n));
      if (!signalled && seen.find(" s left") != std::string::npos) {
        ::kill(pid, signal);
        signalled = true;
      }
    }
    int status = 0;
    ::waitpid(pid, &status, 0);
    ::close(terminal);
    EXPECT_TRUE(signalled) << seen;
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 130) << seen;
    const auto progress = seen.find("\rre01 measure: ");
    EXPECT_NE(progress, std::string::npos) << seen;
    EXPECT_NE(seen.find(" of 400,000 samples, 2,000/s, ", progress), std::string::npos) << seen;
    // The progress line is blanked before the next words.
    EXPECT_NE(seen.find(" \rre01 measure 198.18.0.17: stopping the stream\r\n"), std::string::npos) << seen;
    EXPECT_EQ(seen.substr(seen.size() - 13), "interrupted\r\n") << seen;
    EXPECT_EQ(tool("re01 measure 198.18.0.17 1 -n 100 -f 1000").status, 0);
  }
}

TEST(Library, StreamsStraightFromTheExports) {
  const std::uint8_t channels[] = {3, 1};
  std::vector<float> values(2 * 500);
  auto size = static_cast<std::uint32_t>(values.size());
  ASSERT_EQ(re01_measure(at(17), channels, 2, 500, 1000.0f, values.data(), &size), VARNODE_SUCCESS);
  EXPECT_EQ(size, 1000u);
  EXPECT_EQ(ra01_measure(at(31), channels, 2, 2000, 3000.0f, values.data(), &size), VARNODE_PARAMETER);
  values.resize(2 * 2000);
  size = static_cast<std::uint32_t>(values.size());
  EXPECT_EQ(ra01_measure(at(31), channels, 2, 2000, 3000.0f, values.data(), &size), VARNODE_ABORTED);
  std::uint32_t addresses[32];
  std::uint32_t found = 32;
  ASSERT_EQ(find(addresses, &found, nullptr, 0), VARNODE_SUCCESS);
  EXPECT_EQ(found, 21u);
}

}  // namespace

int main(int argc, char** argv) {
  testing::InitGoogleTest(&argc, argv);
  if (::geteuid() != 0) {
    std::printf("SKIPPED: integration tests need root for network namespaces\n");
    return 77;
  }
  testing::AddGlobalTestEnvironment(new Rack);
  return RUN_ALL_TESTS();
}
