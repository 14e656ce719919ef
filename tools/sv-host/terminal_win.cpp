#include <windows.h>

#include "sv-host/setup_console.h"

namespace Sorvane::hostsim {

bool StdoutIsTerminal() {
  HANDLE out = GetStdHandle(STD_OUTPUT_HANDLE);
  DWORD mode = 0;
  if (out == INVALID_HANDLE_VALUE || !GetConsoleMode(out, &mode))
    return false;
  // UTF-8 block characters and colour sequences need both of these.
  SetConsoleOutputCP(CP_UTF8);
  SetConsoleMode(out, mode | ENABLE_VIRTUAL_TERMINAL_PROCESSING);
  return true;
}

}  // namespace Sorvane::hostsim
