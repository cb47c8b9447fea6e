// PNG files of the presentation surface.
#pragma once

#include <cstdint>
#include <string>

// Writes the top-left width x height pixels of a 0xffRRGGBB image with the
// given row stride (in pixels) as an 8-bit RGB PNG. Returns an error message,
// empty on success.
std::string write_png(const std::string& path, const uint32_t* pixels, int width, int height, int stride);
