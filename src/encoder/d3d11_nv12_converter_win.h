#pragma once
#include <d3dcompiler.h>

#include <atomic>
#include <cstdint>
#include <string>
#include <vector>

#include "encoder/com_ref_win.h"
#include "encoder/d3d11_device_win.h"
#include "encoder/gpu_nv12_converter_win.h"

namespace Sorvane {

// BGRA → NV12 on the encoder's Direct3D 11 device with a compute shader compiled at run time;
// the same bytes as the CPU conversion. Any failure turns it off until the next Release and is
// logged once; the caller then converts on the CPU.
class D3d11Nv12Converter final : public GpuNv12Converter {
 public:
  D3d11Nv12Converter() = default;
  D3d11Nv12Converter(const D3d11Nv12Converter&) = delete;
  D3d11Nv12Converter& operator=(const D3d11Nv12Converter&) = delete;

  void Attach(const EncoderDevice* device) override { device_ = device; }
  bool Convert(const uint8_t* src, int srcStride, uint8_t* dstY, uint8_t* dstUV, int width,
               int height) override;
  // Every GPU object including the shader object (the compiled code stays with the process).
  void Release() override;
  uint64_t Conversions() const { return conversions_; }
  bool Failed() const { return failed_.load(); }

 private:
  // `code`: the process's compiled shader, null when there is none.
  bool Init(int width, int height, const std::vector<uint8_t>* code);
  bool CreateShader(const std::vector<uint8_t>* code);
  bool MakeTextures(int width, int height);
  void ReleaseTextures();
  bool Upload(const uint8_t* src, int srcStride, int width, int height);
  void Dispatch(int width, int height);
  bool ReadBack(ID3D11Texture2D* staging, uint8_t* dst, int rowBytes, int rows);
  void TurnOff();

  // Used only under the owning encoder's lock.
  const EncoderDevice* device_ = nullptr;
  ComRef<ID3D11ComputeShader> shader_;
  ComRef<ID3D11Texture2D> bgra_;
  ComRef<ID3D11ShaderResourceView> bgraView_;
  ComRef<ID3D11Texture2D> luma_;
  ComRef<ID3D11UnorderedAccessView> lumaView_;
  ComRef<ID3D11Texture2D> lumaStaging_;
  ComRef<ID3D11Texture2D> chroma_;
  ComRef<ID3D11UnorderedAccessView> chromaView_;
  ComRef<ID3D11Texture2D> chromaStaging_;
  int gpuWidth_ = 0;
  int gpuHeight_ = 0;
  uint64_t conversions_ = 0;  // over the object's life
  std::atomic<bool> failed_{false};
};

// The shader compiler the process uses from now on (null: d3dcompiler_47's); the code compiled so
// far is forgotten. For tests.
void SetShaderCompilerForTesting(pD3DCompile compile);

}  // namespace Sorvane
