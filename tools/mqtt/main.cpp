// varnode-mqtt: a bridge from I/O modules to an MQTT broker.
#include <csignal>
#include <cstdio>
#include <fstream>
#include <sstream>

#include <CLI/CLI.hpp>
#include <mosquitto.h>

#include "bridge.hpp"
#include "description.hpp"

namespace {

std::atomic<bool> stop{false};

void on_signal(int) { stop = true; }

// Exit statuses as the other tools use them (sysexits).
constexpr int usage_error = 64, no_input = 66;

}  // namespace

int main(int argc, char** argv) {
  CLI::App app{
      "Publishes the readings, identity, status and availability of I/O modules to an MQTT broker and applies the "
      "commands it receives on their .../set topics.\n"
      "Topics: varnode/<site>/<module>/<family>/<channel> (readings), .../<family>/stream (streamed blocks), "
      ".../info, .../status, .../availability (retained), .../set (commands) and .../result (their results); "
      "varnode/<site>/bridge/<client id>/availability and .../status for the bridge itself.",
      "varnode-mqtt"};
  std::string path;
  mqtt_bridge::Options options;
  bool check = false, version = false;
  app.add_option("-c,--config", path, "bridge description (JSON)");
  app.add_flag("--read-only", options.read_only, "publish only: subscribe to no command topic");
  app.add_flag("--check", check, "check the description and exit");
  app.add_flag("-v,--verbose", options.verbose, "report connections, modules lost and back, and commands on stderr");
  app.add_flag("--version", version, "print the version and exit");
  app.footer(
      "Exit status: 0 after SIGTERM or SIGINT (the bridge publishes \"offline\" first), 1 when the broker refuses "
      "the credentials, 64 for a mistake in the description (named by its key path), 66 when the file cannot be "
      "read.");
  CLI11_PARSE(app, argc, argv);
  if (version) {
    std::printf("varnode-mqtt %s\n", VARNODE_TOOL_VERSION);
    return 0;
  }
  if (path.empty()) {
    std::fprintf(stderr, "varnode-mqtt: --config FILE is required\n");
    return usage_error;
  }
  std::ifstream in(path);
  if (!in) {
    std::fprintf(stderr, "varnode-mqtt: %s: cannot be read\n", path.c_str());
    return no_input;
  }
  std::stringstream text;
  text << in.rdbuf();
  mqtt_bridge::Description description;
  try {
    description = mqtt_bridge::parse_description(text.str());
  } catch (const mqtt_bridge::DescriptionError& e) {
    std::fprintf(stderr, "varnode-mqtt: %s: %s\n", path.c_str(), e.what());
    return usage_error;
  }
  if (check) {
    std::printf("%s: site %s, %zu modules, broker %s:%u\n", path.c_str(), description.site.c_str(),
                description.modules.size(), description.broker.host.c_str(), description.broker.port);
    return 0;
  }
  std::signal(SIGTERM, on_signal);
  std::signal(SIGINT, on_signal);
  std::signal(SIGPIPE, SIG_IGN);
  mosquitto_lib_init();
  const int status = mqtt_bridge::run_bridge(description, options, stop);
  mosquitto_lib_cleanup();
  return status;
}
