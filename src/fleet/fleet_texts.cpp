#include "fleet/fleet_texts.h"

namespace fleet {

bool ParseLanguage(std::string_view name, Language* out) {
  if (name == "ja") {
    *out = Language::Japanese;
  } else if (name == "en") {
    *out = Language::English;
  } else {
    return false;
  }
  return true;
}

std::string Fill(std::string_view pattern, std::initializer_list<std::string_view> args) {
  std::string out;
  auto next = args.begin();
  for (std::size_t i = 0; i < pattern.size(); ++i) {
    if (pattern[i] == '%' && i + 1 < pattern.size() && pattern[i + 1] == 's' &&
        next != args.end()) {
      out += *next++;
      ++i;
    } else {
      out += pattern[i];
    }
  }
  return out;
}

}  // namespace fleet
