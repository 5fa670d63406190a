// tolvarin-bench: how close the scans come to the device.
//
// For one unit (an image file or a block device) it measures, in the same
// run and on the same descriptor mode the engine uses:
//   - the surface scan's read rate against a plain loop of 262,144-byte
//     read() calls over the whole unit;
//   - the seek scan's time per location pair against a plain loop making the
//     same lseek + read calls in the same order.
// Each measurement is warmed up once, then plain loop and scan alternate for
// a number of rounds and the medians are compared, so that a burst of work
// from another process on the machine does not decide the ratio. Every
// round runs the scan twice, with its recording of the measurements (the
// histograms, the surface map, the watch on other I/O) off and on. A few
// passes with every read timed alone then show the time each reader spends
// between its reads, the scan's own work, which moves far less from run to
// run than the rates do.

#include "base/TextFormat.h"
#include "bench/QuietScanHost.h"
#include "engine/DiskContext.h"
#include "engine/ScanController.h"
#include "engine/ScanRecorder.h"
#include "engine/SeekScan.h"
#include "engine/SizingSweep.h"
#include "engine/SurfaceScan.h"
#include "logging/Logger.h"
#include "platform/AlignedBuffer.h"
#include "platform/Env.h"
#include "platform/PosixRawDevice.h"
#include "platform/SafeFile.h"

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <climits>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <memory>
#include <optional>
#include <string>
#include <unistd.h>
#include <vector>

using namespace tolvarin;

namespace {

constexpr int64_t kScanReadSize = DiskContext::kScanReadSize;
constexpr int64_t kSeekReadSize = DiskContext::kSeekReadSize;
// The seek test's pattern (doLowLevelSeekTest): per cycle one positioning
// read at A, then 5 trips B, A.
constexpr int kSeekCycles = 25;
constexpr int kSeekTrips = 5;
// The surface targets: the scan reads at no less than 95% of the plain
// loop's rate, and with every recording on at no less than 98% of it.
constexpr double kSurfaceTarget = 0.95;
constexpr double kRecordingTarget = 0.98;
// The seek scan with its recording on takes at most 2% longer a pair.
constexpr double kSeekRecordingTarget = 1.02;
// Passes of each surface reader with every read timed (ReadGaps).
constexpr int kGapPasses = 3;

// The recording's own cost per read, in nanoseconds: what the scan thread
// spends in the recorder for one read of a sequential scan (a look at the
// unit's I/O counters every ScanRecorder::kSampleEvery reads included when
// the unit is a block device). Set by reportRecording, used by runSurface.
double recordingNanosPerRead = 0;

struct Options {
    std::string device;
    std::string label;
    std::string resultsFile; // RESULT lines are also appended here
    int rounds = 7;
    bool surface = true;
    bool seek = true;
};

void usage(FILE* out) {
    std::fprintf(out, "usage: tolvarin-bench [--label TEXT] [--rounds N] [--surface-only | "
                      "--seek-only] UNIT\n"
                      "  UNIT     an image file or a block device, read only\n"
                      "  --label  the name the RESULT lines give the setting (default: UNIT)\n"
                      "  --rounds alternating rounds after the warm-up (default 7, 1 to 99)\n"
                      "  --results a file the RESULT lines are also appended to\n");
}

std::optional<Options> parse(int argc, char** argv) {
    Options options;
    for (int i = 1; i < argc; ++i) {
        std::string arg = argv[i];
        auto value = [&]() -> const char* { return i + 1 < argc ? argv[++i] : nullptr; };
        if (arg == "--label") {
            const char* v = value();
            if (v == nullptr) {
                return std::nullopt;
            }
            options.label = v;
        } else if (arg == "--results") {
            const char* v = value();
            if (v == nullptr || *v == '\0') {
                return std::nullopt;
            }
            options.resultsFile = v;
        } else if (arg == "--rounds") {
            const char* v = value();
            char* end = nullptr;
            long n = v != nullptr ? std::strtol(v, &end, 10) : 0;
            if (v == nullptr || *end != '\0' || n < 1 || n > 99) {
                return std::nullopt;
            }
            options.rounds = static_cast<int>(n);
        } else if (arg == "--surface-only") {
            options.seek = false;
        } else if (arg == "--seek-only") {
            options.surface = false;
        } else if (!arg.empty() && arg[0] == '-') {
            return std::nullopt;
        } else if (options.device.empty()) {
            options.device = arg;
        } else {
            return std::nullopt;
        }
    }
    if (options.device.empty() || (!options.surface && !options.seek)) {
        return std::nullopt;
    }
    if (options.label.empty()) {
        options.label = options.device;
    }
    return options;
}

double now() {
    using Clock = std::chrono::steady_clock;
    return std::chrono::duration<double>(Clock::now().time_since_epoch()).count();
}

// CPU time of this thread (user and system), in seconds. Other processes on
// the machine barely move it, so it shows the engine's own cost even when
// the wall-clock rates are noisy. Work the kernel does in its own threads (a
// loop device's worker) is not in it.
double cpuNow() {
    struct timespec ts {};
    ::clock_gettime(CLOCK_THREAD_CPUTIME_ID, &ts);
    return static_cast<double>(ts.tv_sec) + static_cast<double>(ts.tv_nsec) / 1e9;
}

// Wall-clock and CPU seconds of one measured stretch.
struct Span {
    double wall = 0;
    double cpu = 0;
};

class Stopwatch {
  public:
    Stopwatch() : wall_(now()), cpu_(cpuNow()) {}
    Span elapsed() const { return Span{now() - wall_, cpuNow() - cpu_}; }

