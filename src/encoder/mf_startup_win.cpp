#include "encoder/mf_startup_win.h"

#include <mfapi.h>

#include "diag/log_channels.h"

namespace Sorvane {

MfStartupScope::MfStartupScope(Kind kind) {
  const HRESULT hr = MFStartup(MF_VERSION, kind == Kind::Lite ? MFSTARTUP_LITE : MFSTARTUP_FULL);
  started_ = SUCCEEDED(hr);
  if (!started_ && kind == Kind::Lite)
    Log(channels::kEncoder, kLogError, "MFStartup failed: 0x%08lx", static_cast<unsigned long>(hr));
}

MfStartupScope::~MfStartupScope() {
  if (started_)
    MFShutdown();
}

}  // namespace Sorvane
