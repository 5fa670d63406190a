#include "engine/NormalScan.h"
#include "engine/DiskContext.h"
#include "engine/ScanController.h"
#include "logging/Logger.h"
#include "logging/MessageCenter.h"
#include "platform/SafeFile.h"
#include "report/ReportGenerator.h"
#include "report/TestReport.h"
#include "store/FileProcessor.h"
#include "store/Quarrykit.h"
#include "store/RunJournal.h"
#include "tests/support/FakeClock.h"
#include "tests/support/FakeScanHost.h"
#include "tests/support/ScriptedAnswerer.h"
#include "tests/support/SimulatedDevice.h"
#include "tests/support/TempDir.h"
#include "tests/support/UnitFiles.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <functional>
#include <map>
#include <regex>
#include <unistd.h>

namespace tolvarin {

namespace fs = std::filesystem;

namespace {

constexpr int64_t MiB = 1048576;
constexpr int64_t kUnitSize = 4 * MiB;
const std::string kPrefix = UnitFiles::kPrefix;

int count(const std::string& text, const std::string& piece) {
    int n = 0;
    for (size_t at = text.find(piece); at != std::string::npos; at = text.find(piece, at + 1)) {
        ++n;
    }
    return n;
}

// The section indices a surface or seek file records, in order.
std::vector<int> recordIndices(const std::string& text) {
    std::vector<int> out;
    std::regex record("(^|\n)I:([0-9]+) ");
    for (std::sregex_iterator it(text.begin(), text.end(), record), end; it != end; ++it) {
        out.push_back(std::stoi((*it)[2]));
    }
    return out;
}

std::vector<int> upTo(int n) {
    std::vector<int> v;
    for (int i = 0; i < n; ++i) {
        v.push_back(i);
    }
    return v;
}

// A normal test replaces many small files, each flushed to disk; in memory
// (a tmpfs where there is one) the suite stays fast.
std::string memoryBackedTemp() {
    const char* shm = "/dev/shm";
    if (::access(shm, W_OK) == 0 && fs::is_directory(shm)) {
        return shm;
    }
    const char* tmp = std::getenv("TMPDIR");
    return tmp != nullptr ? tmp : "/tmp";
}

class NormalScanTest : public ::testing::Test {
  protected:
    void SetUp() override {
        Logger::resetForTests();
        MessageCenter::resetForTests();
        Logger::setClock(clock);
        MessageCenter::setAnswerer(answerer);
        Logger::initWithUserDir(home.path());
        dataDir = Logger::tolvarinDir();
        fs::create_directories(dataDir);
        logPath = home.path() + "/log.txt";
        controller.setDeviceOpener(
            [this](const std::string&, bool) { return device.sharedHandle(); });
        device.setClock(&clock);
        host.normalScanValue = true;
        media.setSMARTStatus(std::string("Not Supported"));
        controller.setErrorLimit(100);
        controller.setQuarrykit(&kit);
        controller.setTolvarinDir(dataDir);
        controller.setMediaRecord(media);
        unit = std::make_unique<UnitFiles>(dataDir);
    }
    void TearDown() override {
        MessageCenter::resetForTests();
        Logger::resetForTests();
    }

    // A registered unit with a small layout: four sections of four read
    // units, four seek locations (six pairs).
    void registerUnit() {
        unit->write(".hdr", UnitFiles::header(kPrefix + ".hdr"));
        unit->write(".ssx", FileProcessor::ssxFileText(MiB, 4, -1, kPrefix));
        unit->write(".skx", FileProcessor::skxFileText(4, 2048, 0, 2048 * 3 * 512, kPrefix));
        ASSERT_TRUE(FileProcessor().processSizFileWithPath(dataDir, kPrefix, kUnitSize));
    }

    bool prepare(const std::string& prefix = kPrefix) {
        clock.advance(2000000); // a fresh report name for every test
        Logger::setUserLogFileNameAndPathWithString(logPath);
        return controller.initializeScanOnDrive("/dev/sdz", prefix);
    }

    NormalScan::Outcome runTest() {
        if (!prepare()) {
            return NormalScan::Outcome::NotRun;
        }
        controller.setStopFlag(false);
        NormalScan scan(controller, host);
        scan.setReportWriter(&report);
        scan.doFormalScanTest();
        return scan.outcome();
    }

