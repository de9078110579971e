// varnode: every library operation from the command line.
#include <algorithm>
#include <cctype>
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

std::size_t distance(const std::string& a, const std::string& b) {
  std::vector<std::size_t> row(b.size() + 1);
  for (std::size_t j = 0; j <= b.size(); ++j) row[j] = j;
  for (std::size_t i = 1; i <= a.size(); ++i) {
    std::size_t diagonal = row[0];
    row[0] = i;
    for (std::size_t j = 1; j <= b.size(); ++j) {
      const std::size_t above = row[j];
      row[j] = std::min({row[j] + 1, row[j - 1] + 1, diagonal + (a[i - 1] == b[j - 1] ? 0 : 1)});
      diagonal = above;
    }
  }
  return row[b.size()];
}

// "did you mean 'read'?" for the nearest of `names`, or the whole list
// when none is near.
std::string suggestion(const std::string& word, const std::vector<std::string>& names) {
  std::string nearest, all;
  std::size_t best = word.size();
  for (const std::string& name : names) {
    const std::size_t d = distance(word, name);
    if (d < best) best = d, nearest = name;
    all += (all.empty() ? "" : ", ") + name;
  }
  if (!nearest.empty() && best <= std::max<std::size_t>(2, word.size() / 3)) return "did you mean '" + nearest + "'?";
  return "choose " + all;
}

bool number_like(const std::string& word) {
  return word.size() > 1 && word[0] == '-' && (std::isdigit(static_cast<unsigned char>(word[1])) || word[1] == '.');
}

// The command line walked once before parsing, to name what was not
// understood (CLI11 would say only that a subcommand is required) and to
// learn which command runs.
struct Scan {
  std::vector<std::string> path;  // e.g. {"kl01", "read"}
  bool csv = false;
  std::string error;
};

const CLI::Option* find_option(CLI::App* app, const std::string& name) {
  for (; app != nullptr; app = app->get_parent()) {
    if (const CLI::Option* option = app->get_option_no_throw(name)) return option;
  }
  return nullptr;
}

std::vector<std::string> option_names(CLI::App* app) {
  std::vector<std::string> names;
  for (; app != nullptr; app = app->get_parent()) {
    for (const CLI::Option* option : std::as_const(*app).get_options()) {
      for (const std::string& l : option->get_lnames()) names.push_back("--" + l);
      for (const std::string& s : option->get_snames()) names.push_back("-" + s);
    }
  }
  return names;
}

Scan scan(CLI::App& app, int argc, char** argv) {
  Scan result;
  CLI::App* current = &app;
  for (int i = 1; i < argc; ++i) {
    const std::string word = argv[i];
    if (word == "--") break;
    if (word.size() > 1 && word[0] == '-' && !number_like(word)) {
      std::string name = word.substr(0, word.find('='));
      bool attached = name.size() < word.size();
      const CLI::Option* option = find_option(current, name);
      if (option == nullptr && name.size() > 2 && name[1] != '-') {
        option = find_option(current, name.substr(0, 2));  // -n1000
        attached = option != nullptr;
        if (attached) name = name.substr(0, 2);
      }
      if (option == nullptr) {
        result.error = "unknown option '" + name + "'; " + suggestion(name, option_names(current));
        return result;
      }
      if (name == "--csv") result.csv = true;
      // Help and the version need no command; the parser answers them.
      if (name == "--version" || name == "--help" || name == "-h") return result;
      if (option->get_items_expected_min() > 0 && !attached) ++i;
      continue;
    }
    const auto commands = current->get_subcommands([](CLI::App*) { return true; });
    if (commands.empty()) continue;  // an argument of the command
    std::vector<std::string> names;
    CLI::App* next = nullptr;
    for (CLI::App* command : commands) {
      names.push_back(command->get_name());
      if (command->get_name() == word) next = command;
    }
    if (next == nullptr) {
      result.error = "unknown command '" + word + "'; " + suggestion(word, names);
      return result;
    }
    current = next;
    result.path.push_back(word);
  }
  if (current->get_require_subcommand_min() > 0) {
    std::string names;
    for (CLI::App* command : current->get_subcommands([](CLI::App*) { return true; }))
      names += (names.empty() ? "" : ", ") + command->get_name();
    result.error = (result.path.empty() ? std::string("a command is needed") : "'" + result.path.back() +
                                                                                   "' needs a command") +
                   ": " + names;
  }
  return result;
}

bool streams(const std::string& family) { return family == "ra01" || family == "re01"; }

