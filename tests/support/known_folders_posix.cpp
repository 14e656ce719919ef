#include "support/known_folders.h"

namespace Sorvane::test {

void RedirectKnownFoldersOfThisProgram() {}

bool RedirectKnownFoldersOf(void*) {
  return true;
}

void AnswerRoamingFolder(const std::wstring&) {}

void ForgetRoamingFolderAnswer() {}

}  // namespace Sorvane::test
