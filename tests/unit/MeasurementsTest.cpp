#include "base/BaselineComparison.h"
#include "base/LatencyHistogram.h"
#include "base/SurfaceMap.h"
#include "base/TestMeasurements.h"
#include "cli/HistoryCommand.h"
#include "engine/DiskContext.h"
#include "engine/ScanRecorder.h"
#include "engine/SizingSweep.h"
#include "platform/SafeFile.h"
#include "store/MeasurementFile.h"
#include "tests/support/FakeClock.h"
#include "tests/support/FakeEnv.h"
#include "tests/support/TempDir.h"
#include "unitprobe/SmartAttributes.h"

#include <gtest/gtest.h>

#include <cmath>
#include <filesystem>
#include <vector>

namespace tolvarin {

namespace {

constexpr int64_t kSection = SizingSweep::kSectionSize;
constexpr int64_t kRead = DiskContext::kScanReadSize;

DiskContext layoutOf(int64_t size) {
    DiskContext disk;
    disk.deviceSize = size;
    disk.sectorCount = size / 512;
    SizingSweep::doSweepSectorAllocationWithFile(disk, "", "");
    return disk;
}

// A record of a test with a map of the given stretch rates (bytes per
// second; 0 leaves a stretch unread).
TestMeasurements testWithRates(const std::vector<double>& rates, int64_t startWall, bool initial) {
    TestMeasurements m;
    m.kind = "normal";
    m.outcome = "completed";
    m.initialScan = initial;
    m.startWallMicros = startWall;
    m.startStamp = "stamp " + std::to_string(startWall);
    m.surfaceScanned = true;
    std::vector<Stretch> stretches;
    for (size_t i = 0; i < rates.size(); ++i) {
        Stretch s;
        s.start = static_cast<int64_t>(i) * 40 * kRead;
        s.end = s.start + 40 * kRead;
        if (rates[i] > 0) {
            s.reads = 40;
            s.bytes = 40 * kRead;
            s.sumMicros = static_cast<int64_t>(static_cast<double>(s.bytes) / rates[i] * 1e6);
            s.minMicros = s.maxMicros = s.medianMicros = s.sumMicros / 40;
            s.classCounts[0] = 40;
        }
        stretches.push_back(s);
    }
    m.map = SurfaceMap::fromStretches(static_cast<int64_t>(rates.size()) * 40 * kRead, 100, 1,
                                      stretches);
    return m;
}

ScanRecorder::TestEnd completed() {
    ScanRecorder::TestEnd end;
    end.outcome = "completed";
    return end;
}

} // namespace

TEST(LatencyHistogram, TenBucketsPerDecadeFromOneMicrosecondToOneHundredSeconds) {
    EXPECT_GE(LatencyHistogram::kPerDecade, 8);
    EXPECT_EQ(LatencyHistogram::bucketOf(0), 0);
    EXPECT_EQ(LatencyHistogram::bucketOf(1), 1);
    EXPECT_EQ(LatencyHistogram::bucketOf(9), 10);
    EXPECT_EQ(LatencyHistogram::bucketOf(10), 11);
    EXPECT_EQ(LatencyHistogram::bucketOf(1000000), 61);
    EXPECT_EQ(LatencyHistogram::bucketOf(99999999), LatencyHistogram::kBuckets - 2);
    EXPECT_EQ(LatencyHistogram::bucketOf(100000000), LatencyHistogram::kBuckets - 1);
    // Every bucket's bounds hold what bucketOf puts in it.
    for (int64_t micros : {1, 2, 7, 13, 250, 4999, 5000, 600001, 12345678}) {
        int b = LatencyHistogram::bucketOf(micros);
        EXPECT_LE(LatencyHistogram::lowerMicros(b), static_cast<double>(micros)) << micros;
        EXPECT_GT(LatencyHistogram::upperMicros(b), static_cast<double>(micros)) << micros;
    }
    // The quick look-up agrees with the bounds everywhere a reading can
    // change bucket: every small reading, and either side of each bound and
    // of each power of two.
    auto byBounds = [](int64_t micros) {
        int b = LatencyHistogram::kBuckets - 1;
        while (b > 0 && LatencyHistogram::lowerMicros(b) > static_cast<double>(micros)) {
            --b;
        }
        return b;
    };
    std::vector<int64_t> edges;
    for (int64_t m = 0; m < 70000; ++m) {
        edges.push_back(m);
    }
    for (int b = 1; b < LatencyHistogram::kBuckets; ++b) {
        auto low = static_cast<int64_t>(std::ceil(LatencyHistogram::lowerMicros(b)));
        edges.insert(edges.end(), {low - 1, low, low + 1});
    }
    for (int k = 0; k < 28; ++k) {
        int64_t power = int64_t{1} << k;
        edges.insert(edges.end(), {power - 1, power, power + 1});
    }
    for (int64_t micros : edges) {
        ASSERT_EQ(LatencyHistogram::bucketOf(micros), byBounds(micros)) << micros;
    }
    LatencyHistogram h;
    for (int i = 0; i < 99; ++i) {
        h.add(1000);
    }
    h.add(700000);
    EXPECT_EQ(h.total(), 100u);
    EXPECT_NEAR(h.quantileMicros(0.5), 1000, 150);
    EXPECT_GT(h.quantileMicros(1.0), 600000);
}

TEST(SurfaceMap, AFewThousandStretchesWhateverTheSize) {
    // Three sections: each cut into 100 parts of 40 reads.
    DiskContext small = layoutOf(3 * kSection);
    SurfaceMap map =
        SurfaceMap::forSections(small.sections, small.sectionCount, small.deviceSize, kRead);
    ASSERT_EQ(map.stretches().size(), 300u);
    EXPECT_EQ(map.stretches()[0].end - map.stretches()[0].start, 40 * kRead);
    EXPECT_EQ(map.stretches().back().end, 3 * kSection);
    EXPECT_EQ(map.stretchAt(0), 0);
    EXPECT_EQ(map.stretchAt(40 * kRead - 1), 0);
    EXPECT_EQ(map.stretchAt(40 * kRead), 1);
    EXPECT_EQ(map.stretchAt(kSection + 5), 100);
    EXPECT_EQ(map.stretchAt(3 * kSection), -1);
    EXPECT_EQ(map.stretchAt(-1), -1);

    // A 64 MiB unit: one section of 256 reads, parts of at least 8 reads.
    DiskContext tiny = layoutOf(64 << 20);
    SurfaceMap tinyMap =
        SurfaceMap::forSections(tiny.sections, tiny.sectionCount, tiny.deviceSize, kRead);
    EXPECT_EQ(tinyMap.stretches().size(), 32u);
    EXPECT_EQ(tinyMap.stretches().back().end, 64 << 20);

    // 20 TB: 19,074 sections, five whole sections to a stretch.
    DiskContext huge = layoutOf(20000000000000LL);
    SurfaceMap hugeMap =
        SurfaceMap::forSections(huge.sections, huge.sectionCount, huge.deviceSize, kRead);
    EXPECT_LE(hugeMap.stretches().size(), static_cast<size_t>(SurfaceMap::kMaximumStretches));
    EXPECT_EQ(hugeMap.sectionsPerStretch(), 5);
    EXPECT_EQ(hugeMap.stretches().back().end, huge.sections.back().end + 1);
    EXPECT_TRUE(hugeMap.sameLayout(
        SurfaceMap::forSections(huge.sections, huge.sectionCount, huge.deviceSize, kRead)));
    EXPECT_FALSE(hugeMap.sameLayout(map));
}

// The memory of a 20 TB unit's map and histograms, measured on a simulated
// unit of that size with every stretch read: the arithmetic is in the
// README ("Measurements: memory").
TEST(ScanRecorder, TwentyTerabyteUnitStaysUnderTwentyMegabytes) {
    FakeClock clock;
    FakeEnv env(clock);
    ScanRecorder recorder(env);
    DiskContext disk = layoutOf(20000000000000LL);
    recorder.beginTest({"cursory", "/nonexistent/unit", "", "", false, "", ""});
    recorder.surfaceBegins(disk);
    size_t stretches = 0;
    for (const ScanSection& s : disk.sections) {
        recorder.sectionBegins();
        recorder.readTimed(s.start, kRead, 4000 + s.index % 900, false);
        ++stretches;
    }
    recorder.readTimed(disk.sections[7].start + kRead, kRead, 900000, false);
    size_t bytes = recorder.memoryBytes();
    EXPECT_LT(bytes, 20u * 1000 * 1000) << bytes;
    std::shared_ptr<const TestMeasurements> m = recorder.finishTest(ScanRecorder::TestEnd{});
    ASSERT_TRUE(m);
    EXPECT_EQ(m->surfaceReads.total(), stretches + 1);
    EXPECT_EQ(m->map.stretches()[1].latencyClass(), LatencyClass::from500ms);
    EXPECT_EQ(m->map.stretches()[0].latencyClass(), LatencyClass::under5ms);
}

TEST(SmartAttributes, ReadsAtaNvmeAndScsiAnswersAndSaysWhyWhenThereAreNone) {
    SmartReading ata = SmartAttributes::fromSmartctlJson(R"({"ata_smart_attributes":{"table":[
        {"id":5,"name":"Reallocated_Sector_Ct","raw":{"value":3}},
        {"id":197,"name":"Current_Pending_Sector","raw":{"value":8}},
        {"id":198,"raw":{"value":1}},{"id":199,"raw":{"value":0}},
        {"id":9,"raw":{"value":12000}}]},"temperature":{"current":41}})");
    ASSERT_TRUE(ata.available);
    EXPECT_EQ(ata.values.at("reallocatedSectors"), 3);
    EXPECT_EQ(ata.values.at("pendingSectors"), 8);
    EXPECT_EQ(ata.values.at("uncorrectableSectors"), 1);
    EXPECT_EQ(ata.values.at("crcErrors"), 0);
    EXPECT_EQ(ata.values.at("temperature"), 41);
    EXPECT_EQ(ata.values.size(), 5u);

    SmartReading nvme = SmartAttributes::fromSmartctlJson(
        "warning ahead\n"
        R"({"nvme_smart_health_information_log":{"media_errors":2},"temperature":{"current":35}})");
    ASSERT_TRUE(nvme.available);
    EXPECT_EQ(nvme.values.at("mediaErrors"), 2);

    SmartReading scsi = SmartAttributes::fromSmartctlJson(R"({"scsi_grown_defect_list":12})");
    EXPECT_EQ(scsi.values.at("reallocatedSectors"), 12);

    SmartReading none = SmartAttributes::fromSmartctlJson(
        R"({"smartctl":{"messages":[{"string":"Unable to detect device type","severity":"error"}]}})");
    EXPECT_FALSE(none.available);
    EXPECT_EQ(none.problem, "Unable to detect device type");
    EXPECT_FALSE(SmartAttributes::fromSmartctlJson("not json").available);

    SmartReading later = ata;
    later.values["pendingSectors"] = 16;
    later.values["temperature"] = 44;
    std::vector<SmartChange> changes = smartChangesBetween(ata, later);
    ASSERT_EQ(changes.size(), 2u);
    EXPECT_EQ(changes[0].name, "pendingSectors");
    EXPECT_EQ(changes[0].before, 8);
    EXPECT_EQ(changes[0].after, 16);
    EXPECT_EQ(changes[1].name, "temperature");
    EXPECT_TRUE(smartChangesBetween(ata, SmartReading{}).empty());
}

