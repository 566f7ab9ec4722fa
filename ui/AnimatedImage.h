// Images compiled into the program, decoded with GDI+, and the frame stepping of the two bars.
#pragma once

#include <windows.h>

#include <gdiplus.h>

#include <cstdint>
#include <memory>

namespace brimo {

// Deleting a GDI+ image disposes of it and frees it with GDI+'s own allocator. GDI+ must be running.
using ImagePtr = std::unique_ptr<Gdiplus::Image>;

struct AnimatedImage {
  ImagePtr image;                  // null when the resource could not be loaded
  std::uint32_t frameCount = 0;    // frames in the first dimension; 0 until TryLoadAnimation
  std::uint32_t currentFrame = 0;  // the frame that is current and active
};

// Decodes a custom resource of this program; null when it is missing. An image whose bytes do not
// decode is still returned: it then draws nothing.
ImagePtr LoadResourceImage(const wchar_t* type, unsigned id);

// Reads the frame count of an image loaded into the record, logging when there is none to step.
void TryLoadAnimation(AnimatedImage& animation);

// Makes frame index current and active for the next drawing.
void SelectFrame(AnimatedImage& animation, std::uint32_t index);

}  // namespace brimo
