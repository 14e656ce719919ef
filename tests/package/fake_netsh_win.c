// Stands in for netsh.exe (Windows Firewall does not exist under Wine): appends its arguments
// to the file named by SV_FAKE_NETSH_LOG and exits with SV_FAKE_NETSH_EXIT (default 0), after
// printing what a refusing netsh prints.
#include <stdio.h>
#include <stdlib.h>
#include <windows.h>

int wmain(int argc, wchar_t** argv) {
  const wchar_t* logPath = _wgetenv(L"SV_FAKE_NETSH_LOG");
  const wchar_t* exitText = _wgetenv(L"SV_FAKE_NETSH_EXIT");
  const int exitCode = exitText ? _wtoi(exitText) : 0;
  if (logPath) {
    FILE* log = _wfopen(logPath, L"ab");
    if (log) {
      for (int i = 1; i < argc; ++i)
        fprintf(log, "%s%ls", i > 1 ? " " : "", argv[i]);
      fprintf(log, "\n");
      fclose(log);
    }
  }
  if (exitCode != 0)
    printf("The requested operation requires elevation (Run as administrator).\n");
  return exitCode;
}
