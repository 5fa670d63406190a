#include "diagnostics/BadBlockRepair.h"
#include "engine/DiskContext.h"
#include "engine/ScanController.h"
#include "logging/Logger.h"
#include "logging/MessageCenter.h"
#include "platform/SafeFile.h"
#include "tests/support/ScanFixture.h"
#include "tests/support/SimulatedDevice.h"

#include <gtest/gtest.h>

#include <algorithm>

namespace tolvarin {

namespace {

// A device whose writes report success but change nothing.
class ForgetfulDevice : public RawDevice {
  public:
    explicit ForgetfulDevice(std::unique_ptr<SimulatedDevice> inner) : inner_(std::move(inner)) {}
    int64_t seek(int64_t offset) override { return inner_->seek(offset); }
    int64_t read(void* buffer, int64_t length) override { return inner_->read(buffer, length); }
    int64_t write(const void*, int64_t length) override { return length; }
    int64_t reportedSize() const override { return inner_->reportedSize(); }

  private:
    std::unique_ptr<SimulatedDevice> inner_;
};

class BadBlockRepairTest : public ScanFixture {
  protected:
    static constexpr int64_t kSection = 1 << 20; // two sections of 1 MiB

    BadBlockRepairTest() {
        controller.setErrorLimit(100);

        DiskContext& disk = controller.prepareDiskContext();
        auto device = std::make_unique<SimulatedDevice>(2 * kSection, 0xAB);
        device->setClock(&clock);
        simulated = device.get();
        observer = device->sharedHandle();
        disk.device = std::move(device);
        disk.deviceSize = 2 * kSection;
        for (int i = 0; i < 2; ++i) {
            ScanSection s;
            s.start = i * kSection;
            s.end = (i + 1) * kSection - 1;
            s.count = 2;
            s.index = i;
            disk.sections.push_back(s);
        }
        disk.sectionCount = 2;
    }

    // Repairs section index from the failed read at position (relative).
    BadBlockRepair repair(int index, int64_t position) {
        disk().position = position;
        BadBlockRepair r(controller);
        r.doDiskRepairOnIndex(index, logPath.c_str());
        return r;
    }
    std::vector<int64_t> writtenOffsets() const {
        std::vector<int64_t> out;
        for (const auto& w : observer->writeLog()) {
            out.push_back(w.offset);
        }
        return out;
    }

