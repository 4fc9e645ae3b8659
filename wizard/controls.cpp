#include "wizard/controls.h"

#include <fmt/format.h>

namespace corvane::wizard {

std::string Indexed(std::string_view array, int index) { return fmt::format("{}_{}", array, index); }

Control& Controls::Add(const std::string& name, Control control) {
  return controls_.insert_or_assign(name, std::move(control)).first->second;
}

}  // namespace corvane::wizard