TEST(ScanRecorder, ReadsTheAttributesBeforeAndAfterAndKeepsTheirChanges) {
    FakeClock clock;
    FakeEnv env(clock);
    int calls = 0;
    std::vector<std::string> asked;
    env.setRunner([&](const std::string& program, const std::vector<std::string>& args) {
        asked.push_back(program + " " + args.back());
        ProcessResult r;
        r.started = true;
        r.exitStatus = 0;
        r.output = ++calls == 1
                       ? R"({"ata_smart_attributes":{"table":[{"id":197,"raw":{"value":0}}]}})"
                       : R"({"ata_smart_attributes":{"table":[{"id":197,"raw":{"value":8}}]}})";
        return r;
    });
    ScanRecorder recorder(env);
    recorder.beginTest({"cursory", "/dev/sdq", "", "", true, "/dev/sdq", ""});
    std::shared_ptr<const TestMeasurements> m = recorder.finishTest(completed());
    ASSERT_EQ(asked.size(), 2u);
    EXPECT_NE(asked[0].find("smartctl /dev/sdq"), std::string::npos);
    ASSERT_EQ(m->smartChanges.size(), 1u);
    EXPECT_EQ(m->smartChanges[0].name, "pendingSectors");
    EXPECT_EQ(m->smartChanges[0].after, 8);

    // A unit without S.M.A.R.T. is not asked.
    recorder.beginTest({"cursory", "/dev/sdq", "", "", false, "/dev/sdq", ""});
    m = recorder.finishTest(completed());
    EXPECT_EQ(calls, 2);
    EXPECT_FALSE(m->smartBefore.available);
    EXPECT_FALSE(m->smartBefore.problem.empty());
}

