// Stands in for a host application while the installer runs: started under the executable name
// the test gives it, it creates READY_FILE, optionally holds HELD_FILE open without sharing (as a
// loaded plug-in is held), and ends when STOP_FILE appears (two minutes at most).
// Usage: <name>.exe READY_FILE STOP_FILE [HELD_FILE]
#include <windows.h>

int wmain(int argc, wchar_t** argv) {
  if (argc < 3)
    return 1;
  HANDLE held = INVALID_HANDLE_VALUE;
  if (argc > 3) {
    held = CreateFileW(argv[3], GENERIC_READ, 0, NULL, OPEN_EXISTING, 0, NULL);
    if (held == INVALID_HANDLE_VALUE)
      return 1;
  }
  HANDLE ready = CreateFileW(argv[1], GENERIC_WRITE, 0, NULL, CREATE_ALWAYS, 0, NULL);
  if (ready == INVALID_HANDLE_VALUE)
    return 1;
  CloseHandle(ready);
  for (int i = 0; i < 1200 && GetFileAttributesW(argv[2]) == INVALID_FILE_ATTRIBUTES; ++i)
    Sleep(100);
  if (held != INVALID_HANDLE_VALUE)
    CloseHandle(held);
  return 0;
}
