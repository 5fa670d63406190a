#pragma once

#include "base/PictureData.h"
#include "base/TestMeasurements.h"
#include "store/MeasurementFile.h"

#include <string>
#include <vector>

namespace tolvarin {

class PictureRenderer;

// The pictures of a test and of a unit's history: their plain contents,
// made from the measurements, and the renderer that draws them.
namespace Pictures {

// The picture sizes the report and the terminal use.
inline constexpr int kMapWidth = 1600;
inline constexpr int kMapHeight = 520;
inline constexpr int kChartWidth = 1200;
inline constexpr int kChartHeight = 600;

// The renderer of the Pictures module in the resources folder, loaded on the
// first call and kept for the life of the process; null, with the reason
// in why, when the module is missing (a build without the graphics toolkit)
// or cannot be loaded.
PictureRenderer* renderer(std::string* why = nullptr);

SurfaceMapPicture surfaceMapOf(const TestMeasurements& m);
HistogramPicture surfaceHistogramOf(const TestMeasurements& m);
HistogramPicture seekHistogramOf(const TestMeasurements& m);
BaselineChangePicture baselineChangeOf(const TestMeasurements& m);
// The four indices of every readable test, oldest first.
TrendPicture trendOf(const std::vector<MeasurementArchive::Entry>& history);

// The surface map of m as a PNG file at path (replacing it, handed to the
// launching user). False with the reason in why.
bool writeSurfaceMap(const TestMeasurements& m, const std::string& path, std::string* why);

} // namespace Pictures

} // namespace tolvarin
