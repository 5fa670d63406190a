#pragma once

#include "base/PictureData.h"

#include <string>

namespace tolvarin {

// Draws the pictures of a test as PNG images. The drawing needs a graphics
// toolkit, which the core does without: the Pictures module implements this
// and is loaded at run time (Pictures::renderer), the desktop face links the
// same drawing code directly. Each call answers the PNG file's bytes, or
// nothing with the reason in error; width and height are in pixels. Callable
// from any thread.
class PictureRenderer {
  public:
    virtual ~PictureRenderer() = default;

    virtual std::string surfaceMap(const SurfaceMapPicture& picture, int width, int height,
                                   std::string* error) = 0;
    virtual std::string latencyHistogram(const HistogramPicture& picture, int width, int height,
                                         std::string* error) = 0;
    virtual std::string baselineChange(const BaselineChangePicture& picture, int width, int height,
                                       std::string* error) = 0;
    virtual std::string indexTrend(const TrendPicture& picture, int width, int height,
                                   std::string* error) = 0;
};

} // namespace tolvarin
