#include <shlwapi.h>

#include <new>
#include <vector>

#include "platform/DebugLog.h"
#include "ui/AnimatedImage.h"

namespace brimo {

namespace {
// The time dimension of an animated image: {6AEDBD6D-3FB5-418A-83A6-7F45229DC872}.
constexpr GUID kFrameDimensionTime = {
    0x6AEDBD6D, 0x3FB5, 0x418A, {0x83, 0xA6, 0x7F, 0x45, 0x22, 0x9D, 0xC8, 0x72}};
}  // namespace

ImagePtr LoadResourceImage(const wchar_t* type, unsigned id) {
  HRSRC resource = FindResourceW(nullptr, MAKEINTRESOURCEW(id), type);
  if (!resource) return nullptr;
  HGLOBAL loaded = LoadResource(nullptr, resource);
  if (!loaded) return nullptr;
  const auto* bytes = static_cast<const BYTE*>(LockResource(loaded));
  const DWORD size = SizeofResource(nullptr, resource);
  IStream* stream = SHCreateMemStream(bytes, size);
  if (!stream) return nullptr;
  // The image object lives in GDI+'s own memory, so that deleting it frees it there too.
  void* memory = Gdiplus::DllExports::GdipAlloc(sizeof(Gdiplus::Image));
  if (!memory) {
    stream->Release();
    return nullptr;
  }
  ImagePtr image(::new (memory) Gdiplus::Image(stream));
  stream->Release();
  return image;
}

void TryLoadAnimation(AnimatedImage& animation) {
  if (!animation.image) {
    LogError(L"TryLoadAnimation: no image!");
    return;
  }
  Gdiplus::Image& image = *animation.image;
  const UINT dimensions = image.GetFrameDimensionsCount();
  if (dimensions > 0) {
    std::vector<GUID> ids(dimensions);
    if (image.GetFrameDimensionsList(ids.data(), dimensions) == Gdiplus::Ok)
      animation.frameCount = image.GetFrameCount(&ids[0]);
  }
  if (animation.frameCount <= 1) LogError(L"TryLoadAnimation: image not animated");
}

void SelectFrame(AnimatedImage& animation, std::uint32_t index) {
  animation.currentFrame = index;
  if (animation.image) animation.image->SelectActiveFrame(&kFrameDimensionTime, index);
}

}  // namespace brimo
