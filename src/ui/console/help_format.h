// The command line's help as the programs print it: the usage forms one under another
// ("Usage: ..." then "or: ..."), then the description, and every text wrapped at the
// terminal's width,
// options' descriptions beside their names or, for a long name, on the lines below it.
// help2man turns the same text into the manual pages, so what reads well here reads well
// there.
#pragma once

#include <CLI/CLI.hpp>
#include <cstddef>
#include <string>
#include <vector>

namespace ui {

class HelpFormatter final : public CLI::Formatter {
 public:
  // forms: the usage forms after the program's name ("--address ADDR [OPTIONS]").
  HelpFormatter(std::size_t width, std::vector<std::string> forms);

  std::string make_description(const CLI::App* app) const override;
  std::string make_usage(const CLI::App* app, std::string name) const override;
  std::string make_option(const CLI::Option* opt, bool isPositional) const override;
  // The value's name only ("FILE", "ADDR ..."): no default, no "Excludes:" list.
  std::string make_option_opts(const CLI::Option* opt) const override;
  std::string make_footer(const CLI::App* app) const override;

 private:
  std::size_t width_;
  std::vector<std::string> forms_;
};

}  // namespace ui