    // Presses Stop as the scan is about to read offset (surface) or after
    // the given number of measured pairs (seek).
    void stopSurfaceAt(int64_t offset) {
        host.setOnCall([this, offset, fired = false](const FakeScanHost::Call& call) mutable {
            if (!fired && call.name == "setNormalSurfaceScanSpinnerLocation" &&
                call.number == static_cast<double>(offset)) {
                fired = true;
                controller.setStopFlag(true);
            }
        });
    }
    void stopSeekAfter(int pairs) {
        host.setOnCall([this, pairs, seen = 0](const FakeScanHost::Call& call) mutable {
            if (call.name == "setNormalSeekScanSpinnerLocation" && ++seen == pairs) {
                controller.setStopFlag(true);
            }
        });
    }

    std::string file(const std::string& suffix) const { return unit->read(suffix).value_or(""); }
    std::string log() const { return SafeFile::read(logPath).value_or(""); }
    std::vector<std::string> backups() const {
        std::vector<std::string> names;
        if (fs::exists(dataDir + "/prev")) {
            for (const auto& e : fs::directory_iterator(dataDir + "/prev")) {
                names.push_back(e.path().filename().string());
            }
        }
        return names;
    }
    void expectNoLeftovers() {
        for (const char* suffix : {".pss", ".psk", ".sst", ".skt"}) {
            EXPECT_FALSE(unit->exists(suffix)) << suffix;
        }
        EXPECT_TRUE(backups().empty());
    }