  private:
    double wall_;
    double cpu_;
};

double median(std::vector<double> values) {
    std::sort(values.begin(), values.end());
    size_t n = values.size();
    if (n == 0) {
        return 0;
    }
    return n % 2 == 1 ? values[n / 2] : (values[n / 2 - 1] + values[n / 2]) / 2;
}

// The element-wise ratios a[i] / b[i].
std::vector<double> ratiosOf(const std::vector<double>& a, const std::vector<double>& b) {
    std::vector<double> out;
    for (size_t i = 0; i < a.size() && i < b.size(); ++i) {
        out.push_back(a[i] / b[i]);
    }
    return out;
}

// A directory for the scans' logs, removed at the end.
class WorkDir {
  public:
    WorkDir() {
        const char* base = std::getenv("TMPDIR");
        std::string pattern =
            std::string(base != nullptr && *base ? base : "/tmp") + "/tolvarin-bench-XXXXXX";
        std::vector<char> name(pattern.begin(), pattern.end());
        name.push_back('\0');
        if (::mkdtemp(name.data()) != nullptr) {
            path_ = name.data();
        }
    }
    ~WorkDir() {
        if (!path_.empty() && !kept_) {
            std::error_code ignored;
            std::filesystem::remove_all(path_, ignored);
        }
    }
    WorkDir(const WorkDir&) = delete;
    WorkDir& operator=(const WorkDir&) = delete;
    const std::string& path() const { return path_; }
    // Leaves the directory in place (a failed run's log is worth reading).
    void keep() { kept_ = true; }

  private:
    std::string path_;
    bool kept_ = false;
};

// One engine test of the unit, prepared as a cursory test prepares it: the
// sizing sweep opens and sizes the unit, a fresh section layout follows.
class EngineUnit {
  public:
    bool prepare(const std::string& device, const std::string& logFile, std::string* why) {
        DiskContext& disk = controller_.prepareDiskContext();
        disk.setRawDevicePath(device);
        disk.setLogFilePath(logFile);
        controller_.setRawTargetDrive(device);
        // Never stop on the error limit: an error fails the measurement
        // instead (checked after the scan).
        controller_.setErrorLimit(INT_MAX);
        int result = SizingSweep::doSizingSweepWithLogFile(disk, logFile.c_str());
        if (result != 0 || !disk.device || disk.deviceSize <= 0) {
            *why = "the sizing sweep answered " + std::to_string(result) + " (see " + logFile + ")";
            return false;
        }
        SizingSweep::doSweepSectorAllocationWithFile(disk, "", logFile.c_str());
        if (disk.sectionCount <= 0) {
            *why = "no scan sections for the unit";
            return false;
        }
        return true;
    }

    ScanController& controller() { return controller_; }
    QuietScanHost& host() { return host_; }
    DiskContext& disk() { return *controller_.disk(); }
    // Everything a test records beside the designed files, as a cursory
    // test of the unit records it (no S.M.A.R.T.: it is read before and
    // after the scans, not during them).
    void record(const std::string& device) {
        controller_.recorder().beginTest({"cursory", device, "", "", false, "", ""});
    }

