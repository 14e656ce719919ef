#include <unistd.h>

#include "sv-host/setup_console.h"

namespace Sorvane::hostsim {

bool StdoutIsTerminal() {
  return isatty(STDOUT_FILENO) != 0;
}

}  // namespace Sorvane::hostsim
