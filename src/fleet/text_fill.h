// Filling the catalog's batch texts, whose "%s" stand for texts given in order (no printf:
// an argument never needs a buffer size or a matching conversion).
#pragma once

#include <initializer_list>
#include <string>
#include <string_view>

namespace fleet {

// pattern with each "%s" replaced by the next argument; a "%s" without one is left as is.
std::string Fill(std::string_view pattern, std::initializer_list<std::string_view> args);

}  // namespace fleet