TEST(MeasurementFile, WritesAndReadsBackAndRefusesWhatIsNotAWholeRecord) {
    TestMeasurements m = testWithRates({200e6, 0, 150e6}, 1796582154000000, true);
    m.map.stretches()[1].failedReads = 1;
    m.map.stretches()[1].classCounts[6] = 1;
    m.surfaceReads.add(1300);
    m.seekScanned = true;
    m.seekRoundTrips.add(9000);
    m.unit.transport = "usb";
    m.unit.usbBridge = true;
    m.unit.rotational = true;
    m.activityWatched = true;
    m.doubtful.push_back({40 * kRead, 700000, 128, 0, 1});
    m.doubtfulCount = 3;
    m.smartBefore.available = true;
    m.smartBefore.values["pendingSectors"] = 0;
    m.smartAfter = m.smartBefore;
    m.smartAfter.values["pendingSectors"] = 8;
    m.smartChanges = smartChangesBetween(m.smartBefore, m.smartAfter);
    m.indices = {21.5, 1.2, std::nullopt, 0.75};
    m.verdict = "PASSED";
    m.baseline.available = true;
    m.baseline.threshold = 0.5;
    m.baseline.stretches = {
        {0, 1.0, 1.0, false}, {1, std::nan(""), std::nan(""), false}, {2, 0.3, 0.31, true}};
    m.baseline.slowed = {2};
    m.notes = {"Données: \"quoted\""};

    std::string text = MeasurementFile::toJson(m);
    std::string why;
    std::optional<TestMeasurements> back = MeasurementFile::fromJson(text, &why);
    ASSERT_TRUE(back) << why;
    EXPECT_EQ(MeasurementFile::toJson(*back), text);
    EXPECT_EQ(back->map.stretches()[1].latencyClass(), LatencyClass::unreadable);
    EXPECT_EQ(back->baseline.slowed, std::vector<int>{2});
    EXPECT_FALSE(back->indices[2]);
    EXPECT_EQ(back->smartChanges.size(), 1u);
    EXPECT_EQ(back->unit.summary(), "usb, rotational");

    // Cut short, another format or version, stretches out of order.
    for (std::string bad : {text.substr(0, text.size() / 2), std::string("{}"), std::string(""),
                            std::string("[1,2]")}) {
        EXPECT_FALSE(MeasurementFile::fromJson(bad, &why)) << bad;
        EXPECT_FALSE(why.empty());
    }
    std::string version = text;
    version.replace(version.find("\"version\":1"), 11, "\"version\":7");
    EXPECT_FALSE(MeasurementFile::fromJson(version, &why));
    EXPECT_NE(why.find("version"), std::string::npos);
    TestMeasurements overlapping = m;
    overlapping.map.stretches()[1].start = 0;
    EXPECT_FALSE(MeasurementFile::fromJson(MeasurementFile::toJson(overlapping), &why));
    TestMeasurements moreListed = m;
    moreListed.doubtfulCount = 0;
    EXPECT_FALSE(MeasurementFile::fromJson(MeasurementFile::toJson(moreListed), &why));
}

