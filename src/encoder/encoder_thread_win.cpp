#include <objbase.h>

#include "encoder/encoder_thread.h"

namespace Sorvane {

// A thread already in another apartment (RPC_E_CHANGED_MODE) keeps it and is left alone.
EncoderThreadScope::EncoderThreadScope() {
  const HRESULT hr = CoInitializeEx(nullptr, COINIT_MULTITHREADED);
  entered_ = SUCCEEDED(hr);
}

EncoderThreadScope::~EncoderThreadScope() {
  if (entered_)
    CoUninitialize();
}

}  // namespace Sorvane
