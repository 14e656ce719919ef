#include "encoder/d3d11_nv12_converter_win.h"

#include <cstring>
#include <memory>
#include <mutex>
#include <vector>

#include "diag/log_channels.h"
#include "encoder/bgra_to_nv12_shader.h"

namespace Sorvane {
namespace {

// Loaded at run time: without the compiler only the GPU path is lost, never the plug-in.
pD3DCompile SystemCompiler() {
  static const pD3DCompile entry = [] {
    HMODULE module = LoadLibraryW(L"d3dcompiler_47.dll");
    return module ? reinterpret_cast<pD3DCompile>(
                        reinterpret_cast<void*>(GetProcAddress(module, "D3DCompile")))
                  : nullptr;
  }();
  return entry;
}

// The transform uses the same immediate context from its own threads: the whole conversion is
// one critical section, not just each call.
class DeviceSection {
 public:
  explicit DeviceSection(ID3D10Multithread* multithread) : multithread_(multithread) {
    if (multithread_ != nullptr)
      multithread_->Enter();
  }
  ~DeviceSection() {
    if (multithread_ != nullptr)
      multithread_->Leave();
  }
  DeviceSection(const DeviceSection&) = delete;
  DeviceSection& operator=(const DeviceSection&) = delete;

 private:
  ID3D10Multithread* multithread_;
};

D3D11_TEXTURE2D_DESC TextureDesc(int width, int height, DXGI_FORMAT format, D3D11_USAGE usage,
                                 UINT bind, UINT cpuAccess) {
  D3D11_TEXTURE2D_DESC desc{};
  desc.Width = static_cast<UINT>(width);
  desc.Height = static_cast<UINT>(height);
  desc.MipLevels = 1;
  desc.ArraySize = 1;
  desc.Format = format;
  desc.SampleDesc.Count = 1;
  desc.Usage = usage;
  desc.BindFlags = bind;
  desc.CPUAccessFlags = cpuAccess;
  return desc;
}

struct ShaderCode {
  bool ok = false;
  std::vector<uint8_t> bytes;
};

std::mutex gShaderLock;
pD3DCompile gCompilerOverride = nullptr;        // guarded by gShaderLock
std::shared_ptr<const ShaderCode> gShaderCode;  // guarded by gShaderLock

std::string OneLine(std::string text) {
  for (char& c : text) {
    if (c == '\n' || c == '\r')
      c = ' ';
  }
  return text;
}

// Compiled once per process, not at every reopen, and outside any device's critical section:
// compiling takes long, and the transform shares the device meanwhile. The shader object made
// from the code belongs to each device.
std::shared_ptr<const ShaderCode> CompiledShader() {
  std::lock_guard<std::mutex> lock(gShaderLock);
  if (gShaderCode)
    return gShaderCode;
  auto code = std::make_shared<ShaderCode>();
  const pD3DCompile compile = gCompilerOverride ? gCompilerOverride : SystemCompiler();
  if (compile == nullptr) {
    Log(channels::kEncoder, kLogError, "GPU NV12: D3DCompile failed 0x%08lx (%s)",
        static_cast<unsigned long>(E_NOINTERFACE), "d3dcompiler_47.dll not available");
  } else {
    const std::string source = BgraToNv12ShaderSource();
    ComRef<ID3DBlob> bytecode, errors;
    const HRESULT hr = compile(source.data(), source.size(), "BgraToNv12.hlsl", nullptr, nullptr,
                               "main", "cs_5_0", 0, 0, bytecode.Put(), errors.Put());
    if (SUCCEEDED(hr) && bytecode && bytecode->GetBufferSize() > 0) {
      const auto* bytes = static_cast<const uint8_t*>(bytecode->GetBufferPointer());
      code->bytes.assign(bytes, bytes + bytecode->GetBufferSize());
      code->ok = true;
    } else {
      std::string message = "no msg";
      if (errors && errors->GetBufferSize() > 0) {
        const auto* text = static_cast<const char*>(errors->GetBufferPointer());
        message.assign(text, strnlen(text, errors->GetBufferSize()));
      }
      Log(channels::kEncoder, kLogError, "GPU NV12: D3DCompile failed 0x%08lx (%s)",
          static_cast<unsigned long>(SUCCEEDED(hr) ? E_FAIL : hr), OneLine(message).c_str());
    }
  }
  gShaderCode = std::move(code);
  return gShaderCode;
}

}  // namespace

void SetShaderCompilerForTesting(pD3DCompile compile) {
  std::lock_guard<std::mutex> lock(gShaderLock);
  gCompilerOverride = compile;
  gShaderCode.reset();
}

bool D3d11Nv12Converter::CreateShader(const std::vector<uint8_t>* code) {
  if (code == nullptr)
    return false;
  const HRESULT created =
      device_->device->CreateComputeShader(code->data(), code->size(), nullptr, shader_.Put());
  if (FAILED(created)) {
    Log(channels::kEncoder, kLogError, "GPU NV12: CreateComputeShader failed 0x%08lx",
        static_cast<unsigned long>(created));
    return false;
  }
  return true;
}

bool D3d11Nv12Converter::MakeTextures(int width, int height) {
  ID3D11Device* device = device_->device.Get();
  const int halfW = width / 2, halfH = height / 2;
  D3D11_TEXTURE2D_DESC desc =
      TextureDesc(width, height, DXGI_FORMAT_B8G8R8A8_UNORM, D3D11_USAGE_DYNAMIC,
                  D3D11_BIND_SHADER_RESOURCE, D3D11_CPU_ACCESS_WRITE);
  if (FAILED(device->CreateTexture2D(&desc, nullptr, bgra_.Put())) ||
      FAILED(device->CreateShaderResourceView(bgra_.Get(), nullptr, bgraView_.Put())))
    return false;
  desc = TextureDesc(width, height, DXGI_FORMAT_R8_UNORM, D3D11_USAGE_DEFAULT,
                     D3D11_BIND_UNORDERED_ACCESS, 0);
  if (FAILED(device->CreateTexture2D(&desc, nullptr, luma_.Put())) ||
      FAILED(device->CreateUnorderedAccessView(luma_.Get(), nullptr, lumaView_.Put())))
    return false;
  desc = TextureDesc(width, height, DXGI_FORMAT_R8_UNORM, D3D11_USAGE_STAGING, 0,
                     D3D11_CPU_ACCESS_READ);
  if (FAILED(device->CreateTexture2D(&desc, nullptr, lumaStaging_.Put())))
    return false;
  desc = TextureDesc(halfW, halfH, DXGI_FORMAT_R8G8_UNORM, D3D11_USAGE_DEFAULT,
                     D3D11_BIND_UNORDERED_ACCESS, 0);
  if (FAILED(device->CreateTexture2D(&desc, nullptr, chroma_.Put())) ||
      FAILED(device->CreateUnorderedAccessView(chroma_.Get(), nullptr, chromaView_.Put())))
    return false;
  desc = TextureDesc(halfW, halfH, DXGI_FORMAT_R8G8_UNORM, D3D11_USAGE_STAGING, 0,
                     D3D11_CPU_ACCESS_READ);
  return SUCCEEDED(device->CreateTexture2D(&desc, nullptr, chromaStaging_.Put()));
}

bool D3d11Nv12Converter::Init(int width, int height, const std::vector<uint8_t>* code) {
  if (device_ == nullptr || !device_->device || !device_->context || width < 1 || height < 1 ||
      (width & 1) != 0 || (height & 1) != 0)
    return false;
  if (!shader_ && !CreateShader(code))
    return false;
  ReleaseTextures();
  if (!MakeTextures(width, height)) {
    ReleaseTextures();
    return false;
  }
  gpuWidth_ = width;
  gpuHeight_ = height;
  failed_.store(false);
  Log(channels::kEncoder, kLogInfo,
      "[Vuvovede] Step 4 GPU BGRA→NV12 ENABLED: %dx%d compute shader (replaces ~6 ms scalar CPU "
      "path)",
      width, height);
  return true;
}

void D3d11Nv12Converter::TurnOff() {
  if (!failed_.exchange(true)) {
    Log(channels::kEncoder, kLogError,
        "[Vuvovede] Step 4 GPU FALLBACK to scalar at frame %llu — shader/upload/readback failed",
        static_cast<unsigned long long>(conversions_));
  }
}

bool D3d11Nv12Converter::Upload(const uint8_t* src, int srcStride, int width, int height) {
  ID3D11DeviceContext* context = device_->context.Get();
  D3D11_MAPPED_SUBRESOURCE mapped{};
  if (FAILED(context->Map(bgra_.Get(), 0, D3D11_MAP_WRITE_DISCARD, 0, &mapped)))
    return false;
  const size_t rowBytes = static_cast<size_t>(width) * 4;
  for (int y = 0; y < height; ++y) {
    std::memcpy(static_cast<uint8_t*>(mapped.pData) + static_cast<size_t>(y) * mapped.RowPitch,
                src + static_cast<size_t>(y) * static_cast<size_t>(srcStride), rowBytes);
  }
  context->Unmap(bgra_.Get(), 0);
  return true;
}

void D3d11Nv12Converter::Dispatch(int width, int height) {
  ID3D11DeviceContext* context = device_->context.Get();
  ID3D11ShaderResourceView* views[] = {bgraView_.Get()};
  ID3D11UnorderedAccessView* targets[] = {lumaView_.Get(), chromaView_.Get()};
  ID3D11UnorderedAccessView* none[] = {nullptr, nullptr};
  context->CSSetShader(shader_.Get(), nullptr, 0);
  context->CSSetShaderResources(0, 1, views);
  context->CSSetUnorderedAccessViews(0, 2, targets, nullptr);
  context->Dispatch(static_cast<UINT>((width + 15) / 16), static_cast<UINT>((height + 15) / 16), 1);
  context->CSSetUnorderedAccessViews(0, 2, none, nullptr);
  context->CopyResource(lumaStaging_.Get(), luma_.Get());
  context->CopyResource(chromaStaging_.Get(), chroma_.Get());
}

// Row by row: the mapping's pitch is usually wider than the plane.
bool D3d11Nv12Converter::ReadBack(ID3D11Texture2D* staging, uint8_t* dst, int rowBytes, int rows) {
  ID3D11DeviceContext* context = device_->context.Get();
  D3D11_MAPPED_SUBRESOURCE mapped{};
  if (FAILED(context->Map(staging, 0, D3D11_MAP_READ, 0, &mapped)))
    return false;
  for (int y = 0; y < rows; ++y) {
    std::memcpy(
        dst + static_cast<size_t>(y) * static_cast<size_t>(rowBytes),
        static_cast<const uint8_t*>(mapped.pData) + static_cast<size_t>(y) * mapped.RowPitch,
        static_cast<size_t>(rowBytes));
  }
  context->Unmap(staging, 0);
  return true;
}

bool D3d11Nv12Converter::Convert(const uint8_t* src, int srcStride, uint8_t* dstY, uint8_t* dstUV,
                                 int width, int height) {
  if (failed_.load() || device_ == nullptr || !device_->context)
    return false;
  const std::shared_ptr<const ShaderCode> compiled =
      shader_ ? nullptr : CompiledShader();  // before the section
  const std::vector<uint8_t>* code = compiled && compiled->ok ? &compiled->bytes : nullptr;
  DeviceSection section(device_->multithread.Get());
  if ((!shader_ || width != gpuWidth_ || height != gpuHeight_) && !Init(width, height, code)) {
    TurnOff();
    return false;
  }
  if (!Upload(src, srcStride, width, height)) {
    TurnOff();
    return false;
  }
  Dispatch(width, height);
  if (!ReadBack(lumaStaging_.Get(), dstY, width, height) ||
      !ReadBack(chromaStaging_.Get(), dstUV, width, height / 2)) {
    TurnOff();
    return false;
  }
  if (++conversions_ % 300 == 0) {
    Log(channels::kEncoder, kLogInfo,
        "[Vuvovede] Step 4 GPU heartbeat: %llu conversions, fallback=NO",
        static_cast<unsigned long long>(conversions_));
  }
  return true;
}

void D3d11Nv12Converter::ReleaseTextures() {
  chromaStaging_.Reset();
  chromaView_.Reset();
  chroma_.Reset();
  lumaStaging_.Reset();
  lumaView_.Reset();
  luma_.Reset();
  bgraView_.Reset();
  bgra_.Reset();
}

void D3d11Nv12Converter::Release() {
  ReleaseTextures();
  shader_.Reset();
  gpuWidth_ = 0;
  gpuHeight_ = 0;
  failed_.store(false);
  device_ = nullptr;
}

}  // namespace Sorvane