TEST(MeasurementArchive, KeepsOneFileATestAndComparesWithTheBaselineAndTheAverage) {
    TempDir dir;
    MeasurementArchive archive(dir.path(), "M01-D-SAT-12-06-2026-18-35-54");
    ASSERT_TRUE(archive.usable());
    EXPECT_FALSE(MeasurementArchive(dir.path(), "").usable());
    EXPECT_FALSE(MeasurementArchive(dir.path(), "../x").usable());

    const int64_t t0 = 1796582154000000;
    TestMeasurements first = testWithRates({100e6, 100e6, 100e6, 100e6}, t0, true);
    TestMeasurements second = testWithRates({100e6, 120e6, 100e6, 100e6}, t0 + 3600e6, false);
    std::string why;
    std::string firstPath = archive.write(first, &why);
    ASSERT_FALSE(firstPath.empty()) << why;
    ASSERT_FALSE(archive.write(second, &why).empty()) << why;
    EXPECT_EQ(std::filesystem::path(firstPath).parent_path().string(), archive.folder());

    // A third test: stretch 2 at a third of its rate has slowed; stretch 1
    // is at 0.9 of its average but at the baseline's rate.
    TestMeasurements now = testWithRates({98e6, 99e6, 33e6, 0}, t0 + 7200e6, false);
    BaselineChange change = archive.changeAgainstBaseline(now);
    ASSERT_TRUE(change.available) << change.note;
    EXPECT_EQ(change.baselineStamp, first.startStamp);
    EXPECT_EQ(change.averagedTests, 2);
    EXPECT_EQ(change.slowed, std::vector<int>{2});
    EXPECT_NEAR(change.stretches[1].baselineRatio, 0.99, 2e-3);
    EXPECT_NEAR(change.stretches[1].averageRatio, 0.9, 2e-3);
    EXPECT_NEAR(change.stretches[2].baselineRatio, 0.33, 2e-3);
    EXPECT_TRUE(std::isnan(change.stretches[3].baselineRatio));

    std::vector<MeasurementArchive::Entry> entries = archive.entries();
    ASSERT_EQ(entries.size(), 2u);
    EXPECT_EQ(entries[0].test->startWallMicros, t0);

    // Two short tests begun within one second keep a file each, in order;
    // a test saved again keeps its one file.
    {
        TempDir other;
        MeasurementArchive quick(other.path(), "M01-D-SAT-12-06-2026-18-35-54");
        TestMeasurements a = testWithRates({100e6}, t0 + 100, false);
        TestMeasurements b = testWithRates({90e6}, t0 + 900000, false);
        ASSERT_FALSE(quick.write(a, &why).empty()) << why;
        ASSERT_FALSE(quick.write(b, &why).empty()) << why;
        ASSERT_EQ(quick.write(b, &why), quick.write(b, &why));
        std::vector<MeasurementArchive::Entry> both = quick.entries();
        ASSERT_EQ(both.size(), 2u);
        EXPECT_EQ(both[0].test->startWallMicros, t0 + 100);
        EXPECT_EQ(both[1].test->startWallMicros, t0 + 900000);
    }

    // The baseline's file cut short: it is listed with the reason, and the
    // comparison falls back on the running average and says so.
    std::string text = SafeFile::read(firstPath).value();
    ASSERT_TRUE(SafeFile::replace(firstPath, text.substr(0, text.size() / 3)));
    entries = archive.entries();
    ASSERT_EQ(entries.size(), 2u);
    EXPECT_FALSE(entries[0].test);
    EXPECT_FALSE(entries[0].problem.empty());
    change = archive.changeAgainstBaseline(now);
    EXPECT_TRUE(change.available);
    EXPECT_NE(change.note.find("baseline test are missing"), std::string::npos);
    EXPECT_NE(change.note.find("could not be read"), std::string::npos);
    EXPECT_NEAR(change.stretches[2].averageRatio, 0.33, 2e-3);
    EXPECT_EQ(change.slowed, std::vector<int>{2});

    // A test of another layout is not compared stretch by stretch.
    TestMeasurements other = testWithRates({100e6, 100e6}, t0 + 9000e6, false);
    EXPECT_FALSE(archive.changeAgainstBaseline(other).available);
}