    ScopedEnv tmpdir{"TMPDIR", memoryBackedTemp()};
    TempDir home;
    std::string dataDir;
    std::string logPath;
    FakeClock clock;
    SimulatedDevice device{kUnitSize};
    Quarrykit kit;
    Media media;
    FakeScanHost host{clock};
    ScanController controller{host};
    TestReport report{host.fakeEnv()};
    std::shared_ptr<ScriptedAnswerer> answerer = std::make_shared<ScriptedAnswerer>();
    std::unique_ptr<UnitFiles> unit;
    ScopedEnv display{"DISPLAY", ":0"}; // a desktop to show the report on
};

TEST_F(NormalScanTest, NewUnitGetsIndexFilesBaselineAveragesAndAnInitialReport) {
    unit->write(".hdr", UnitFiles::header(kPrefix + ".hdr"));
    answerer->push(8, 1); // View Now

    ASSERT_EQ(runTest(), NormalScan::Outcome::Completed);

    EXPECT_EQ(unit->stateOnDisk(), NormalScan::kAtRest);
    EXPECT_NE(file(".siz").find("CSZ: 4194304"), std::string::npos);
    // Every scan file starts with the 69-byte warning and ends complete.
    for (const char* suffix : {".iss", ".isk", ".css", ".csk"}) {
        EXPECT_EQ(file(suffix).substr(0, 69), NormalScan::kDataFileHeader) << suffix;
        EXPECT_TRUE(ScanController::isScanCompleteOnFile(unit->path(suffix))) << suffix;
    }
    EXPECT_EQ(recordIndices(file(".iss")), upTo(1)); // one section: the unit is small
    EXPECT_EQ(recordIndices(file(".isk")).size(), 435u);
    EXPECT_NE(file(".ssa").find("SMPLSZ: 1\n"), std::string::npos);
    EXPECT_NE(file(".ska").find("SMPLSZ: 1\n"), std::string::npos);
    std::string dia = file(".dia");
    EXPECT_EQ(count(dia, "SRTS:"), 1);
    EXPECT_EQ(count(dia, "SKTS:"), 1);
    expectNoLeftovers();

    EXPECT_NE(log().find("ALL TESTS ON THIS UNIT ARE NOW COMPLETE"), std::string::npos);
    EXPECT_TRUE(Logger::isInitialScan());
    EXPECT_LT(Logger::initialRPISKLIN(), 9e99);
    std::string report = SafeFile::read(Logger::reportFileNameAndPath()).value_or("");
    EXPECT_NE(report.find("This is an initial scan"), std::string::npos);
    EXPECT_EQ(host.fakeEnv().launches().size(), 1u);
    EXPECT_EQ(host.count("resetButtons"), 1);
    EXPECT_EQ(controller.disk(), nullptr); // the unit is closed at the end
}

TEST_F(NormalScanTest, LaterTestFoldsIntoTheAveragesAndLeavesTheBaselineAlone) {
    registerUnit();
    ASSERT_EQ(runTest(), NormalScan::Outcome::Completed);
    std::string iss = file(".iss");
    std::string isk = file(".isk");

    for (int later = 1; later <= 2; ++later) {
        ASSERT_EQ(runTest(), NormalScan::Outcome::Completed);
        std::string smplsz = "SMPLSZ: " + std::to_string(later + 1) + "\n";
        EXPECT_NE(file(".ssa").find(smplsz), std::string::npos);
        EXPECT_NE(file(".ska").find(smplsz), std::string::npos);
    }
    EXPECT_EQ(unit->stateOnDisk(), NormalScan::kAtRest);
    EXPECT_EQ(file(".iss"), iss);
    EXPECT_EQ(file(".isk"), isk);
    EXPECT_EQ(recordIndices(file(".css")), upTo(4));
    EXPECT_EQ(recordIndices(file(".csk")), upTo(6));
    expectNoLeftovers();
    EXPECT_FALSE(Logger::isInitialScan());
    EXPECT_LT(Logger::currentRPISSLIN(), 9e99);
    std::string report = SafeFile::read(Logger::reportFileNameAndPath()).value_or("");
    EXPECT_NE(report.find("This is a comparative scan"), std::string::npos);
}

TEST_F(NormalScanTest, ErrorsAndIrregularitiesReachTheDataFilesTheHistoryAndTheReport) {
    registerUnit();
    device.failReads(MiB + 262144, MiB + 2 * 262144);    // section 1, second read
    device.slowReads(3 * MiB, 3 * MiB + 262144, 700000); // section 3, first read
    ASSERT_EQ(runTest(), NormalScan::Outcome::Completed);

    std::string iss = file(".iss");
    EXPECT_NE(iss.find("I:1 "), std::string::npos);
    EXPECT_TRUE(std::regex_search(iss, std::regex("I:1 [^\n]*A:N/A S:N/A [^\n]*E:0 OC:0 EC:1")));
    EXPECT_TRUE(std::regex_search(iss, std::regex("I:3 [^\n]*O:0 E:1 OC:1 EC:0")));
    std::string dia = file(".dia");
    EXPECT_NE(dia.find("SSE:1310720:1\n"), std::string::npos);
    EXPECT_NE(dia.find("SSI:3145728:0.700000:3\n"), std::string::npos);
    EXPECT_EQ(Logger::surfaceErrors(), 1);
    EXPECT_EQ(Logger::surfaceOddities(), 1);
    std::string report = SafeFile::read(Logger::reportFileNameAndPath()).value_or("");
    EXPECT_NE(report.find("FAILED"), std::string::npos);
}

// Interrupted with only the fold left, a test scans nothing, and its results
// are the findings of the stored scan files, later test or first one.
TEST_F(NormalScanTest, AResumedFoldCarriesTheStoredFindings) {
    registerUnit();
    device.failReads(MiB + 262144, MiB + 2 * 262144); // a surface error
    device.failReads(2048 * 512, 2048 * 512 + 512);   // seek location 1: three pairs fail
    ASSERT_EQ(runTest(), NormalScan::Outcome::Completed);
    std::map<std::string, std::string> initial = unit->snapshot();
    const TestResults first = controller.results();
    ASSERT_GT(first.surfaceErrors, 0);
    ASSERT_GT(first.seekErrors, 0);
    ASSERT_EQ(runTest(), NormalScan::Outcome::Completed);
    const TestResults second = controller.results();
    std::map<std::string, std::string> later = unit->snapshot();
    auto counts = [](const TestResults& r) {
        return std::vector<int>{r.surfaceErrors, r.surfaceIrregularities,
                                r.seekErrors,    r.seekIrregularities,
                                r.totalErrors,   r.totalIrregularities};
    };
    auto renamed = [](std::string text, const std::string& from, const std::string& to) {
        const std::string trailer = "END OF FILE " + kPrefix;
        std::size_t at = text.rfind(trailer + from);
        if (at != std::string::npos) {
            text.replace(at + trailer.size(), from.size(), to);
        }
        return text;
    };

    // The seek scan done and folded, the averages not yet replaced.
    unit->write(".ska", initial.at(kPrefix + ".ska"));
    unit->write(".psk", renamed(initial.at(kPrefix + ".csk"), ".csk", ".psk"));
    unit->write(".skt", renamed(later.at(kPrefix + ".ska"), ".ska", ".skt"));
    answerer->push(18, 1);
    const std::size_t logBefore = log().size();
    ASSERT_EQ(runTest(), NormalScan::Outcome::Completed);
    EXPECT_EQ(log().find("Scan start - ", logBefore), std::string::npos);
    EXPECT_EQ(counts(controller.results()), counts(second));
    EXPECT_EQ(Logger::surfaceErrors(), second.surfaceErrors);
    EXPECT_EQ(unit->snapshot(), later);

    // The first test's seek scan done, no average yet.
    for (const char* suffix : {".ska", ".css", ".csk"}) {
        fs::remove(unit->path(suffix));
    }
    answerer->push(16, 1);
    ASSERT_EQ(runTest(), NormalScan::Outcome::Completed);
    EXPECT_EQ(counts(controller.results()), counts(first));
}

TEST_F(NormalScanTest, SavedInitialSurfaceScanResumesAtTheFirstUnrecordedSectionOrRestarts) {
    for (int answer : {1, 0}) {
        SCOPED_TRACE(answer);
        fs::remove_all(dataDir);
        fs::create_directories(dataDir);
        registerUnit();
        stopSurfaceAt(2 * MiB);
        answerer->push(3, 1); // Save
        ASSERT_EQ(runTest(), NormalScan::Outcome::Stopped);
        EXPECT_EQ(unit->stateOnDisk(), NormalScan::kInitialSurfaceUnderWay);
        EXPECT_TRUE(backups().empty());
        host.setOnCall(nullptr);

        answerer->push(15, answer);
        ASSERT_EQ(runTest(), NormalScan::Outcome::Completed);
        std::string log = this->log();
        int first = answer == 1 ? 2 : 0;
        EXPECT_NE(log.find("Index: " + std::to_string(first) + "\n"), std::string::npos);
        EXPECT_EQ(count(log, "Scan start - "), 4 - first);
        EXPECT_EQ(recordIndices(file(".iss")), upTo(4));
        EXPECT_EQ(unit->stateOnDisk(), NormalScan::kAtRest);
    }
}

TEST_F(NormalScanTest, SavedInitialSeekScanResumesRestartsOrStartsOver) {
    // message 16: 1 resume, -1 restart the seek scan (0, start over: below).
    for (int answer : {1, -1}) {
        SCOPED_TRACE(answer);
        fs::remove_all(dataDir);
        fs::create_directories(dataDir);
        registerUnit();
        stopSeekAfter(1); // stopped before the second row: three pairs kept
        answerer->push(3, 1);
        ASSERT_EQ(runTest(), NormalScan::Outcome::Stopped);
        ASSERT_EQ(unit->stateOnDisk(), NormalScan::kInitialSeekUnderWay);
        std::string iss = file(".iss");
        std::string ssa = file(".ssa");
        host.setOnCall(nullptr);

        answerer->push(16, answer);
        ASSERT_EQ(runTest(), NormalScan::Outcome::Completed);
        EXPECT_EQ(recordIndices(file(".isk")), upTo(6));
        EXPECT_EQ(unit->stateOnDisk(), NormalScan::kAtRest);
        std::string log = this->log();
        EXPECT_EQ(log.find("Scan start - "), std::string::npos);
        EXPECT_EQ(count(log, "Seek Start:"), answer == 1 ? 3 : 6);
        EXPECT_EQ(file(".iss"), iss);
        EXPECT_EQ(file(".ssa"), ssa);
    }
}

TEST_F(NormalScanTest, SavedLaterScansResumeOrRestartAndFoldOnce) {
    registerUnit();
    ASSERT_EQ(runTest(), NormalScan::Outcome::Completed);
    int completed = 1;
    struct Case {
        bool seek;
        int answer;
    };
    for (Case c : {Case{false, 1}, Case{false, 0}, Case{true, 1}, Case{true, 0}}) {
        SCOPED_TRACE(std::to_string(c.seek) + " " + std::to_string(c.answer));
        if (c.seek) {
            stopSeekAfter(1);
        } else {
            stopSurfaceAt(2 * MiB);
        }
        answerer->push(3, 1);
        ASSERT_EQ(runTest(), NormalScan::Outcome::Stopped);
        int stopped = c.seek ? NormalScan::kSeekUnderWay : NormalScan::kSurfaceUnderWay;
        ASSERT_EQ(unit->stateOnDisk(), stopped);
        // Stopped in the seek scan, the surface fold is already made.
        std::string folded = "SMPLSZ: " + std::to_string(completed + (c.seek ? 1 : 0)) + "\n";
        EXPECT_NE(file(".ssa").find(folded), std::string::npos);
        host.setOnCall(nullptr);

        answerer->push(c.seek ? 18 : 17, c.answer);
        ASSERT_EQ(runTest(), NormalScan::Outcome::Completed);
        ++completed;
        EXPECT_EQ(recordIndices(file(".css")), upTo(4));
        EXPECT_EQ(recordIndices(file(".csk")), upTo(6));
        std::string smplsz = "SMPLSZ: " + std::to_string(completed) + "\n";
        EXPECT_NE(file(".ssa").find(smplsz), std::string::npos);
        EXPECT_NE(file(".ska").find(smplsz), std::string::npos);
        EXPECT_EQ(unit->stateOnDisk(), NormalScan::kAtRest);
        expectNoLeftovers();
        int expected = c.seek ? (c.answer == 1 ? 3 : 6) : (c.answer == 1 ? 2 : 4);
        EXPECT_EQ(count(log(), c.seek ? "Seek Start:" : "Scan start - "), expected);
    }
}

TEST_F(NormalScanTest, DontSaveGivesBackTheFilesOrDeletesTheUnit) {
    registerUnit();
    ASSERT_EQ(runTest(), NormalScan::Outcome::Completed);
    std::map<std::string, std::string> before = unit->snapshot();

    for (bool seek : {false, true}) {
        if (seek) {
            stopSeekAfter(1);
        } else {
            stopSurfaceAt(2 * MiB);
        }
        answerer->push(3, -1); // Don't Save
        answerer->push(9, 1);  // Go Back: asked again
        answerer->push(3, -1);
        answerer->push(9, -1); // Delete Current Only
        ASSERT_EQ(runTest(), NormalScan::Outcome::Stopped);
        EXPECT_EQ(unit->snapshot(), before);
        EXPECT_TRUE(backups().empty());
    }

    stopSurfaceAt(MiB);
    answerer->push(3, -1);
    answerer->push(9, 0); // Delete All
    ASSERT_EQ(runTest(), NormalScan::Outcome::Stopped);
    EXPECT_TRUE(unit->snapshot().empty());
    EXPECT_TRUE(backups().empty());
}

TEST_F(NormalScanTest, AnInterruptedTestIsUndoneAtTheNextStart) {
    registerUnit();
    ASSERT_EQ(runTest(), NormalScan::Outcome::Completed);
    std::map<std::string, std::string> before = unit->snapshot();

    // What a later test killed after its surface fold leaves behind.
    RunJournal journal(kit, dataDir, kPrefix);
    fs::create_directories(dataDir + "/prev");
    ASSERT_TRUE(journal.begin());
    FileProcessor files;
    ASSERT_TRUE(files.generateFileFromType(".css", ".pss", unit->path(".css")));
    ASSERT_TRUE(files.createNewSSTFileWithFileName(unit->path(".sst"), unit->path(".ssa"),
                                                   unit->path(".css")));
    ASSERT_TRUE(files.generateFileFromType(".sst", ".ssa", unit->path(".sst")));
    unit->write(".csk", std::string(NormalScan::kDataFileHeader) + "I:0 MN:0.1");
    ASSERT_NE(file(".ssa").find("SMPLSZ: 2"), std::string::npos);

    // A backup that cannot be put back keeps its record, and no test runs.
    fs::remove(unit->path(".iss"));
    fs::create_directory(unit->path(".iss"));
    EXPECT_FALSE(prepare());
    EXPECT_NE(controller.preparationProblem().find("interrupted"), std::string::npos);
    EXPECT_TRUE(journal.underWay());
    fs::remove(unit->path(".iss"));

    ASSERT_TRUE(prepare());
    EXPECT_EQ(unit->snapshot(), before);
    EXPECT_FALSE(journal.underWay());
    EXPECT_EQ(controller.deviceState(), NormalScan::kAtRest);
    NormalScan scan(controller, host);
    scan.doFormalScanTest();
    ASSERT_EQ(scan.outcome(), NormalScan::Outcome::Completed);
    EXPECT_NE(file(".ssa").find("SMPLSZ: 2\n"), std::string::npos);
    // No question was needed: nothing was found damaged.
    for (int n : answerer->askedNumbers()) {
        EXPECT_TRUE(n == 0 || n == 8) << n;
    }
}

// The backups are moved back, not copied (a full disk has no room for
// copies); a roll-back cut short is finished from where it stopped.
TEST_F(NormalScanTest, ARollBackCutShortIsFinishedAtTheNextStart) {
    registerUnit();
    ASSERT_EQ(runTest(), NormalScan::Outcome::Completed);
    std::map<std::string, std::string> before = unit->snapshot();
    RunJournal journal(kit, dataDir, kPrefix);
    fs::create_directories(dataDir + "/prev");
    ASSERT_TRUE(journal.begin());
    unit->write(".ssa", "changed by the test");
    unit->write(".csk", "changed by the test");
    // Cut short after the record was marked and one backup moved back.
    fs::rename(journal.recordPath(), journal.undoPath());
    fs::rename(dataDir + "/prev/" + kPrefix + ".ssa", unit->path(".ssa"));
    EXPECT_TRUE(journal.underWay());

    ASSERT_TRUE(prepare());
    EXPECT_EQ(unit->snapshot(), before);
    EXPECT_FALSE(journal.underWay());
    EXPECT_TRUE(backups().empty());
}

TEST_F(NormalScanTest, AFileThatCannotBeWrittenUndoesTheTest) {
    registerUnit();
    ASSERT_EQ(runTest(), NormalScan::Outcome::Completed);
    std::map<std::string, std::string> before = unit->snapshot();
    // The seek fold cannot be written once the seek scan has begun.
    host.setOnCall([this](const FakeScanHost::Call& call) {
        if (call.name == "startNormalSeekScanSpinnerThread") {
            fs::create_directories(unit->path(".skt"));
        }
    });
    EXPECT_EQ(runTest(), NormalScan::Outcome::Failed);
    fs::remove(unit->path(".skt"));
    // The surface fold made before is undone with the rest.
    EXPECT_EQ(unit->snapshot(), before);
    EXPECT_TRUE(backups().empty());
    EXPECT_NE(log().find("SCAN CONTROLLER: Could not write"), std::string::npos);
}

TEST_F(NormalScanTest, ARecordThatCannotBeWrittenUndoesTheTest) {
    registerUnit();
    ASSERT_EQ(runTest(), NormalScan::Outcome::Completed);
    std::map<std::string, std::string> before = unit->snapshot();
    // A scan's file refuses one record for a moment (a folder stands at its
    // name from the given read until the scan's spinner stops): the
    // surface scan's at section 1, the seek scan's at its second pair, the
    // diagnostics file the slow read of section 3.
    device.slowReads(3 * MiB, 3 * MiB + 262144, 700000);
    struct Refusal {
        const char* suffix;
        const char* scan;
        std::function<bool(double location, int call)> at;
    };
    const Refusal refusals[] = {
        {".css", "SurfaceScanSpinner",
         [](double location, int) { return location == static_cast<double>(MiB + 768 * 1024); }},
        {".csk", "SeekScanSpinner", [](double, int call) { return call == 2; }},
        {".dia", "SurfaceScanSpinner",
         [](double location, int) { return location == static_cast<double>(3 * MiB); }},
    };
    for (const Refusal& r : refusals) {
        const std::string path = unit->path(r.suffix);
        const std::string aside = path + ".aside";
        const std::string locate = std::string("setNormal") + r.scan + "Location";
        const std::string stop = std::string("stopNormal") + r.scan + "Thread";
        host.setOnCall([&, calls = 0](const FakeScanHost::Call& call) mutable {
            if (call.name == locate && r.at(call.number, ++calls)) {
                fs::rename(path, aside);
                fs::create_directories(path);
            } else if (call.name == stop && fs::exists(aside)) {
                fs::remove(path);
                fs::rename(aside, path);
            }
        });
        EXPECT_EQ(runTest(), NormalScan::Outcome::Failed) << r.suffix;
        EXPECT_NE(log().find("SCAN CONTROLLER: Could not write " + path), std::string::npos);
        EXPECT_EQ(unit->snapshot(), before) << r.suffix;
        EXPECT_TRUE(backups().empty());
    }
}

// "Save" keeps the stopped test only once its file has taken the last
// lines; a file that refuses them is undone like any failed write, and
// the previous test stays whole.
TEST_F(NormalScanTest, ASaveThatCannotBeWrittenUndoesTheTest) {
    registerUnit();
    ASSERT_EQ(runTest(), NormalScan::Outcome::Completed);
    std::map<std::string, std::string> before = unit->snapshot();
    struct Refusing : ScriptedAnswerer {
        std::function<void()> onStopQuestion;
        int answer(const Alert& alert) override {
            if (alert.number == 3 && onStopQuestion) {
                onStopQuestion();
            }
            return ScriptedAnswerer::answer(alert);
        }
    };
    auto refusing = std::make_shared<Refusing>();
    MessageCenter::setAnswerer(refusing);
    for (bool seek : {false, true}) {
        SCOPED_TRACE(seek);
        const std::string path = unit->path(seek ? ".csk" : ".css");
        const std::string aside = path + ".aside";
        // A folder stands at the file's name from the question until the
        // scan's spinner stops.
        refusing->onStopQuestion = [&] {
            fs::rename(path, aside);
            fs::create_directories(path);
        };
        const std::string scan = seek ? "SeekScanSpinner" : "SurfaceScanSpinner";
        host.setOnCall([&, fired = false](const FakeScanHost::Call& call) mutable {
            if (!fired && call.name == "setNormal" + scan + "Location" &&
                (seek || call.number == static_cast<double>(2 * MiB))) {
                fired = true;
                controller.setStopFlag(true);
            } else if (call.name == "stopNormal" + scan + "Thread" && fs::exists(aside)) {
                fs::remove(path);
                fs::rename(aside, path);
            }
        });
        refusing->push(3, 1); // Save
        EXPECT_EQ(runTest(), NormalScan::Outcome::Failed);
        EXPECT_NE(log().find("SCAN CONTROLLER: Could not write " + path), std::string::npos);
        EXPECT_EQ(unit->snapshot(), before);
        EXPECT_TRUE(backups().empty());
    }
}

TEST_F(NormalScanTest, StartingOverTheInitialSeekScanAlsoDropsTheSurfaceAverage) {
    registerUnit();
    stopSeekAfter(1);
    answerer->push(3, 1);
    ASSERT_EQ(runTest(), NormalScan::Outcome::Stopped);
    host.setOnCall(nullptr);
    // Start over, then stop the new initial surface scan with Save.
    stopSurfaceAt(2 * MiB);
    answerer->push(16, 0);
    answerer->push(3, 1);
    ASSERT_EQ(runTest(), NormalScan::Outcome::Stopped);
    // An unfinished initial surface scan, not a finished one with its average.
    EXPECT_EQ(unit->stateOnDisk(), NormalScan::kInitialSurfaceUnderWay);
}

TEST_F(NormalScanTest, UnitsThatCannotBeTestedAreRefusedAndKeepTheirFiles) {
    // No header: the prefix names no unit.
    EXPECT_FALSE(prepare(""));
    EXPECT_NE(controller.preparationProblem().find("drive header"), std::string::npos);
    EXPECT_FALSE(prepare());
    EXPECT_NE(controller.preparationProblem().find("missing"), std::string::npos);

    // A unit whose first start ended before all its index files were
    // written gets the missing ones.
    unit->write(".hdr", UnitFiles::header(kPrefix + ".hdr"));
    ASSERT_TRUE(FileProcessor().processSizFileWithPath(dataDir, kPrefix, kUnitSize));
    ASSERT_TRUE(prepare());
    EXPECT_EQ(controller.deviceState(), NormalScan::kBaseFiles);

    // Files in no state of the sequence: the stray one is offered for the
    // roll-back (1013); declined, nothing is scanned or changed.
    unit->write(".ssa", "x");
    std::map<std::string, std::string> before = unit->snapshot();
    answerer->push(1013, 0);
    EXPECT_EQ(runTest(), NormalScan::Outcome::Refused);
    EXPECT_EQ(unit->snapshot(), before);
    EXPECT_EQ(log().find("Scan start - "), std::string::npos);
    fs::remove(unit->path(".ssa"));

    // The integrity check refused (a damaged baseline kept by the user).
    unit->write(".iss", "damaged");
    answerer->push(1009, 0);
    before = unit->snapshot();
    EXPECT_EQ(runTest(), NormalScan::Outcome::Refused);
    EXPECT_EQ(unit->snapshot(), before);

    // The unit cannot be opened: message 1000, no test.
    answerer->push(1000, 1);
    controller.setDeviceOpener([](const std::string&, bool) { return nullptr; });
    EXPECT_FALSE(controller.initializeScanOnDrive(home.path() + "/no-such-device", kPrefix));
    EXPECT_EQ(Logger::sizingScanStatus(), "FAILED");
    EXPECT_EQ(answerer->askedNumbers().back(), 1000);
    EXPECT_EQ(controller.disk(), nullptr);
}

// --- the record of a test under way ------------------------------------------------

TEST(RunJournalTest, RollsBackExactlyTheUnitsFilesAndRefusesForeignNames) {
    ScopedEnv tmpdir("TMPDIR", memoryBackedTemp());
    TempDir dir;
    Quarrykit kit;
    UnitFiles unit(dir.path());
    UnitFiles other(dir.path(), "M02-D-SAT-12-06-2026-18-35-54");
    unit.makeState(1535);
    other.write(".hdr", "other unit");
    std::map<std::string, std::string> before = unit.snapshot();

    RunJournal journal(kit, dir.path(), kPrefix);
    ASSERT_TRUE(journal.begin());
    EXPECT_TRUE(journal.underWay());
    unit.write(".css", "torn");
    unit.write(".pss", "new");
    fs::remove(unit.path(".ska"));
    ASSERT_TRUE(journal.rollBack());
    EXPECT_EQ(unit.snapshot(), before);
    EXPECT_EQ(other.read(".hdr"), "other unit");
    EXPECT_FALSE(journal.underWay());
    EXPECT_TRUE(fs::is_empty(dir.path() + "/prev"));

    // A record naming files of another unit or another folder is no record.
    EXPECT_TRUE(journal.namesIn(RunJournal::recordText({kPrefix + ".iss"})).has_value());
    EXPECT_FALSE(journal.namesIn(RunJournal::recordText({"M02-D-SAT-12-06-2026-18-35-54.hdr"})));
    EXPECT_FALSE(journal.namesIn(RunJournal::recordText({kPrefix + ".iss/../../x"})));
    EXPECT_FALSE(journal.namesIn("something else\n"));
    ASSERT_TRUE(SafeFile::replace(journal.recordPath(), RunJournal::recordText({"../x"})));
    unit.write(".css", "kept");
    EXPECT_FALSE(journal.rollBack());
    EXPECT_EQ(unit.read(".css"), "kept");
    EXPECT_FALSE(journal.underWay());
}

// A roll-back that cannot finish (something stands where a file goes back)
// says file by file how the unit stands, and the next one finishes it.
TEST(RunJournalTest, ARollBackThatCannotFinishSaysHowTheFilesStand) {
    ScopedEnv tmpdir("TMPDIR", memoryBackedTemp());
    TempDir dir;
    Quarrykit kit;
    UnitFiles unit(dir.path());
    unit.makeState(1535);
    std::map<std::string, std::string> before = unit.snapshot();
    RunJournal journal(kit, dir.path(), kPrefix);
    ASSERT_TRUE(journal.begin());
    unit.write(".pss", "new");
    unit.write(".ssx", "changed");
    fs::remove(unit.path(".ssa"));
    fs::create_directory(unit.path(".ssa"));
    unit.write(".ssa/inside", "x");

    EXPECT_FALSE(journal.rollBack());
    const std::string problem = journal.rollBackProblem();
    // Names go back in order: those before ".ssa" are back, those after not.
    for (const char* part : {"put back from the backup: .csk, .css", "changed by the test: .ssx",
                             "made by the test: .pss", "not a file: .ssa", "a roll-back cut short",
                             "first finishes returning the files"}) {
        EXPECT_NE(problem.find(part), std::string::npos) << part << " in " << problem;
    }
    EXPECT_TRUE(journal.underWay());

    fs::remove_all(unit.path(".ssa"));
    EXPECT_TRUE(journal.rollBack());
    EXPECT_TRUE(journal.rollBackProblem().empty());
    EXPECT_EQ(unit.snapshot(), before);
    EXPECT_FALSE(journal.underWay());
}

} // namespace

} // namespace tolvarin
