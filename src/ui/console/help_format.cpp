#include "ui/console/help_format.h"

#include <algorithm>

#include "panel/text_catalog.h"
#include "ui/console/console_text.h"

namespace ui {

HelpFormatter::HelpFormatter(std::size_t width, std::vector<std::string> forms)
    : width_(std::max<std::size_t>(width, 40)), forms_(std::move(forms)) {}

// The description follows the usage lines (make_usage), as help2man expects it.
std::string HelpFormatter::make_description(const CLI::App*) const {
  return {};
}

std::string HelpFormatter::make_usage(const CLI::App* app, std::string name) const {
  if (name.empty()) name = app->get_name();
  const std::string usage = std::string(get_label("Usage")) + ": ";
  // "or:" under "Usage:", right-aligned to it, as GNU programs (and help2man) have it.
  const std::string orLabel = std::string(panel::Text(panel::TextId::HelpUsageOr)) + ": ";
  const std::size_t column = std::max(DisplayWidth(usage), DisplayWidth(orLabel) + 2);
  std::string out;
  for (std::size_t i = 0; i < forms_.size(); ++i) {
    const std::string label =
        i == 0 ? PadTo(usage, column) : std::string(column - DisplayWidth(orLabel), ' ') + orLabel;
    // Wrapped in the column, continued under the first option, then labelled.
    const std::string form =
        Wrap(std::string(column, ' ') + name + " " + forms_[i], width_, name.size() + 1);
    out += label + form.substr(column) + "\n";
  }
  const std::string description = app->get_description();
  if (!description.empty()) out += "\n" + Wrap(description, width_) + "\n";
  return out;
}

std::string HelpFormatter::make_option_opts(const CLI::Option* opt) const {
  if (opt->get_type_size() == 0 || opt->get_type_name().empty()) return {};
  const bool many = opt->get_expected_max() == CLI::detail::expected_max_vector_size;
  return " " + std::string(get_label(opt->get_type_name())) + (many ? " ..." : "");
}

std::string HelpFormatter::make_option(const CLI::Option* opt, bool isPositional) const {
  const std::string name = "  " + make_option_name(opt, isPositional) + make_option_opts(opt);
  const std::string description = make_option_desc(opt);
  const std::size_t column = get_column_width();
  // Beside the name when at least two spaces stand between them; else on the next line.
  std::string first = name;
  if (DisplayWidth(name) + 2 > column) {
    first += "\n" + std::string(column, ' ');
  } else {
    first = PadTo(name, column);
  }
  // The description is wrapped as if it stood in the column, then put beside the name.
  const std::string body = Wrap(std::string(column, ' ') + description, width_);
  return first + body.substr(column) + "\n";
}

std::string HelpFormatter::make_footer(const CLI::App* app) const {
  const std::string footer = app->get_footer();
  if (footer.empty()) return {};
  // A paragraph's continuation lines start where it did; an example's description lines
  // are indented already.
  return Wrap(footer, width_, 0) + "\n";
}

}  // namespace ui
