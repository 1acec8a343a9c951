#include "png_resource.h"

#include <objbase.h>
#include <wincodec.h>

#include <memory>
#include <vector>

#include "com_scope.h"
#include "handle.h"
#include "module.h"

namespace {

struct ResourceBytes {
  BYTE* bytes = nullptr;
  DWORD size = 0;
};

ResourceBytes FindModuleData(int id) {
  HRSRC resource = FindResourceA(ModuleInstance(), MAKEINTRESOURCEA(id), MAKEINTRESOURCEA(10));  // RT_RCDATA
  if (!resource) return {};
  HGLOBAL loaded = LoadResource(ModuleInstance(), resource);
  if (!loaded) return {};
  return {static_cast<BYTE*>(LockResource(loaded)), SizeofResource(ModuleInstance(), resource)};
}

// The picture's first frame as 24-bit BGR rows, top row first, each padded to 4 bytes as a DIB's.
ComPointer<IWICBitmapSource> DecodeToBgr(IWICImagingFactory& factory, const ResourceBytes& data) {
  IWICStream* rawStream = nullptr;
  if (FAILED(factory.CreateStream(&rawStream))) return nullptr;
  const auto stream = Owned(rawStream);
  if (FAILED(stream->InitializeFromMemory(data.bytes, data.size))) return nullptr;
  IWICBitmapDecoder* rawDecoder = nullptr;
  if (FAILED(factory.CreateDecoderFromStream(stream.get(), nullptr, WICDecodeMetadataCacheOnDemand, &rawDecoder))) {
    return nullptr;
  }
  const auto decoder = Owned(rawDecoder);
  IWICBitmapFrameDecode* rawFrame = nullptr;
  if (FAILED(decoder->GetFrame(0, &rawFrame))) return nullptr;
  const auto frame = Owned(rawFrame);
  IWICBitmapSource* converted = nullptr;
  if (FAILED(WICConvertBitmapSource(GUID_WICPixelFormat24bppBGR, frame.get(), &converted))) return nullptr;
  return Owned(converted);
}

HBITMAP ScreenBitmapFrom(IWICBitmapSource& picture) {
  UINT width = 0;
  UINT height = 0;
  if (FAILED(picture.GetSize(&width, &height)) || width == 0 || height == 0) return nullptr;
  const UINT stride = (width * 3 + 3) & ~3u;
  std::vector<BYTE> pixels(static_cast<std::size_t>(stride) * height);
  if (FAILED(picture.CopyPixels(nullptr, stride, static_cast<UINT>(pixels.size()), pixels.data()))) return nullptr;

  BITMAPINFO info{};
  info.bmiHeader.biSize = sizeof info.bmiHeader;
  info.bmiHeader.biWidth = static_cast<LONG>(width);
  info.bmiHeader.biHeight = -static_cast<LONG>(height);  // top row first
  info.bmiHeader.biPlanes = 1;
  info.bmiHeader.biBitCount = 24;
  info.bmiHeader.biCompression = BI_RGB;
  const WindowDC screen = GetClientDC(nullptr);
  if (!screen) return nullptr;
  return CreateDIBitmap(screen.Get(), &info.bmiHeader, CBM_INIT, pixels.data(), &info, DIB_RGB_COLORS);
}

}  // namespace

HBITMAP LoadModulePngBitmap(int id) {
  const ResourceBytes data = FindModuleData(id);
  if (!data.bytes || data.size == 0) return nullptr;
  const ComScope com;
  IWICImagingFactory* rawFactory = nullptr;
  if (FAILED(CoCreateInstance(CLSID_WICImagingFactory, nullptr, CLSCTX_INPROC_SERVER, IID_IWICImagingFactory,
                              reinterpret_cast<void**>(&rawFactory)))) {
    return nullptr;
  }
  const auto factory = Owned(rawFactory);
  const auto picture = DecodeToBgr(*factory, data);
  return picture ? ScreenBitmapFrom(*picture) : nullptr;
}
