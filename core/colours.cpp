#include "core/colours.h"

#include <cstdlib>

namespace {

const output_colours ansi_colours = {"\033[31m", "\033[32m", "\033[0m"};
const output_colours no_colours = {"", "", ""};

}  // namespace

output_colours colours = ansi_colours;

void colours_init() {
  // The common convention: set to anything but the empty text, it asks for no colour.
  const char* no_color = getenv("NO_COLOR");
  colours = (no_color != nullptr && no_color[0] != '\0') ? no_colours : ansi_colours;
}
