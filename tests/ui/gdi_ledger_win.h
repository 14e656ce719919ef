#pragma once

namespace Sorvane::test {

// The GDI objects and screen DCs this program made through its own import table and has not
// released yet. Wine's GetGuiResources is a stub, so the program keeps its own books: the
// dialogs' code is linked into it, so every font, brush, bitmap, DC and pen they make is counted.
// Install once, before the first object to count is made.
void InstallGdiLedger();
long LiveGdiObjects();

}  // namespace Sorvane::test
