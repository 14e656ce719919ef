#pragma once
#include <d3d10.h>
#include <d3d11.h>
#include <mfapi.h>
#include <mfobjects.h>

#include "encoder/com_ref_win.h"

namespace Sorvane {

// The Direct3D 11 device an encoder makes at every Configure: shared by the transform (through
// the DXGI device manager) and the GPU colour conversion, hence multithread-protected.
struct EncoderDevice {
  ComRef<ID3D11Device> device;
  ComRef<ID3D11DeviceContext> context;
  ComRef<ID3D10Multithread> multithread;
  ComRef<IMFDXGIDeviceManager> manager;
  UINT resetToken = 0;
  LUID adapterLuid{};
  bool knowsAdapter = false;

  void Release();
};

// On the preferred adapter, else the default hardware device, else none (CPU only).
EncoderDevice CreateEncoderDevice();

// On the adapter with this LUID (a hardware transform's own); no device when it cannot be made.
EncoderDevice CreateEncoderDeviceOn(const LUID& adapterLuid);

// Whether a failure means the device is gone (removed, reset or hung, by the failure's own
// status or by the device's removed reason), so that nothing works until everything is made
// again.
bool IsDeviceLoss(HRESULT failure, ID3D11Device* device);

}  // namespace Sorvane
