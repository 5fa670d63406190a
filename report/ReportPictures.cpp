#include "report/ReportPictures.h"

#include "base/TestMeasurements.h"
#include "report/PictureRenderer.h"
#include "report/Pictures.h"
#include "report/ReportGenerator.h"

namespace tolvarin {

namespace ReportPictures {

namespace {

// The width of the template's text column, in twips.
constexpr int kTextWidthTwips = 9638;

std::string heading(const std::string& text) {
    return "\\pard\\plain\\keepn\\sb220\\sa60\\f0\\fs24\\b\\cf2 " +
           ReportGenerator::escapeRtf(text) + "\\par\n";
}

std::string noteLine(const std::string& text) {
    return "\\pard\\plain\\sa60\\f0\\fs16\\i\\cf4 " + ReportGenerator::escapeRtf(text) + "\\par\n";
}

} // namespace

std::string pngPicture(std::string_view png, int widthPixels, int heightPixels, int widthTwips) {
    static const char* const hex = "0123456789abcdef";
    int heightTwips = widthPixels > 0 ? widthTwips * heightPixels / widthPixels : 0;
    std::string out = "{\\pict\\pngblip\\picw" + std::to_string(widthPixels) + "\\pich" +
                      std::to_string(heightPixels) + "\\picwgoal" + std::to_string(widthTwips) +
                      "\\pichgoal" + std::to_string(heightTwips) + "\n";
    out.reserve(out.size() + png.size() * 2 + png.size() / 64 + 4);
    for (size_t i = 0; i < png.size(); ++i) {
        auto byte = static_cast<unsigned char>(png[i]);
        out += hex[byte >> 4];
        out += hex[byte & 15];
        if (i % 64 == 63) {
            out += '\n';
        }
    }
    out += "}";
    return out;
}

std::string appendix(const TestMeasurements* m, PictureRenderer* renderer,
                     const std::string& unavailable) {
    std::string out = "\\page\n" + heading("Surface map and change against the baseline");
    if (m == nullptr) {
        return out + noteLine("The measurements of this test are missing, so its pictures are "
                              "too.");
    }
    if (renderer == nullptr) {
        return out + noteLine("No pictures: " + unavailable + ".");
    }
    auto picture = [&](const std::string& title, const std::string& png, int w, int h,
                       const std::vector<std::string>& notes, const std::string& error) {
        std::string part = heading(title);
        if (png.empty()) {
            part += noteLine("This picture could not be drawn: " + error + ".");
        } else {
            part += "\\pard\\plain\\sa60\\qc\\f0\\fs18 " + pngPicture(png, w, h, kTextWidthTwips) +
                    "\\par\n";
        }
        for (const std::string& note : notes) {
            part += noteLine(note);
        }
        return part;
    };
    SurfaceMapPicture map = Pictures::surfaceMapOf(*m);
    std::string error;
    std::string png = renderer->surfaceMap(map, Pictures::kMapWidth, Pictures::kMapHeight, &error);
    out += picture("Surface map", png, Pictures::kMapWidth, Pictures::kMapHeight, map.notes, error);
    BaselineChangePicture change = Pictures::baselineChangeOf(*m);
    error.clear();
    png = renderer->baselineChange(change, Pictures::kMapWidth, Pictures::kMapHeight, &error);
    out += picture("Change against the baseline", png, Pictures::kMapWidth, Pictures::kMapHeight,
                   change.notes, error);
    return out;
}

std::string withAppendix(const std::string& report, const std::string& appendix) {
    size_t close = report.rfind('}');
    if (close == std::string::npos) {
        return report + appendix;
    }
    return report.substr(0, close) + appendix + report.substr(close);
}

} // namespace ReportPictures

} // namespace tolvarin
