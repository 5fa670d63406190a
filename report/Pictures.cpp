#include "report/Pictures.h"

#include "platform/ModuleLoader.h"
#include "platform/SafeFile.h"
#include "report/PictureRenderer.h"

#include <memory>
#include <mutex>
#include <unistd.h>

namespace tolvarin {

namespace Pictures {

namespace {

std::string countText(uint64_t n, const char* one, const char* many) {
    return std::to_string(n) + " " + (n == 1 ? one : many);
}

} // namespace

PictureRenderer* renderer(std::string* why) {
    static std::once_flag once;
    static std::unique_ptr<PictureRenderer> loaded;
    static std::string problem;
    std::call_once(once, [] {
        std::string path = ModuleLoader::modulePath("Pictures");
        if (::access(path.c_str(), R_OK) != 0) {
            problem = "the pictures are unavailable: " + path +
                      " is missing (this build has no graphics toolkit)";
            return;
        }
        std::string error;
        void* factory = ModuleLoader::findFactory(path, "PictureRenderer", &error);
        if (factory == nullptr) {
            problem = "the pictures are unavailable: " + error;
            return;
        }
        using Factory = PictureRenderer* (*)();
        loaded.reset(reinterpret_cast<Factory>(factory)());
        if (!loaded) {
            problem = "the pictures are unavailable: " + path + " made no renderer";
        }
    });
    if (!loaded && why != nullptr) {
        *why = problem;
    }
    return loaded.get();
}

SurfaceMapPicture surfaceMapOf(const TestMeasurements& m) {
    SurfaceMapPicture p;
    p.title = "Surface map: " + m.kind + " test, " + m.startStamp;
    p.unitSize = m.map.unitSize();
    p.position = m.outcome == "completed" ? -1 : m.lastPosition;
    for (const Stretch& s : m.map.stretches()) {
        p.cells.push_back({s.start, s.end, s.latencyClass(), s.slowestDoubtful});
    }
    if (!m.surfaceScanned) {
        p.notes.push_back("No surface scan ran in this test.");
    }
    if (m.doubtfulCount > 0) {
        p.notes.push_back(countText(m.doubtfulCount, "slow read was", "slow reads were") +
                          " timed while other I/O used the unit: doubtful (hatched).");
    }
    if (!m.activityWatched && !m.activityNote.empty()) {
        p.notes.push_back("Other I/O on the unit was not watched: " + m.activityNote + ".");
    }
    return p;
}

HistogramPicture surfaceHistogramOf(const TestMeasurements& m) {
    HistogramPicture p;
    p.title = "Surface read times (" + std::to_string(m.surfaceReads.total()) + " reads)";
    p.counts = m.surfaceReads.counts();
    return p;
}

HistogramPicture seekHistogramOf(const TestMeasurements& m) {
    HistogramPicture p;
    p.title = "Seek round trips (" + std::to_string(m.seekRoundTrips.total()) + ")";
    p.counts = m.seekRoundTrips.counts();
    if (!m.unit.seekTimesMeaningful()) {
        p.notes.push_back("Seek times mean little on this unit (" + m.unit.summary() +
                          "): nothing moves between places.");
    }
    return p;
}

BaselineChangePicture baselineChangeOf(const TestMeasurements& m) {
    BaselineChangePicture p;
    p.title = "Change against the baseline";
    p.unitSize = m.map.unitSize();
    p.threshold = m.baseline.threshold;
    const std::vector<Stretch>& stretches = m.map.stretches();
    for (size_t i = 0; i < stretches.size(); ++i) {
        ChangeCell cell;
        cell.start = stretches[i].start;
        cell.end = stretches[i].end;
        if (i < m.baseline.stretches.size()) {
            const StretchChange& c = m.baseline.stretches[i];
            cell.ratio = c.baselineRatio == c.baselineRatio ? c.baselineRatio : c.averageRatio;
            cell.slowed = c.slowed;
        }
        p.cells.push_back(cell);
    }
    if (!m.baseline.available) {
        p.notes.push_back(
            "No comparison: " +
            (m.baseline.note.empty() ? std::string("not a later normal test") : m.baseline.note) +
            ".");
    } else {
        if (!m.baseline.note.empty()) {
            p.notes.push_back("Note: " + m.baseline.note + ".");
        }
        p.notes.push_back(countText(m.baseline.slowed.size(), "stretch", "stretches") +
                          " slowed to less than " +
                          std::to_string(static_cast<int>(m.baseline.threshold * 100 + 0.5)) +
                          "% of the baseline's rate.");
    }
    return p;
}

TrendPicture trendOf(const std::vector<MeasurementArchive::Entry>& history) {
    TrendPicture p;
    p.title = "Relative performance indices";
    int unreadable = 0;
    for (const MeasurementArchive::Entry& e : history) {
        if (!e.test) {
            ++unreadable;
            continue;
        }
        TrendPoint point;
        point.label = e.test->startStamp;
        point.indices = e.test->indices;
        p.points.push_back(point);
    }
    if (unreadable > 0) {
        p.notes.push_back(countText(static_cast<uint64_t>(unreadable), "test is", "tests are") +
                          " missing: its measurement file could not be read.");
    }
    return p;
}

bool writeSurfaceMap(const TestMeasurements& m, const std::string& path, std::string* why) {
    PictureRenderer* r = renderer(why);
    if (r == nullptr) {
        return false;
    }
    std::string png = r->surfaceMap(surfaceMapOf(m), kMapWidth, kMapHeight, why);
    if (png.empty()) {
        return false;
    }
    return SafeFile::replace(path, png, why);
}

} // namespace Pictures

} // namespace tolvarin
