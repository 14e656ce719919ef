#pragma once
#include <string>

namespace Sorvane::test {

// Points the shell's roaming and local application-data folders at the APPDATA and LOCALAPPDATA
// variables for this program, or for one module it loaded, so each test program and each host
// simulator run keeps its state and crash dumps in its own profile. (The Windows shell answers
// from the user's registry whatever those variables say.) Nothing to do on POSIX, where the
// variables decide already. False when the module imports no known-folder lookup to redirect.
void RedirectKnownFoldersOfThisProgram();
bool RedirectKnownFoldersOf(void* module);

// For tests of the folder rules themselves: from now on the shell answers `answer` for the
// roaming folder (an empty answer: the shell fails), until ForgetRoamingFolderAnswer.
void AnswerRoamingFolder(const std::wstring& answer);
void ForgetRoamingFolderAnswer();

}  // namespace Sorvane::test