// Why a call failed, as far as the tool can find out by asking.
std::string explain(const Failure& failure) {
  if (!failure.cause.empty() || failure.address == 0) return failure.cause;
  const std::string family = failure.what.substr(0, failure.what.find(' '));
  const std::string where = format_address(failure.address);
  static const std::vector<std::string> families = {"kl01", "kl02", "ks01", "ks02", "qu01",
                                                    "ra01", "re01", "we01", "hx01", "hx02"};
  const bool module_command = std::find(families.begin(), families.end(), family) != families.end();
  if (module_command && failure.code == VARNODE_FAILED) {
    std::string expected = family;
    for (char& ch : expected) ch = static_cast<char>(std::toupper(static_cast<unsigned char>(ch)));
    const auto kind = module_kind(failure.address);
    if (kind && *kind != expected) return where + " answers as a " + *kind + ", not a " + expected;
    if (kind && (family == "hx01" || family == "hx02"))
      return "a listed channel has no sensor, or a reading the library cannot convert (see varnode " + family +
             " sensor --help)";
  }
  if (streams(family) && failure.code == VARNODE_RESERVED)
    return "the module is busy: a measurement may still be streaming; 'varnode " + family + " stop " + where +
           "' ends it";
  if (streams(family) && failure.code == VARNODE_NETWORK && (failure.address >> 24) == 127)
    return "streams cannot come from a loopback address; run the rack with 'varnode-sim --netns' and the tool "
           "in its namespace";
  if (failure.code == VARNODE_TIMEOUT) {
    std::uint16_t ms = 0;
    if (get_timeout(failure.address, &ms) != VARNODE_SUCCESS) return {};
    if (streams(family))
      return "no stream data from " + where + " for " + std::to_string(ms) +
             " ms: the module stopped streaming, or a datagram was lost";
    return where + " did not answer within " + std::to_string(ms) + " ms";
  }
  return {};
}

}  // namespace

namespace {

int run(int argc, char** argv) {
  CLI::App app{"Controls I/O modules over DCP (UDP port 30000) through the varnode library.", "varnode"};
  app.require_subcommand(1);
  app.fallthrough();
  app.set_version_flag("--version", version_text, "print the tool's and the library's version");
  Context context;
  app.add_flag("--json", context.json, "print results as JSON, for programs");
  app.add_flag("--csv", context.csv, "print streamed samples as CSV (ra01/re01 measure only)");
  app.add_option("--timeout", context.timeout_ms, "wait this many ms for each reply (default 1000)")
      ->check(CLI::Range(1, 65535));
  app.footer("Exit status: 0 done; 1-9 the library's result code (2 failed, 3 parameter, 4 network,\n"
             "5 not found, 6 time-out, 7 aborted, 8 reserved, 9 configuration); 64 bad arguments;\n"
             "70 a fault inside the tool; 130 interrupted. A module's text is shown with control\n"
             "characters and bytes that are not UTF-8 as \\xNN; --json writes such bytes as U+FFFD.\n"
             "Every command has --help, e.g. varnode kl01 write --help.\n");
  add_device_commands(app, context);
  add_digital_commands(app, context);
  add_counter_commands(app, context);
  add_analog_commands(app, context);
  add_temperature_commands(app, context);
  add_log_command(app, context);
  const Scan scanned = scan(app, argc, argv);
  const bool asks_help = std::any_of(argv + 1, argv + argc, [](const char* word) {
    return std::string(word) == "--help" || std::string(word) == "-h";
  });
  if (!asks_help && !scanned.error.empty()) {
    std::fprintf(stderr, "varnode: %s\n", scanned.error.c_str());
    return 64;
  }
  if (!asks_help && scanned.csv &&
      !(scanned.path.size() == 2 && streams(scanned.path[0]) && scanned.path[1] == "measure")) {
    std::string command;
    for (const std::string& word : scanned.path) command += (command.empty() ? "" : " ") + word;
    std::fprintf(stderr, "varnode: --csv: '%s' has no samples; --csv is for ra01/re01 measure (--json works everywhere)\n",
                 command.c_str());
    return 64;
  }
  try {
    app.parse(argc, argv);
  } catch (const CLI::CallForHelp& help) {
    return app.exit(help);
  } catch (const CLI::CallForAllHelp& help) {
    return app.exit(help);
  } catch (const CLI::CallForVersion& version) {
    return app.exit(version);
  } catch (const CLI::ParseError& error) {
    std::string command;
    for (const std::string& word : scanned.path) command += word + " ";
    if (!command.empty()) command.pop_back();
    const std::string where = command.empty() ? "" : command + ": ";
    const std::string help = command.empty() ? "varnode --help" : "varnode " + command + " --help";
    std::fprintf(stderr, "varnode: %s%s (%s shows how)\n", where.c_str(), error.what(), help.c_str());
    return 64;
  } catch (const UsageError& error) {
    std::fprintf(stderr, "varnode: %s (nothing was sent)\n", error.what());
    return 64;
  } catch (const Interrupted&) {
    std::fprintf(stderr, "interrupted\n");
    return 130;
  } catch (const Failure& failure) {
    const std::string cause = explain(failure);
    if (context.json) {
      nlohmann::json error{{"code", failure.code},
                           {"name", code_name(failure.code)},
                           {"meaning", code_meaning(failure.code)},
                           {"operation", failure.what}};
      if (!cause.empty()) error["cause"] = cause;
      print_json({{"error", error}});
    } else {
      std::fprintf(stderr, "varnode: %s: %s (%u): %s\n", visible(failure.what).c_str(), code_name(failure.code),
                   failure.code, cause.empty() ? code_meaning(failure.code) : visible(cause).c_str());
    }
    return failure.code;
  }
  return 0;
}

}  // namespace

// Whatever escapes the commands (memory, a stream, the JSON library) ends
// here with a message and status 70 rather than an abort.
int main(int argc, char** argv) {
  try {
    return run(argc, argv);
  } catch (const std::exception& error) {
    std::fprintf(stderr, "varnode: internal error: %s (exit status 70)\n", visible(error.what()).c_str());
  } catch (...) {
    std::fprintf(stderr, "varnode: internal error (exit status 70)\n");
  }
  return 70;
}
