#include "ctrl/plugin_globals.h"

namespace Sorvane::ctrl {

PluginGlobals& Globals() {
  static PluginGlobals globals;
  return globals;
}

}  // namespace Sorvane::ctrl