    SimulatedDevice* simulated = nullptr;
    std::unique_ptr<SimulatedDevice> observer;
};

} // namespace

TEST_F(BadBlockRepairTest, RewritesExactlyTheUnreadableSectorsOfTheSectionAndVerifies) {
    const int64_t s1 = kSection; // the failing section starts here
    const int64_t entry = 262144;
    simulated->failReads(s1 + 100 * 512, s1 + 100 * 512 + 1, 1);   // before the entry
    simulated->failReads(s1 + entry, s1 + entry + 512, 1);         // the failed read
    simulated->failReads(s1 + entry + 4096, s1 + entry + 4608, 1); // two more sectors
    simulated->failReads(s1 + entry + 4608, s1 + entry + 5120, 1);
    simulated->failReads(s1 + kSection - 512, s1 + kSection, 1); // the last sector
    simulated->failReads(4096, 4608);                            // another section
    simulated->setRecordReads(true);

    BadBlockRepair r = repair(1, entry);

    std::vector<int64_t> expected = {s1 + entry, s1 + entry + 4096, s1 + entry + 4608,
                                     s1 + kSection - 512};
    EXPECT_EQ(writtenOffsets(), expected);
    for (const auto& w : observer->writeLog()) {
        ASSERT_EQ(w.data.size(), 512u);
        EXPECT_TRUE(std::all_of(w.data.begin(), w.data.end(), [](uint8_t b) { return b == 0; }));
    }
    EXPECT_EQ(r.sectorsRewritten(), 4);
    EXPECT_TRUE(r.verified());
    // The good neighbours keep their contents.
    EXPECT_EQ(observer->contents(s1 + entry + 512, 1)[0], 0xAB);
    EXPECT_EQ(observer->contents(s1 + entry - 1, 1)[0], 0xAB);
    // Nothing before the entry position is read, walked or verified.
    for (const auto& read : observer->readLog()) {
        EXPECT_GE(read.offset, s1 + entry);
        EXPECT_LT(read.offset, s1 + kSection);
    }

    std::string text = log();
    EXPECT_NE(text.find("\n   ***** STARTING REPAIR ON DEFECTIVE UNIT *****\n\n"
                        "   ***** ENTERING 512 BYTE SCANNING/REPAIR MODE *****\n"
                        "   EVALUATING 512 BYTE SECTOR AT: 1310720\n"
                        "      SCAN FAILED AT: 1310720\n"
                        "         ATTEMPTING REPAIR AT: 1310720\n"
                        "   EVALUATING 512 BYTE SECTOR AT: 1311232\n"),
              std::string::npos);
    EXPECT_NE(text.find("   ATTEMPTING TO EVALUATE REPAIRS IN SCAN SECTION\n"
                        "   THIS UNIT APPEARS TO HAVE BEEN SUCCESSFULLY REPAIRED.\n"),
              std::string::npos);
    EXPECT_EQ(disk().position, kSection - 1); // at the section end
    EXPECT_EQ(disk().surfaceErrors, 0);
    EXPECT_EQ(controller.currentTestRange(), "Verifying Sector at 0.002 GB");
}

TEST_F(BadBlockRepairTest, FailedWriteAbortsTheSectionAndCountsOneError) {
    // A unit opened read-only fails every repair write the same way.
    simulated->setReadOnly(true);
    simulated->failReads(kSection + 8192, kSection + 8704);
    simulated->failReads(kSection + 16384, kSection + 16896); // never reached

    BadBlockRepair r = repair(1, 0);

    EXPECT_TRUE(writtenOffsets().empty());
    EXPECT_FALSE(r.verified());
    std::string text = log();
    EXPECT_NE(text.find("            REPAIR FAILED AT: 1056768\n"
                        "            BAD SECTOR COULD NOT BE RE-MAPPED TO SPARE SECTORS.\n"
                        "      THIS DISK CANNOT BE REPAIRED BY TOLVARIN\n"
                        "      ABORTING REPAIR ON THIS SCAN SECTION\n"),
              std::string::npos);
    EXPECT_EQ(text.find("EVALUATING 512 BYTE SECTOR AT: 1057280"), std::string::npos);
    EXPECT_EQ(text.find("ATTEMPTING TO EVALUATE"), std::string::npos);
    EXPECT_EQ(disk().surfaceErrors, 1);
    EXPECT_EQ(disk().sections[1].errorCount, 1);
    EXPECT_EQ(disk().totalErrors, 1);
    EXPECT_EQ(controller.errorCount(), 1);
    EXPECT_EQ(disk().position, kSection - 1);
    EXPECT_EQ(controller.currentTestRange(), "   REPAIR FAILED AT 0.001 GB");
}

TEST_F(BadBlockRepairTest, FailedSeekAbortsTheSection) {
    simulated->failSeeks(kSection + 1024, kSection + 1025);
    repair(1, 0);
    std::string text = log();
    EXPECT_NE(text.find("   SECTOR COULD NOT BE REPAIRED AT: 1049600\n"
                        "      REASON: UNABLE TO SEEK TO TARGETED POSITION\n"
                        "      THIS DISK CANNOT BE REPAIRED BY TOLVARIN\n"),
              std::string::npos);
    EXPECT_EQ(disk().totalErrors, 1);
    EXPECT_TRUE(writtenOffsets().empty());
}

TEST_F(BadBlockRepairTest, SectorThatStillCannotBeReadFailsVerificationAndCounts) {
    simulated->failReads(kSection + 512, kSection + 1024); // every time
    BadBlockRepair r = repair(1, 0);
    EXPECT_EQ(writtenOffsets(), std::vector<int64_t>{kSection + 512});
    EXPECT_FALSE(r.verified());
    std::string text = log();
    EXPECT_NE(text.find("      VERIFICATION OF REPAIRED AREAS FAILED.\n"
                        "      THIS UNIT CANNOT BE REPAIRED BY TOLVARIN - ABORTING REPAIRS ON "
                        "SCAN SECTION\n"
                        "   ATTEMPTS TO REPAIR THIS UNIT WERE NOT SUCCESSFUL.\n"),
              std::string::npos);
    // The unreadable sector is still there: one error, not a clean section.
    EXPECT_EQ(disk().surfaceErrors, 1);
    EXPECT_EQ(controller.currentTestRange(), "   UNIT REPAIR FAILED VERIFICATION");
    EXPECT_EQ(disk().position, kSection - 1);
}

TEST_F(BadBlockRepairTest, WriteThatDidNotStickFailsVerification) {
    auto inner = std::make_unique<SimulatedDevice>(2 * kSection, 0xAB);
    inner->failReads(kSection + 512, kSection + 1024, 1);
    disk().device = std::make_unique<ForgetfulDevice>(std::move(inner));
    BadBlockRepair r = repair(1, 0);
    EXPECT_EQ(r.sectorsRewritten(), 1);
    EXPECT_FALSE(r.verified());
    EXPECT_NE(log().find("VERIFICATION OF REPAIRED AREAS FAILED."), std::string::npos);
}

TEST_F(BadBlockRepairTest, LargeLogicalBlockIsRewrittenWhole) {
    simulated->setLogicalBlockSize(4096);
    simulated->failReads(kSection + 8192 + 1024, kSection + 8192 + 1536, 1);
    BadBlockRepair r = repair(1, 8192);
    auto writes = observer->writeLog();
    ASSERT_EQ(writes.size(), 1u);
    EXPECT_EQ(writes[0].offset, kSection + 8192);
    EXPECT_EQ(writes[0].data.size(), 4096u);
    EXPECT_TRUE(r.verified());
}

} // namespace tolvarin