  private:
    QuietScanHost host_;
    ScanController controller_{host_};
};

// --- surface -----------------------------------------------------------------

// Where a reader's time goes: inside its read calls, and between them (the
// reader's own work). The wall-clock rates of whole runs move by a few
// percent from run to run on a shared machine; the time between reads, taken
// read by read, shows what the scan itself adds to each read much more
// steadily.
class ReadGaps {
  public:
    static int64_t nanosNow() {
        struct timespec ts {};
        ::clock_gettime(CLOCK_MONOTONIC, &ts);
        return static_cast<int64_t>(ts.tv_sec) * 1000000000 + ts.tv_nsec;
    }
    void before() {
        int64_t t = nanosNow();
        if (reads_ > 0) {
            between_ += t - lastEnd_;
        } else {
            firstStart_ = t;
        }
        start_ = t;
    }
    void after() {
        lastEnd_ = nanosNow();
        inside_ += lastEnd_ - start_;
        ++reads_;
    }
    // Mean nanoseconds between the end of a read and the start of the next.
    double betweenNanos() const {
        return reads_ > 1 ? static_cast<double>(between_) / static_cast<double>(reads_ - 1) : 0;
    }
    // Seconds of a run of span wall seconds before its first and after its
    // last read.
    double outsideSeconds(double span) const {
        return reads_ > 0 ? span - static_cast<double>(lastEnd_ - firstStart_) / 1e9 : span;
    }
    double insideNanos() const {
        return reads_ > 0 ? static_cast<double>(inside_) / static_cast<double>(reads_) : 0;
    }

  private:
    int64_t firstStart_ = 0;
    int64_t start_ = 0;
    int64_t lastEnd_ = 0;
    int64_t inside_ = 0;
    int64_t between_ = 0;
    int64_t reads_ = 0;
};

// The engine's unit, each positioned read timed for ReadGaps.
class GapTimedDevice : public ForwardingDevice {
  public:
    GapTimedDevice(std::unique_ptr<RawDevice> inner, ReadGaps& gaps)
        : ForwardingDevice(std::move(inner)), gaps_(gaps) {}
    int64_t readAt(int64_t offset, void* buffer, int64_t length) override {
        gaps_.before();
        int64_t n = inner().readAt(offset, buffer, length);
        gaps_.after();
        return n;
    }

