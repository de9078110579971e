// varnode: every library operation from the command line.
#include <cstdint>
#include <cstdio>
#include <iostream>
#include <string>

#include <varnode/varnode.h>

#include "commands.hpp"

using namespace varnode::cli;

namespace {

// The tool's version and, asked of the library actually loaded, its own.
std::string version_text() {
  char vendor[64], version[64];
  std::uint32_t vendor_size = sizeof vendor, version_size = sizeof version, build = 0;
  std::string library = "unknown";
  if (get_driver(vendor, &vendor_size, version, &version_size, &build) == VARNODE_SUCCESS)
    library = std::string(version, version_size);
  return "varnode " VARNODE_TOOL_VERSION "\nlibrary " + library;
}

}  // namespace

int main(int argc, char** argv) {
  CLI::App app{"Controls I/O modules over DCP (UDP port 30000) through the varnode library.", "varnode"};
  app.require_subcommand(1);
  app.fallthrough();
  app.set_version_flag("--version", version_text, "print the tool's and the library's version");
  Context context;
  app.add_flag("--json", context.json, "print results as JSON, for programs");
  app.add_flag("--csv", context.csv, "print streamed samples as CSV (ra01/re01 measure)");
  app.add_option("--timeout", context.timeout_ms, "wait this many ms for each reply (default 1000)")
      ->check(CLI::Range(1, 65535));
  app.footer("Exit status: 0 done; 1-9 the library's result code (2 failed, 3 parameter, 4 network,\n"
             "5 not found, 6 time-out, 7 aborted, 8 reserved, 9 configuration); 64 bad arguments.\n"
             "Every command has --help, e.g. varnode kl01 write --help.\n");
  add_device_commands(app, context);
  add_digital_commands(app, context);
  add_counter_commands(app, context);
  add_analog_commands(app, context);
  add_temperature_commands(app, context);
  try {
    app.parse(argc, argv);
  } catch (const CLI::CallForHelp& help) {
    return app.exit(help);
  } catch (const CLI::CallForAllHelp& help) {
    return app.exit(help);
  } catch (const CLI::CallForVersion& version) {
    return app.exit(version);
  } catch (const CLI::ParseError& error) {
    app.exit(error);
    return 64;
  } catch (const UsageError& error) {
    std::fprintf(stderr, "varnode: %s (nothing was sent)\n", error.what());
    return 64;
  } catch (const Failure& failure) {
    if (context.json) {
      print_json({{"error",
                   {{"code", failure.code}, {"name", code_name(failure.code)}, {"meaning", code_meaning(failure.code)},
                    {"operation", failure.what}}}});
    } else {
      std::fprintf(stderr, "varnode: %s: %s (%u): %s\n", failure.what.c_str(), code_name(failure.code),
                   failure.code, code_meaning(failure.code));
    }
    return failure.code;
  }
  return 0;
}
