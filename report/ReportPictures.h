#pragma once

#include <string>
#include <string_view>

namespace tolvarin {

struct TestMeasurements;
class PictureRenderer;

// The pictures a normal test's report carries after its designed text: the
// surface map and the change against the unit's baseline, as PNG pictures
// of the rich-text document, each with its notes; in their place a line
// that says why a picture is missing.
namespace ReportPictures {

// The rich text of the pictures' page (a page of its own). m may be null
// (the test's measurements are missing); renderer may be null (the pictures
// are unavailable, for the reason given).
std::string appendix(const TestMeasurements* m, PictureRenderer* renderer,
                     const std::string& unavailable);
// A PNG file as a rich-text picture of the given width in twips.
std::string pngPicture(std::string_view png, int widthPixels, int heightPixels, int widthTwips);
// The report with the appendix put before the document's closing brace.
std::string withAppendix(const std::string& report, const std::string& appendix);

} // namespace ReportPictures

} // namespace tolvarin
