#include "support/known_folders.h"

namespace Sorvane::test {

void RedirectKnownFoldersOfThisProgram() {}

bool RedirectKnownFoldersOf(void*) {
  return true;
}

}  // namespace Sorvane::test
