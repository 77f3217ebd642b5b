// DERURUZUD-cli --discover RANGE [--json FILE]: lists the XPorts that answer on a network
// (xport/discovery.h does the scan) as a table, and as JSON with --json (- for standard
// output, the table then going to standard error).
//
// Exit status: 0 when the scan ran, also when nothing answered; 1 when the socket could not
// be had or the JSON file not written; 2 for a range that is refused, with nothing sent.
#pragma once

#include <cstdint>
#include <cstdio>
#include <string>

namespace CLI {
class App;
}

namespace ui {

class DiscoverCommand {
 public:
  // Adds --discover to app, and --json unless app already has it (the batch report shares
  // the option). Call after every other option is added.
  explicit DiscoverCommand(CLI::App& app);

  // After parsing: whether --discover was given.
  bool requested() const;
  // Runs the scan from localAddress (0: every local address) and prints to out (the
  // table) and err (notes and refusals).
  int Run(std::FILE* out, std::FILE* err, std::uint32_t localAddress = 0) const;

 private:
  CLI::App& app_;
  std::string range_;
  std::string json_;
};

}  // namespace ui
