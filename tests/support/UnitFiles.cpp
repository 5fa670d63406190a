#include "tests/support/UnitFiles.h"

#include "engine/DiskContext.h"
#include "platform/SafeFile.h"
#include "store/AverageFile.h"
#include "store/DataFileFormat.h"
#include "store/FileProcessor.h"

#include <filesystem>
#include <stdexcept>
#include <unistd.h>

namespace tolvarin {

namespace {

std::string fixed(double v) {
    return DataFileFormat::formatFixed(v);
}

void require(bool ok, const std::string& what) {
    if (!ok) {
        throw std::runtime_error("UnitFiles: " + what);
    }
}

} // namespace

UnitFiles::UnitFiles(std::string directory, std::string prefix)
    : directory_(std::move(directory)), prefix_(std::move(prefix)) {}

const std::vector<std::string>& UnitFiles::suffixes() {
    static const std::vector<std::string> all{".hdr", ".siz", ".ssx", ".skx", ".iss",
                                              ".ssa", ".isk", ".ska", ".css", ".pss",
                                              ".csk", ".psk", ".sst", ".skt"};
    return all;
}

int UnitFiles::bitFor(const std::string& suffix) {
    const auto& all = suffixes();
    for (std::size_t i = 0; i < all.size(); ++i) {
        if (all[i] == suffix) {
            return 1 << i;
        }
    }
    return 0;
}

std::string UnitFiles::path(const std::string& suffix) const {
    return directory_ + "/" + prefix_ + suffix;
}

void UnitFiles::write(const std::string& suffix, const std::string& text) const {
    require(SafeFile::replace(path(suffix), text), "cannot write " + suffix);
}

std::optional<std::string> UnitFiles::read(const std::string& suffix) const {
    return SafeFile::read(path(suffix));
}

bool UnitFiles::exists(const std::string& suffix) const {
    return std::filesystem::exists(std::filesystem::symlink_status(path(suffix)));
}

int UnitFiles::stateOnDisk() const {
    int state = 0;
    for (const std::string& suffix : suffixes()) {
        if (exists(suffix)) {
            state += bitFor(suffix);
        }
    }
    return state;
}

std::map<std::string, std::string> UnitFiles::snapshot() const {
    std::map<std::string, std::string> files;
    std::error_code ec;
    for (const auto& entry : std::filesystem::directory_iterator(directory_, ec)) {
        std::string n = entry.path().filename().string();
        if (n.rfind(prefix_ + ".", 0) == 0) {
            files[n] = SafeFile::read(entry.path().string()).value_or("<unreadable>");
        }
    }
    return files;
}

std::string UnitFiles::header(const std::string& fileName) {
    return DataFileFormat::header() + "disk:500\nUUID:1234-ABCD PART:s1 SIZE:500.1\n\n" +
           DataFileFormat::trailer(fileName) + "\n";
}

std::string UnitFiles::surfaceScan(const std::string& fileName, int records, int seed,
                                   Ending ending) {
    std::string text = DataFileFormat::header();
    for (int i = 0; i < records; ++i) {
        SurfaceRecord r;
        r.index = i;
        r.minTime = 0.001 * (i + seed);
        r.maxTime = 0.1 * (i + seed);
        r.maxTimePosition = int64_t{i} * 1048576000 + 262144 * seed;
        r.avgTime = 0.01 * (i + seed);
        r.stdDev = 0.002 * (i + seed);
        r.totalTime = 40.0 + i + seed;
        r.clean = (i + seed) % 3 == 0 ? 0 : 1;
        r.irregularityCount = r.clean == 0 ? 1 : 0;
        text += DataFileFormat::formatSurfaceRecord(r) + "\n";
    }
    if (ending == Ending::Complete) {
        text += "\nRPISSLIN: " + fixed(41.0 + seed) + "\nRPISSRAT: " + fixed(2.0 + 0.1 * seed) +
                "\n\nSurface Scan Complete\n\n" + DataFileFormat::trailer(fileName) + "\n";
    } else if (ending == Ending::Terminated) {
        text += "Surface Scan Terminated by User\n\n" + DataFileFormat::trailer(fileName) + "\n";
    }
    return text;
}

std::string UnitFiles::seekScan(const std::string& fileName, int records, int seed, Ending ending) {
    std::string text = DataFileFormat::header();
    for (int i = 0; i < records; ++i) {
        SeekRecord r;
        r.index = i;
        r.minTime = 0.004 * (i + seed);
        r.maxTime = 0.02 * (i + seed);
        r.avgTime = 0.008 * (i + seed);
        r.totalTime = 0.2 * (i + seed);
        text += DataFileFormat::formatSeekRecord(r) + "\n";
    }
    if (ending == Ending::Complete) {
        text += "\nRPISKLIN: " + fixed(8.0 + seed) + "\nRPISKRAT: " + fixed(0.7 + 0.1 * seed) +
                "\n\nSeek Scan Complete\n\n" + DataFileFormat::trailer(fileName) + "\n";
    } else if (ending == Ending::Terminated) {
        text += "Seek Scan Terminated by User\n\n" + DataFileFormat::trailer(fileName) + "\n";
    }
    return text;
}

void UnitFiles::makeState(int state) const {
    using Kind = AverageFile::Kind;
    FileProcessor fp;
    DiskContext disk;
    disk.deviceSize = 3 * FileProcessor::kSweepSize - 4096;
    write(".hdr", header(name(".hdr")));
    require(fp.processSizFileWithPath(directory_, prefix_, disk.deviceSize), ".siz");
    require(fp.processSsxFileWithPath(directory_, prefix_, disk), ".ssx");
    require(fp.processSkxFileWithPath(directory_, prefix_, disk), ".skx");
    if (state == 15) {
        return;
    }
    auto complete = UnitFiles::Ending::Complete;
    auto stopped = UnitFiles::Ending::Terminated;
    if (state == 31) {
        write(".iss", surfaceScan(name(".iss"), 2, 1, stopped));
        return;
    }
    write(".iss", surfaceScan(name(".iss"), kSections, 1, complete));
    require(AverageFile::createFirstAverage(Kind::Surface, path(".ssa"), path(".iss")), ".ssa");
    if (state == 63) {
        return;
    }
    if (state == 127) {
        write(".isk", seekScan(name(".isk"), 2, 1, stopped));
        return;
    }
    write(".isk", seekScan(name(".isk"), kPairs, 1, complete));
    require(AverageFile::createFirstAverage(Kind::Seek, path(".ska"), path(".isk")), ".ska");
    if (state == 255) {
        return;
    }
    // At rest after one repeat scan: its files are the current ones, and the
    // averages hold two scans.
    write(".css", surfaceScan(name(".css"), kSections, 2, complete));
    write(".csk", seekScan(name(".csk"), kPairs, 2, complete));
    require(AverageFile::fold(Kind::Surface, path(".sst"), path(".ssa"), path(".css")), "fold");
    require(fp.generateFileFromType(".sst", ".ssa", path(".sst")), ".ssa copy");
    require(AverageFile::fold(Kind::Seek, path(".skt"), path(".ska"), path(".csk")), "fold");
    require(fp.generateFileFromType(".skt", ".ska", path(".skt")), ".ska copy");
    std::filesystem::remove(path(".sst"));
    std::filesystem::remove(path(".skt"));
    if (state == 1535) {
        return;
    }
    require(fp.generateFileFromType(".css", ".pss", path(".css")), ".pss");
    if (state == 2047) {
        write(".css", surfaceScan(name(".css"), 2, 3, stopped));
        return;
    }
    write(".css", surfaceScan(name(".css"), kSections, 3, complete));
    require(AverageFile::fold(Kind::Surface, path(".sst"), path(".ssa"), path(".css")), "fold");
    if (state == 6143) {
        return;
    }
    require(fp.generateFileFromType(".sst", ".ssa", path(".sst")), ".ssa copy");
    std::filesystem::remove(path(".sst"));
    std::filesystem::remove(path(".pss"));
    require(fp.generateFileFromType(".csk", ".psk", path(".csk")), ".psk");
    if (state == 3583) {
        write(".csk", seekScan(name(".csk"), 2, 3, stopped));
        return;
    }
    write(".csk", seekScan(name(".csk"), kPairs, 3, complete));
    require(AverageFile::fold(Kind::Seek, path(".skt"), path(".ska"), path(".csk")), "fold");
    require(state == 11775, "unknown state");
}

MemoryBackedTemp::MemoryBackedTemp() {
    if (::access("/dev/shm", W_OK) == 0) {
        env_ = std::make_unique<ScopedEnv>("TMPDIR", "/dev/shm");
    }
}

} // namespace tolvarin