TEST(BaselineComparison, JudgesByTheBaselineAndElseByTheAverage) {
    TestMeasurements base = testWithRates({100e6, 0, 100e6, 100e6}, 1, true);
    TestMeasurements later = testWithRates({100e6, 100e6, 100e6, 100e6}, 2, false);
    TestMeasurements now = testWithRates({34e6, 30e6, 36e6, 100e6}, 3, false);
    // Stretch 3: a few reads held up by other work (the mean rate at a
    // quarter), its median read as before: not slowed.
    now.map.stretches()[3].sumMicros *= 4;
    BaselineChange c = BaselineComparison::compare(now.map, &base.map, {&base.map, &later.map});
    // Stretch 1 was not read by the baseline: judged by its average.
    EXPECT_EQ(c.slowed, (std::vector<int>{0, 1}));
    EXPECT_TRUE(std::isnan(c.stretches[1].baselineRatio));
    EXPECT_NEAR(c.stretches[1].averageRatio, 0.3, 2e-3);
    EXPECT_NEAR(c.stretches[3].baselineRatio, 1.0, 1e-9);
    BaselineChange none = BaselineComparison::compare(now.map, nullptr, {});
    EXPECT_FALSE(none.available);
    EXPECT_FALSE(none.note.empty());
}

} // namespace tolvarin

