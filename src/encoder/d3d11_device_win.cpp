#include "encoder/d3d11_device_win.h"

#include <dxgi.h>

#include <string>
#include <vector>

#include "diag/log_channels.h"
#include "encoder/adapter_choice.h"
#include "encoder/mf_status_text.h"
#include "encoder/utf_text_win.h"

namespace Sorvane {
namespace {

constexpr UINT kDeviceFlags = D3D11_CREATE_DEVICE_BGRA_SUPPORT | D3D11_CREATE_DEVICE_VIDEO_SUPPORT;
constexpr D3D_FEATURE_LEVEL kLevels[] = {D3D_FEATURE_LEVEL_11_1, D3D_FEATURE_LEVEL_11_0,
                                         D3D_FEATURE_LEVEL_10_1};

struct ListedAdapter {
  ComRef<IDXGIAdapter1> adapter;
  DXGI_ADAPTER_DESC1 desc{};
  bool readable = false;
};

std::vector<ListedAdapter> ListAdapters() {
  std::vector<ListedAdapter> adapters;
  ComRef<IDXGIFactory1> factory;
  if (FAILED(CreateDXGIFactory1(__uuidof(IDXGIFactory1), factory.PutVoid())))
    return adapters;
  for (UINT i = 0;; ++i) {
    ListedAdapter listed;
    if (factory->EnumAdapters1(i, listed.adapter.Put()) == DXGI_ERROR_NOT_FOUND)
      break;
    if (!listed.adapter)
      continue;
    listed.readable = SUCCEEDED(listed.adapter->GetDesc1(&listed.desc));
    adapters.push_back(std::move(listed));
  }
  return adapters;
}

HRESULT CreateOn(IDXGIAdapter* adapter, EncoderDevice& out) {
  return D3D11CreateDevice(adapter, adapter ? D3D_DRIVER_TYPE_UNKNOWN : D3D_DRIVER_TYPE_HARDWARE,
                           nullptr, kDeviceFlags, kLevels, ARRAYSIZE(kLevels), D3D11_SDK_VERSION,
                           out.device.Put(), nullptr, out.context.Put());
}

// Multithread protection and the DXGI device manager the transform is offered.
void ShareWithTransforms(EncoderDevice& out) {
  out.multithread = out.device.As<ID3D10Multithread>();
  if (out.multithread)
    out.multithread->SetMultithreadProtected(TRUE);
  HRESULT hr = MFCreateDXGIDeviceManager(&out.resetToken, out.manager.Put());
  if (SUCCEEDED(hr))
    hr = out.manager->ResetDevice(out.device.Get(), out.resetToken);
  if (FAILED(hr)) {
    out.manager.Reset();
    Log(channels::kEncoder, kLogInfo, "MFCreateDXGIDeviceManager failed %s — continuing without",
        StatusText(static_cast<uint32_t>(hr)).c_str());
  }
}

void RememberAdapter(EncoderDevice& out) {
  ComRef<IDXGIDevice> dxgi = out.device.As<IDXGIDevice>();
  ComRef<IDXGIAdapter> adapter;
  DXGI_ADAPTER_DESC desc{};
  if (dxgi && SUCCEEDED(dxgi->GetAdapter(adapter.Put())) && SUCCEEDED(adapter->GetDesc(&desc))) {
    out.adapterLuid = desc.AdapterLuid;
    out.knowsAdapter = true;
  }
}

}  // namespace

void EncoderDevice::Release() {
  manager.Reset();
  multithread.Reset();
  context.Reset();
  device.Reset();
  resetToken = 0;
  knowsAdapter = false;
}

EncoderDevice CreateEncoderDevice() {
  EncoderDevice out;
  std::vector<ListedAdapter> adapters = ListAdapters();
  std::vector<AdapterSummary> summaries;
  for (const ListedAdapter& listed : adapters) {
    summaries.push_back({listed.readable, (listed.desc.Flags & DXGI_ADAPTER_FLAG_SOFTWARE) != 0,
                         listed.desc.VendorId, listed.desc.DedicatedVideoMemory});
  }
  const int chosen = ChooseAdapter(summaries);
  if (chosen >= 0) {
    ListedAdapter& best = adapters[static_cast<size_t>(chosen)];
    const std::string name = CappedUtf8(best.desc.Description, 255);
    const HRESULT hr = CreateOn(best.adapter.Get(), out);
    if (SUCCEEDED(hr)) {
      Log(channels::kEncoder, kLogInfo, "D3D11 device on adapter: \"%s\"", name.c_str());
    } else {
      Log(channels::kEncoder, kLogInfo,
          "D3D11CreateDevice(explicit %s) failed %s — retrying default", name.c_str(),
          StatusText(static_cast<uint32_t>(hr)).c_str());
      out.Release();
    }
  }
  adapters.clear();
  if (!out.device) {
    const HRESULT hr = CreateOn(nullptr, out);
    if (FAILED(hr)) {
      out.Release();
      Log(channels::kEncoder, kLogInfo, "D3D11CreateDevice failed %s — continuing CPU-only",
          StatusText(static_cast<uint32_t>(hr)).c_str());
      return out;
    }
  }
  ShareWithTransforms(out);
  RememberAdapter(out);
  return out;
}

EncoderDevice CreateEncoderDeviceOn(const LUID& adapterLuid) {
  EncoderDevice out;
  for (ListedAdapter& listed : ListAdapters()) {
    if (!listed.readable || listed.desc.AdapterLuid.LowPart != adapterLuid.LowPart ||
        listed.desc.AdapterLuid.HighPart != adapterLuid.HighPart)
      continue;
    const HRESULT hr = CreateOn(listed.adapter.Get(), out);
    if (FAILED(hr)) {
      out.Release();
      return out;
    }
    Log(channels::kEncoder, kLogInfo, "D3D11 device on the transform's adapter: \"%s\"",
        CappedUtf8(listed.desc.Description, 255).c_str());
    ShareWithTransforms(out);
    out.adapterLuid = adapterLuid;
    out.knowsAdapter = true;
    return out;
  }
  return out;
}

bool IsDeviceLoss(HRESULT failure, ID3D11Device* device) {
  switch (failure) {
    case DXGI_ERROR_DEVICE_REMOVED:
    case DXGI_ERROR_DEVICE_RESET:
    case DXGI_ERROR_DEVICE_HUNG:
    case DXGI_ERROR_DRIVER_INTERNAL_ERROR:
      return true;
    default:
      return device != nullptr && FAILED(device->GetDeviceRemovedReason());
  }
}

}  // namespace Sorvane
