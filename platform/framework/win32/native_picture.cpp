#include "platform/framework/win32/native_picture.h"

#include <windows.h>
// After windows.h, whose types they use.
#include <objbase.h>
#include <wincodec.h>

namespace platform::win32 {
namespace {

// Releases a COM interface when it goes.
template <class T>
class Ref {
 public:
  ~Ref() {
    if (p_) p_->Release();
  }
  T** Out() { return &p_; }
  T* operator->() const { return p_; }
  T* Get() const { return p_; }

 private:
  T* p_ = nullptr;
};

}  // namespace

bool DecodePicture(const void* data, std::size_t size, std::vector<std::uint32_t>* pixels,
                   int* width, int* height) {
  // The GUI thread's apartment; a second call on the same thread only counts up.
  const HRESULT com = CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
  bool decoded = false;
  {
    Ref<IWICImagingFactory> factory;
    Ref<IWICStream> stream;
    Ref<IWICBitmapDecoder> decoder;
    Ref<IWICBitmapFrameDecode> frame;
    Ref<IWICBitmapSource> converted;
    UINT w = 0, h = 0;
    if (SUCCEEDED(CoCreateInstance(CLSID_WICImagingFactory, nullptr, CLSCTX_INPROC_SERVER,
                                   IID_IWICImagingFactory,
                                   reinterpret_cast<void**>(factory.Out()))) &&
        SUCCEEDED(factory->CreateStream(stream.Out())) &&
        SUCCEEDED(stream->InitializeFromMemory(static_cast<BYTE*>(const_cast<void*>(data)),
                                               static_cast<DWORD>(size))) &&
        SUCCEEDED(factory->CreateDecoderFromStream(
            stream.Get(), nullptr, WICDecodeMetadataCacheOnDemand, decoder.Out())) &&
        SUCCEEDED(decoder->GetFrame(0, frame.Out())) &&
        SUCCEEDED(
            WICConvertBitmapSource(GUID_WICPixelFormat32bppBGR, frame.Get(), converted.Out())) &&
        SUCCEEDED(converted->GetSize(&w, &h)) && w > 0 && h > 0) {
      pixels->assign(static_cast<std::size_t>(w) * h, 0);
      decoded = SUCCEEDED(converted->CopyPixels(nullptr, w * 4, w * h * 4,
                                                reinterpret_cast<BYTE*>(pixels->data())));
      *width = static_cast<int>(w);
      *height = static_cast<int>(h);
    }
  }
  if (SUCCEEDED(com)) CoUninitialize();
  return decoded;
}

}  // namespace platform::win32
