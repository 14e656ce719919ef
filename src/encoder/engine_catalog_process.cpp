#include "encoder/engine_catalog.h"

namespace Sorvane {

EngineCatalog& EngineCatalog::Process() {
  // Never destroyed: host threads may still ask during process exit.
  static EngineCatalog* catalog = new EngineCatalog(&EnumerateEngines);
  return *catalog;
}

}  // namespace Sorvane