  private:
    ReadGaps& gaps_;
};

std::optional<Span> plainSurface(int fd, int64_t expected, std::string* why,
                                 ReadGaps* gaps = nullptr) {
    if (::lseek(fd, 0, SEEK_SET) != 0) {
        *why = std::string("lseek: ") + std::strerror(errno);
        return std::nullopt;
    }
    // A buffer of its own for each run, as each test of the engine has: the
    // caches favour some placements of a buffer in memory over others, and
    // one buffer kept for all the runs would give the plain loop one draw
    // for the whole benchmark.
    AlignedBuffer buffer(static_cast<size_t>(kScanReadSize));
    int64_t total = 0;
    Stopwatch watch;
    for (;;) {
        if (gaps != nullptr) {
            gaps->before();
        }
        ssize_t n = ::read(fd, buffer.data(), static_cast<size_t>(kScanReadSize));
        if (gaps != nullptr) {
            gaps->after();
        }
        if (n < 0) {
            *why = "plain read at byte " + std::to_string(total) + ": " + std::strerror(errno);
            return std::nullopt;
        }
        if (n == 0) {
            break;
        }
        total += n;
    }
    Span span = watch.elapsed();
    if (total != expected) {
        *why = "the plain loop read " + std::to_string(total) + " bytes, the sizing sweep found " +
               std::to_string(expected);
        return std::nullopt;
    }
    return span;
}

std::optional<Span> engineSurface(const std::string& device, int64_t expected,
                                  const std::string& logFile, std::string* why, bool recording,
                                  ReadGaps* gaps = nullptr) {
    EngineUnit unit;
    if (!unit.prepare(device, logFile, why)) {
        return std::nullopt;
    }
    if (recording) {
        unit.record(device);
    }
    if (gaps != nullptr) {
        unit.disk().device = std::make_unique<GapTimedDevice>(std::move(unit.disk().device), *gaps);
    }
    SurfaceScan scan(unit.controller(), unit.host());
    Stopwatch watch;
    bool completed = scan.doSurfaceScanTestUsingFile("");
    Span span = watch.elapsed();
    DiskContext& disk = unit.disk();
    if (!completed || disk.surfaceErrors != 0) {
        *why = "the surface scan did not read the unit cleanly (" +
               std::to_string(disk.surfaceErrors) + " errors; see " + logFile + ")";
        return std::nullopt;
    }
    if (disk.deviceSize != expected) {
        *why = "the unit changed size during the benchmark";
        return std::nullopt;
    }
    return span;
}

// --- seek --------------------------------------------------------------------

struct SeekPattern {
    std::vector<std::pair<int64_t, int64_t>> pairs; // byte offsets A < B
    int64_t readLength = kSeekReadSize;
    int64_t alignTo = 1; // offsets rounded down to this
};

bool plainSeek(int fd, AlignedBuffer& buffer, const SeekPattern& pattern, std::string* why) {
    auto go = [&](int64_t offset) {
        int64_t at = offset / pattern.alignTo * pattern.alignTo;
        if (::lseek(fd, at, SEEK_SET) < 0) {
            *why = "plain lseek to " + std::to_string(at) + ": " + std::strerror(errno);
            return false;
        }
        if (::read(fd, buffer.data(), static_cast<size_t>(pattern.readLength)) < 0) {
            *why = "plain read at " + std::to_string(at) + ": " + std::strerror(errno);
            return false;
        }
        return true;
    };
    for (const auto& [a, b] : pattern.pairs) {
        for (int cycle = 0; cycle < kSeekCycles; ++cycle) {
            if (!go(a)) {
                return false;
            }
            for (int trip = 0; trip < kSeekTrips; ++trip) {
                if (!go(b) || !go(a)) {
                    return false;
                }
            }
        }
    }
    return true;
}

// The pairs of a cursory seek scan over the unit, in the scan's order.
std::vector<std::pair<int64_t, int64_t>> seekPairsOf(const DiskContext& disk) {
    SeekScan::Layout layout = SeekScan::cursoryLayout(disk);
    std::vector<std::pair<int64_t, int64_t>> pairs;
    int64_t total = SeekScan::pairCountFor(layout.count);
    for (int64_t i = 0; i < total; ++i) {
        auto [a, b] = SeekScan::pairLocations(layout.count, i);
        pairs.emplace_back(a * layout.interval * 512, b * layout.interval * 512);
    }
    return pairs;
}

std::optional<Span> engineSeek(const std::string& device, const std::string& logFile,
                               std::string* why, bool recording) {
    EngineUnit unit;
    if (!unit.prepare(device, logFile, why)) {
        return std::nullopt;
    }
    if (recording) {
        unit.record(device);
    }
    SeekScan scan(unit.controller(), unit.host());
    Stopwatch watch;
    bool completed = scan.doSeekScanTestUsingSeekFile("", "");
    Span span = watch.elapsed();
    if (!completed || unit.disk().seekErrors != 0) {
        *why = "the seek scan did not measure every pair (" +
               std::to_string(unit.disk().seekErrors) + " errors; see " + logFile + ")";
        return std::nullopt;
    }
    return span;
}

// --- the run -----------------------------------------------------------------

// Prints one RESULT line and appends it to the results file, if any.
void result(const Options& options, const char* format, ...) __attribute__((format(printf, 2, 3)));
void result(const Options& options, const char* format, ...) {
    va_list args;
    va_start(args, format);
    std::string line = "RESULT " + vformatText(format, args) + "\n";
    va_end(args);
    std::fputs(line.c_str(), stdout);
    std::fflush(stdout);
    std::string error;
    if (!options.resultsFile.empty() && !SafeFile::append(options.resultsFile, line, &error)) {
        std::fprintf(stderr, "tolvarin-bench: %s: %s\n", options.resultsFile.c_str(),
                     error.c_str());
    }
}

int fail(const Options& options, const std::string& what) {
    result(options, "%s: FAILED: %s", options.label.c_str(), what.c_str());
    return 1;
}

// Per-round values of the plain loop and the scan, in the unit a setting
// reports (a rate or a time).
struct Series {
    std::vector<double> plain;
    std::vector<double> scan;
    std::vector<double> recorded; // the scan with its recording on
    std::vector<double> plainCpu;
    std::vector<double> scanCpu;
    std::vector<double> recordedCpu;
};

int runSurface(const Options& options, PosixRawDevice& plain, int64_t size,
               const std::string& logFile) {
    std::string why;
    std::printf("surface: %lld bytes in 262,144-byte reads; warm-up, then %d rounds of plain "
                "loop, scan, scan with recording, in turns\n",
                static_cast<long long>(size), options.rounds);
    std::fflush(stdout);
    if (!plainSurface(plain.fd(), size, &why) ||
        !engineSurface(options.device, size, logFile, &why, false) ||
        !engineSurface(options.device, size, logFile, &why, true)) {
        return fail(options, "surface warm-up: " + why);
    }
    double gigabytes = static_cast<double>(size) / 1e9;
    Series rates;
    for (int round = 1; round <= options.rounds; ++round) {
        // The three readers take turns at going first, second and last: a
        // reader that always followed another would always meet the machine
        // in the state the other left (caches, clock speed, other work).
        static constexpr int kOrders[6][3] = {{0, 1, 2}, {2, 1, 0}, {1, 2, 0},
                                              {0, 2, 1}, {2, 0, 1}, {1, 0, 2}};
        std::optional<Span> p;
        std::optional<Span> s;
        std::optional<Span> r;
        for (int reader : kOrders[(round - 1) % 6]) {
            std::optional<Span> span =
                reader == 0 ? plainSurface(plain.fd(), size, &why)
                            : engineSurface(options.device, size, logFile, &why, reader == 2);
            if (!span) {
                return fail(options, "surface: " + why);
            }
            (reader == 0 ? p : reader == 1 ? s : r) = span;
        }
        rates.plain.push_back(gigabytes / p->wall);
        rates.scan.push_back(gigabytes / s->wall);
        rates.recorded.push_back(gigabytes / r->wall);
        rates.plainCpu.push_back(p->cpu / gigabytes);
        rates.scanCpu.push_back(s->cpu / gigabytes);
        rates.recordedCpu.push_back(r->cpu / gigabytes);
        std::printf("  round %d: plain %7.3f GB/s   scan %7.3f GB/s (%5.1f%%)   recording "
                    "%7.3f GB/s (%5.1f%%)   CPU s/GB plain %.4f scan %.4f recording %.4f\n",
                    round, rates.plain.back(), rates.scan.back(),
                    100.0 * rates.scan.back() / rates.plain.back(), rates.recorded.back(),
                    100.0 * rates.recorded.back() / rates.plain.back(), rates.plainCpu.back(),
                    rates.scanCpu.back(), rates.recordedCpu.back());
        std::fflush(stdout);
    }
    // The reads timed one by one, in passes of their own (the timing adds a
    // little to every read, so these runs give no rates).
    std::vector<double> gapPlain;
    std::vector<double> gapScan;
    std::vector<double> gapRecorded;
    std::vector<double> inRead;
    std::vector<double> inReadOf[3];
    std::vector<double> outsideOf[3];
    for (int pass = 0; pass < kGapPasses; ++pass) {
        for (int reader : {pass % 3, (pass + 1) % 3, (pass + 2) % 3}) {
            ReadGaps gaps;
            std::optional<Span> span = reader == 0 ? plainSurface(plain.fd(), size, &why, &gaps)
                                                   : engineSurface(options.device, size, logFile,
                                                                   &why, reader == 2, &gaps);
            if (!span) {
                return fail(options, "surface: " + why);
            }
            (reader == 0   ? gapPlain
             : reader == 1 ? gapScan
                           : gapRecorded)
                .push_back(gaps.betweenNanos());
            inRead.push_back(gaps.insideNanos());
            inReadOf[reader].push_back(gaps.insideNanos());
            outsideOf[reader].push_back(gaps.outsideSeconds(span->wall));
        }
    }
    std::printf("  time in a read (medians): plain loop %.0f ns, scan %.0f ns, scan with recording "
                "%.0f ns\n",
                median(inReadOf[0]), median(inReadOf[1]), median(inReadOf[2]));
    std::printf("  time before the first read and after the last (medians): plain loop %.3f ms, "
                "scan %.3f ms, scan with recording %.3f ms\n",
                1e3 * median(outsideOf[0]), 1e3 * median(outsideOf[1]), 1e3 * median(outsideOf[2]));
    double readNanosTimed = median(inRead);
    double ownScan = median(gapScan) - median(gapPlain);
    double ownRecorded = median(gapRecorded) - median(gapPlain);
    result(options,
           "surface work between reads %s: plain loop %.0f ns, scan %.0f ns, scan with recording "
           "%.0f ns a read (medians of %d passes); the scan's own work %.2f%%, with recording "
           "%.2f%% of a read (%.0f ns)",
           options.label.c_str(), median(gapPlain), median(gapScan), median(gapRecorded),
           kGapPasses, 100.0 * ownScan / readNanosTimed, 100.0 * ownRecorded / readNanosTimed,
           readNanosTimed);

    double plainMedian = median(rates.plain);
    double scanMedian = median(rates.scan);
    // Judged on the rounds' own ratios: the two runs of a round lie next to
    // each other in time, so a load that comes and goes over the whole
    // benchmark cancels out of each of them.
    double ratio = median(ratiosOf(rates.scan, rates.plain));
    double bestRatio = *std::max_element(rates.scan.begin(), rates.scan.end()) /
                       *std::max_element(rates.plain.begin(), rates.plain.end());
    std::printf("  best rounds: scan/plain %.1f%%; this thread's CPU per GB (medians): plain "
                "%.4f s, scan %.4f s (scan/plain %.1f%%)\n",
                100.0 * bestRatio, median(rates.plainCpu), median(rates.scanCpu),
                100.0 * median(rates.scanCpu) / median(rates.plainCpu));
    result(options,
           "surface %s: scan %.3f GB/s, plain loop %.3f GB/s (medians of %d rounds), "
           "scan/plain %.1f%% (median of the rounds; target >= %.0f%%: %s)",
           options.label.c_str(), scanMedian, plainMedian, options.rounds, 100.0 * ratio,
           100.0 * kSurfaceTarget, ratio >= kSurfaceTarget ? "met" : "NOT MET");
    double recorded = median(ratiosOf(rates.recorded, rates.plain));
    double onOff = median(ratiosOf(rates.recorded, rates.scan));
    std::printf("  recording: this thread's CPU per GB (median) %.4f s, %+.4f s against the scan "
                "without it\n",
                median(rates.recordedCpu), median(rates.recordedCpu) - median(rates.scanCpu));
    result(options,
           "surface recording %s: scan with recording %.3f GB/s, recording on/plain %.1f%% "
           "(target >= %.0f%%: %s), recording on/off %.1f%% (medians of the rounds)",
           options.label.c_str(), median(rates.recorded), 100.0 * recorded,
           100.0 * kRecordingTarget, recorded >= kRecordingTarget ? "met" : "NOT MET",
           100.0 * onOff);
    // The recording's own CPU per read against the time a read takes at the
    // plain loop's rate: what it can cost at most where the scan does not
    // wait for the machine.
    double readNanos = static_cast<double>(DiskContext::kScanReadSize) / plainMedian;
    result(options,
           "surface recording cost %s: %.0f ns a read = %.2f%% of a read at the plain loop's "
           "rate (%.0f ns)",
           options.label.c_str(), recordingNanosPerRead, 100.0 * recordingNanosPerRead / readNanos,
           readNanos);
    return ratio >= kSurfaceTarget && recorded >= kRecordingTarget ? 0 : 2;
}

int runSeek(const Options& options, PosixRawDevice& plain, const std::string& logFile) {
    std::string why;
    EngineUnit layoutUnit;
    if (!layoutUnit.prepare(options.device, logFile, &why)) {
        return fail(options, "seek: " + why);
    }
    SeekPattern pattern;
    pattern.pairs = seekPairsOf(layoutUnit.disk());
    if (pattern.pairs.empty()) {
        return fail(options, "seek: the unit is too small for a seek scan");
    }
    AlignedBuffer buffer(
        static_cast<size_t>(std::max<int64_t>(kSeekReadSize, plain.logicalBlockSize())));
    // The plain loop makes the calls the unit accepts: 1,024-byte reads where
    // the descriptor takes them, else (O_DIRECT on a file system that wants
    // whole blocks) the enclosing block, as the engine widens them.
    if (::lseek(plain.fd(), 0, SEEK_SET) != 0 ||
        ::read(plain.fd(), buffer.data(), static_cast<size_t>(kSeekReadSize)) < 0) {
        if (errno != EINVAL) {
            return fail(options, std::string("seek: plain read: ") + std::strerror(errno));
        }
        pattern.readLength = plain.logicalBlockSize();
        pattern.alignTo = plain.logicalBlockSize();
    }
    auto pairs = static_cast<double>(pattern.pairs.size());
    std::printf("seek: %zu pairs of 25 cycles (lseek + read(%lld) at A, then 5 trips B, A); "
                "warm-up, then %d rounds of plain loop, scan\n",
                pattern.pairs.size(), static_cast<long long>(pattern.readLength), options.rounds);
    if (pattern.readLength != kSeekReadSize) {
        std::printf("  the descriptor refuses 1,024-byte reads; the plain loop reads the "
                    "enclosing %lld-byte block\n",
                    static_cast<long long>(pattern.readLength));
    }
    std::fflush(stdout);
    if (!plainSeek(plain.fd(), buffer, pattern, &why) ||
        !engineSeek(options.device, logFile, &why, false) ||
        !engineSeek(options.device, logFile, &why, true)) {
        return fail(options, "seek warm-up: " + why);
    }
    Series times; // microseconds per pair
    for (int round = 1; round <= options.rounds; ++round) {
        Stopwatch watch;
        if (!plainSeek(plain.fd(), buffer, pattern, &why)) {
            return fail(options, "seek: " + why);
        }
        Span p = watch.elapsed();
        std::optional<Span> s;
        std::optional<Span> r;
        for (int k = 0; k < 2; ++k) {
            bool on = (k == 0) == (round % 2 == 0);
            auto span = engineSeek(options.device, logFile, &why, on);
            if (!span) {
                return fail(options, "seek: " + why);
            }
            (on ? r : s) = span;
        }
        times.plain.push_back(p.wall / pairs * 1e6);
        times.scan.push_back(s->wall / pairs * 1e6);
        times.recorded.push_back(r->wall / pairs * 1e6);
        times.plainCpu.push_back(p.cpu / pairs * 1e6);
        times.scanCpu.push_back(s->cpu / pairs * 1e6);
        times.recordedCpu.push_back(r->cpu / pairs * 1e6);
        std::printf("  round %d: plain %8.1f us/pair   scan %8.1f us/pair (x%.3f)   recording "
                    "%8.1f us/pair (x%.3f of the scan)   CPU us/pair plain %.1f scan %.1f "
                    "recording %.1f\n",
                    round, times.plain.back(), times.scan.back(),
                    times.scan.back() / times.plain.back(), times.recorded.back(),
                    times.recorded.back() / times.scan.back(), times.plainCpu.back(),
                    times.scanCpu.back(), times.recordedCpu.back());
        std::fflush(stdout);
    }
    double plainMedian = median(times.plain);
    double scanMedian = median(times.scan);
    std::printf("  this thread's CPU per pair (medians): plain %.1f us, scan %.1f us\n",
                median(times.plainCpu), median(times.scanCpu));
    result(options,
           "seek %s: scan %.1f us/pair, plain loop %.1f us/pair (medians of %d rounds), "
           "scan takes x%.3f the plain loop's time (median of the rounds)",
           options.label.c_str(), scanMedian, plainMedian, options.rounds,
           median(ratiosOf(times.scan, times.plain)));
    double onOff = median(ratiosOf(times.recorded, times.scan));
    result(options,
           "seek recording %s: %.1f us/pair with recording, x%.4f the scan without it "
           "(median of the rounds; target <= x%.2f: %s); CPU us/pair %.1f against %.1f",
           options.label.c_str(), median(times.recorded), onOff, kSeekRecordingTarget,
           onOff <= kSeekRecordingTarget ? "met" : "NOT MET", median(times.recordedCpu),
           median(times.scanCpu));
    return 0;
}

// The recording's memory for a 20 TB unit, laid out as a test lays it out,
// with the arithmetic behind the figure, and its cost per read.
void reportRecording(const Options& options) {
    constexpr int64_t kUnit = 20000000000000LL;
    DiskContext disk;
    disk.deviceSize = kUnit;
    disk.sectorCount = kUnit / 512;
    SizingSweep::doSweepSectorAllocationWithFile(disk, "", "");
    ScanRecorder recorder(Env::standard());
    recorder.beginTest({"cursory", "/nonexistent/unit", "", "", false, "", ""});
    recorder.surfaceBegins(disk);
    for (const ScanSection& section : disk.sections) {
        recorder.sectionBegins();
        recorder.readTimed(section.start, DiskContext::kScanReadSize, 4000, false);
        recorder.sectionEnds();
    }
    recorder.surfaceEnds();
    size_t total = recorder.memoryBytes();
    constexpr size_t n = SurfaceMap::kMaximumStretches;
    constexpr size_t sketch = LatencyHistogram::kBuckets * sizeof(uint32_t);
    constexpr size_t histograms = 2 * LatencyHistogram::kBuckets * sizeof(uint64_t);
    std::printf("memory: %d sections -> at most %zu stretches; per stretch %zu B of map + %zu B "
                "of median sketch + %zu B of live copy = %zu B; x %zu = %zu B; histograms %zu "
                "B; doubtful list at most %zu x %zu B\n",
                disk.sectionCount, n, sizeof(Stretch), sketch, sizeof(MapCell),
                sizeof(Stretch) + sketch + sizeof(MapCell), n,
                n * (sizeof(Stretch) + sketch + sizeof(MapCell)), histograms,
                TestMeasurements::kMaximumDoubtful, sizeof(DoubtfulReading));
    result(options, "recording memory for a 20 TB unit: %.2f MB (target < 20 MB: %s)",
           static_cast<double>(total) / 1e6, total < 20000000 ? "met" : "NOT MET");

    // Sequential reads over the first sections of the same layout, on the
    // unit's own counters when it has any.
    recorder.beginTest({"cursory", options.device, "", "", false, "", ""});
    recorder.surfaceBegins(disk);
    constexpr int kReads = 2000000;
    int done = 0;
    Stopwatch watch;
    for (const ScanSection& section : disk.sections) {
        recorder.sectionBegins();
        for (int64_t at = section.start; at < section.end && done < kReads;
             at += DiskContext::kScanReadSize, ++done) {
            recorder.readTimed(at, DiskContext::kScanReadSize, 1000 + done % 3000, false);
        }
        recorder.sectionEnds();
        if (done >= kReads) {
            break;
        }
    }
    Span spent = watch.elapsed();
    recorder.surfaceEnds();
    recordingNanosPerRead = spent.cpu / done * 1e9;
    std::shared_ptr<const TestMeasurements> m = recorder.finishTest(ScanRecorder::TestEnd{});
    std::printf("recording cost: %.1f ns of CPU per read over %d sequential reads (%s)\n",
                recordingNanosPerRead, done,
                m && m->activityWatched ? "the unit's I/O counters watched"
                                        : "no I/O counters to watch");
}

int run(const Options& options, const std::string& logFile) {
    reportRecording(options);
    // The plain loops read through a descriptor opened exactly as the engine
    // opens the unit (O_DIRECT where the kernel accepts it).
    int err = 0;
    std::string message;
    std::unique_ptr<PosixRawDevice> plain =
        PosixRawDevice::open(options.device, PosixRawDevice::Access::ReadOnly, &err, &message);
    if (!plain) {
        return fail(options, message);
    }
    std::string why;
    EngineUnit probe;
    if (!probe.prepare(options.device, logFile, &why)) {
        return fail(options, why);
    }
    int64_t size = probe.disk().deviceSize;
    std::printf("unit %s: %lld bytes, %d scan sections; opened %s, logical block %lld bytes\n",
                options.device.c_str(), static_cast<long long>(size), probe.disk().sectionCount,
                plain->isDirect() ? "with O_DIRECT" : "without O_DIRECT (refused)",
                static_cast<long long>(plain->logicalBlockSize()));
    std::fflush(stdout);

    int status = 0;
    if (options.surface) {
        int s = runSurface(options, *plain, size, logFile);
        if (s == 1) {
            return 1;
        }
        status = std::max(status, s);
    }
    if (options.seek && runSeek(options, *plain, logFile) != 0) {
        return 1;
    }
    return status;
}

} // namespace

int main(int argc, char** argv) {
    std::optional<Options> parsed = parse(argc, argv);
    if (!parsed) {
        usage(stderr);
        return 64;
    }
    WorkDir work;
    if (work.path().empty()) {
        std::fprintf(stderr, "tolvarin-bench: cannot create a work directory: %s\n",
                     std::strerror(errno));
        return 1;
    }
    std::string logFile = work.path() + "/Log.txt";
    Logger::setUserLogFileNameAndPathWithString(logFile);
    int status = run(*parsed, logFile);
    std::error_code ignored;
    if (status == 1 && std::filesystem::exists(logFile, ignored)) {
        work.keep();
        std::fprintf(stderr, "tolvarin-bench: the scans' log stays in %s\n", logFile.c_str());
    }
    return status;
}
