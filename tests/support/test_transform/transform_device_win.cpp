#include <d3d11.h>
#include <dxgi.h>

#include "support/test_transform/transform_object.h"

namespace Sorvane::test {

// The adapter of the Direct3D 11 device a DXGI device manager holds, so tests can check which
// adapter's device an encoder handed to a hardware transform.
std::optional<LUID> AdapterOfManager(IMFDXGIDeviceManager* manager) {
  HANDLE handle = nullptr;
  if (FAILED(manager->OpenDeviceHandle(&handle)))
    return std::nullopt;
  ComRef<ID3D11Device> device;
  const HRESULT hr = manager->GetVideoService(handle, __uuidof(ID3D11Device),
                                              reinterpret_cast<void**>(device.Put()));
  manager->CloseDeviceHandle(handle);
  ComRef<IDXGIDevice> dxgiDevice;
  ComRef<IDXGIAdapter> adapter;
  DXGI_ADAPTER_DESC desc{};
  if (FAILED(hr) ||
      FAILED(device->QueryInterface(__uuidof(IDXGIDevice),
                                    reinterpret_cast<void**>(dxgiDevice.Put()))) ||
      FAILED(dxgiDevice->GetAdapter(adapter.Put())) || FAILED(adapter->GetDesc(&desc)))
    return std::nullopt;
  return desc.AdapterLuid;
}

HRESULT TestEncoderTransform::TakeD3DManager(ULONG_PTR param) {
  const HRESULT refused = slot_->Options().failures.setD3DManager;
  // A software encoder does not take a device, as Media Foundation's own do.
  if (!hardware_)
    return E_NOTIMPL;
  if (FAILED(refused))
    return refused;
  ComRef<IMFDXGIDeviceManager> manager;
  if (param != 0 && FAILED(reinterpret_cast<IUnknown*>(param)->QueryInterface(
                        IID_IMFDXGIDeviceManager, reinterpret_cast<void**>(manager.Put()))))
    return MF_E_UNSUPPORTED_D3D_TYPE;
  const std::optional<LUID> adapter =
      manager ? AdapterOfManager(manager.Get()) : std::optional<LUID>();
  std::lock_guard<std::mutex> lock(mutex_);
  d3dManager_.Assign(manager.Get());
  slot_->state.RecordD3DManager(param != 0, adapter);
  return S_OK;
}

}  // namespace Sorvane::test