namespace tolvarin {

TEST(HistoryCommand, ListsEveryTestKeepsItsColumnsAndDrawsTheTrend) {
    UnitHistory history;
    history.filePrefix = "M01-D-SAT-12-06-2026-18-35-54";
    auto entry = [](int64_t wall, std::optional<double> seekLinear) {
        TestMeasurements m = testWithRates({100e6}, wall, wall == 1);
        m.indices = {1.5, 2.5, seekLinear, 4.5};
        MeasurementArchive::Entry e;
        e.path = "/data/" + std::to_string(wall) + "-normal.json";
        e.test = std::make_shared<const TestMeasurements>(std::move(m));
        return e;
    };
    history.entries.push_back(entry(1, 6.666e101)); // a failed seek scan's index
    MeasurementArchive::Entry cut;
    cut.path = "/data/2-normal.json";
    cut.problem = "the file ends inside a record";
    history.entries.push_back(cut);
    history.entries.push_back(entry(3, 0.25));
    history.entries.push_back(entry(4, std::nullopt));

    std::string text = HistoryCommand::text("sdz", history);
    EXPECT_NE(text.find("4 tests, oldest first"), std::string::npos) << text;
    EXPECT_NE(text.find("2-normal.json cannot be read: the file ends inside a record"),
              std::string::npos);
    EXPECT_NE(text.find(" 6.666e+101 "), std::string::npos) << text;
    EXPECT_NE(text.find("seek linear     ^_?"), std::string::npos) << text;

    // Spans beyond what a double holds, and nothing measured.
    EXPECT_EQ(HistoryCommand::trendLine({-1.7e308, 1.7e308, 0.0}), "_^_");
    EXPECT_EQ(HistoryCommand::trendLine({std::nullopt, 2.0}), "?-");
    EXPECT_EQ(HistoryCommand::text("sdz", UnitHistory{}).find("No stored tests of sdz"), 0u);
}

} // namespace tolvarin
