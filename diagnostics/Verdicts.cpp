#include "diagnostics/Verdicts.h"

#include "base/TextFormat.h"
#include "logging/Logger.h"

#include <initializer_list>

namespace tolvarin {

namespace {

// Each piece is one log write, as the texts were always written.
void write(const std::string& log, std::initializer_list<const char*> pieces) {
    for (const char* piece : pieces) {
        Logger::writeDataToLogFile(log, "%s", piece);
    }
}

void writeTimes(const std::string& log, double average, double minimum, double maximum) {
    Logger::writeDataToLogFile(log, "\t\tAverage duration: %f\n", average);
    Logger::writeDataToLogFile(log, "\t\tMinimum duration: %f\n", minimum);
    Logger::writeDataToLogFile(log, "\t\tMaximum duration: %f\n\n", maximum);
}

} // namespace

const char* verdictName(Verdict verdict) {
    switch (verdict) {
    case Verdict::notTested:
        return "notTested";
    case Verdict::weakSector:
        return "weakSector";
    case Verdict::irregularityBecameError:
        return "irregularityBecameError";
    case Verdict::falseIrregularity:
        return "falseIrregularity";
    case Verdict::possibleIntermittentProblem:
        return "possibleIntermittentProblem";
    case Verdict::likelyTimeout:
        return "likelyTimeout";
    case Verdict::errorConfirmed:
        return "errorConfirmed";
    case Verdict::errorNowAnIrregularity:
        return "errorNowAnIrregularity";
    case Verdict::errorNoLongerPresent:
        return "errorNoLongerPresent";
    case Verdict::unableToSeek:
        return "unableToSeek";
    }
    return "notTested";
}

namespace Verdicts {

Verdict classifyIrregularity(const Times& times, double recordedDuration, bool likelyTimeout) {
    if (times.maximum < kSlowReread) {
        if (likelyTimeout) {
            return Verdict::likelyTimeout;
        }
        return recordedDuration >= kLongRecordedDelay ? Verdict::possibleIntermittentProblem
                                                      : Verdict::falseIrregularity;
    }
    if (times.maximum < kVerySlowReread) {
        return times.average() < kSlowReread ? Verdict::falseIrregularity : Verdict::weakSector;
    }
    return Verdict::weakSector;
}

Verdict classifyError(const Times& times) {
    return times.maximum < kErrorStillSlow ? Verdict::errorNoLongerPresent
                                           : Verdict::errorNowAnIrregularity;
}

bool countsAsWeakBlock(Verdict verdict) {
    return verdict == Verdict::weakSector || verdict == Verdict::errorNowAnIrregularity;
}

bool countsAsBadBlock(Verdict verdict) {
    return verdict == Verdict::irregularityBecameError || verdict == Verdict::errorConfirmed;
}

std::string dualFormat(int64_t offset) {
    return formatText("%.6fGB (actual:%lld)", static_cast<double>(offset) / 1000000000.0,
                      static_cast<long long>(offset));
}

void irregularityConfirmed(const std::string& log, double average, double minimum, double maximum) {
    write(log, {"\tIRREGULARITY CONFIRMED AS A WEAK SECTOR\n",
                "\tThe irregularity that was detected at this location is confirmed as a\n",
                "\tweak sector. Five retests of this location have yielded the following\n",
                "\ttest results:\n\n"});
    writeTimes(log, average, minimum, maximum);
    write(log, {"\t\tThis should be considered a confirmed weak sector.\n\n"});
}

void errorNowAnIrregularity(const std::string& log, double average, double minimum,
                            double maximum) {
    write(log, {"\tERROR NOW DETECTED AS AN IRREGULARITY\n",
                "\tThe error that was detected at this location is now registering\n",
                "\tas an irregularity. This implies that the block under\n",
                "\ttest is on the threshold of the drive controller's failure\n",
                "\ttimeout limit. Five retests of this region have produced.\n",
                "\tthe following test results:\n\n"});
    writeTimes(log, average, minimum, maximum);
    write(log, {"\t\tThis should be considered a confirmed weak sector.\n\n"});
}

void possibleIntermittentProblem(const std::string& log, double duration) {
    write(log, {"\n\tPOSSIBLE SIGNIFICANT INTERMITTENT PROBLEM\n",
                "\tTolvarin has re-evaluted the media at this location and\n",
                "\tfound no problems. However, the original irregularity lasted:\n\n"});
    Logger::writeDataToLogFile(log, "\t\t\t%f Seconds\n\n", duration);
    write(log, {"\tThis isn't normal. It's possible there are intermittent system\n",
                "\tdisconnects occurring from bad cables, connectors, or logic\n",
                "\tboard faults, short periods of head parking (hard drives only),\n",
                "\tor there's a software problem (usually incompatible kernel\n",
                "\textensions.) If not selected, you may wish to consider performing\n",
                "\textensive interface and/or memory/system bus tests to determine \n",
                "\twhether this is a reoccurring event.\n\n"});
}

void possibleTimeoutDetected(const std::string& log, double timeoutValue) {
    write(log, {"\n\tPOSSIBLE TIMEOUT DETECTED\n",
                "\tTolvarin has detected a long processing delay that is within bounds\n",
                "\tof a possible timeout. The measured duration was:\n\n"});
    Logger::writeDataToLogFile(log, "\t\t%f Seconds\n\n", timeoutValue);
    write(log, {"\tThis may be a weak sector that coincidentally is taking nearly the\n",
                "\tsame amount of time to read as a timeout. If this is the case the \n",
                "\ttest will be repeatable. If this is a timeout it likely will not \n",
                "\tbe repeatable. Please refer to the users manual for more \n",
                "\tinformation about this type of problem. This is being registered\n",
                "\tas a system fault for this test.\n\n"});
}

void irregularityBecameError(const std::string& log) {
    write(log, {"\tIRREGULARITY NOW DETECTED AS A SURFACE SCAN ERROR\n",
                "\tThe irregularity that was detected at this location is now \n",
                "\tregistering as an error. This indicates that either the unit under\n",
                "\ttest is getting worse or the damage that was originally detected is\n",
                "\ton the threshold of the drive controller's failure timeout limit.\n\n"});
}

void errorConfirmed(const std::string& log) {
    write(log, {"\tSURFACE SCAN ERROR CONFIRMED AS BAD BLOCK\n",
                "\tThe error that was detected at this location is confirmed as a\n",
                "\tbad block. Data stored in this block is not recoverable as-is.\n",
                "\tPlease refer to the users manual for techniques to deal with\n",
                "\twith this type of problem. Note that SSDs and hard drives use\n",
                "\tcompletely different tactics for dealing with bad blocks.\n\n"});
}

void detectedErrorNoLongerPresent(const std::string& log) {
    write(log, {"\tORIGINAL ERROR IS NO LONGER PRESENT\n",
                "\tTolvarin has re-tested this region and found no problems. Either\n",
                "\tthe bad blocks have been re-mapped by the controller or\n",
                "\tthe problem is a system problem which is causing random I/O errors.\n",
                "\tYou may be able to detect random I/O errors using the diagnostics\n",
                "\tinterface testing option if they're occurring.\n\n"});
}

void detectedIrregularityLikelyATimeout(const std::string& log) {
    write(log, {"\tORIGINAL IRREGULARITY LIKELY CAUSED BY TIMEOUT\n",
                "\tTolvarin has re-tested this region and found no problems. The test\n",
                "\tdata recorded in earlier tests tends to imply that either the system\n",
                "\tor the drive timed out during earlier tests. Please refer to the users\n",
                "\tmanual for more information about this type of problem. This is being\n",
                "\tregistered as a system fault for this test.\n\n"});
}

void falseIrregularity(const std::string& log) {
    write(log, {"\tNO PROBLEMS DETECTED\n",
                "\tTolvarin has sampled this location and found no problems. This was\n",
                "\tlikely a false irregularity caused by another process interrupting a\n",
                "\ttest operation or a small system timing interrupt.\n\n"});
}

void unableToSeekToLocation(const std::string& log) {
    write(log, {"\tERROR: UNABLE TO SEEK TO TARGET LOCATION\n",
                "\tTolvarin was unable to seek to the desired test location. This \n",
                "\tindicates either fairly extensive damage to the media or significant\n",
                "\tsystem problems.\n\n"});
}

void writeVerdict(const std::string& log, Verdict verdict, const Times& times,
                  double recordedDuration) {
    switch (verdict) {
    case Verdict::weakSector:
        irregularityConfirmed(log, times.average(), times.minimum, times.maximum);
        break;
    case Verdict::errorNowAnIrregularity:
        errorNowAnIrregularity(log, times.average(), times.minimum, times.maximum);
        break;
    case Verdict::possibleIntermittentProblem:
        possibleIntermittentProblem(log, recordedDuration);
        break;
    case Verdict::likelyTimeout:
        detectedIrregularityLikelyATimeout(log);
        break;
    case Verdict::falseIrregularity:
        falseIrregularity(log);
        break;
    case Verdict::errorNoLongerPresent:
        detectedErrorNoLongerPresent(log);
        break;
    case Verdict::irregularityBecameError:
        irregularityBecameError(log);
        break;
    case Verdict::errorConfirmed:
        errorConfirmed(log);
        break;
    case Verdict::unableToSeek:
        unableToSeekToLocation(log);
        break;
    case Verdict::notTested:
        break;
    }
}

void interfaceWriteFileTookAbnomallyLong(const std::string& log, double seconds) {
    write(log, {"\n\tABNORMAL AMOUNT OF TIME USED TO WRITE TEST FILE\n",
                "\tIt took an abnormally long time to write the test file used in\n",
                "\tinterface testing. Creation of this file is typically no longer\n",
                "\tthan a fraction of a second. In this case the system took:\n\n"});
    Logger::writeDataToLogFile(log, "\t\t%f Seconds\n\n", seconds);
    write(log, {"\tThis is being registered as a system fault for this test.\n",
                "\tPlease refer to the users manual for further details.\n\n"});
}

void interfaceReadFileTookAbnomallyLong(const std::string& log, double seconds) {
    write(log, {"\tABNORMAL AMOUNT OF TIME USED TO READ TEST FILE\n",
                "\tIt took an abnormally long time to read the test file used in\n",
                "\tinterface testing. This file is typically read in no longer\n",
                "\tthan a fraction of a second. In this case the system took:\n\n"});
    Logger::writeDataToLogFile(log, "\t\t%f Seconds\n\n", seconds);
    write(log, {"\tThis is being registered as a system fault for this test.\n",
                "\tPlease refer to the users manual for further details.\n\n"});
}

void interfaceWriteOperationFailed(const std::string& log) {
    write(log, {"\tATTEMPT TO WRITE TEST FILE FAILED\n",
                "\tThe attempt to write the test file used in interface testing\n",
                "\tfailed. This phase of testing will be terminated because\n",
                "\tinterface testing cannot be performed without this file.\n",
                "\tThis is being registered as a system fault for this test.\n",
                "\tPlease refer to the users manual for further details.\n\n"});
}

void interfaceReadOperationFailed(const std::string& log) {
    write(log, {"\tATTEMPT TO READ TEST FILE FAILED\n",
                "\tThe attempt to read the test file used in interface testing\n",
                "\tfailed. This phase of testing will be terminated because\n",
                "\tinterface testing cannot be performed if this file cannot\n",
                "\tbe accessed. This is being registered as a system fault for\n",
                "\tthis test. Please refer to the users manual for further details.\n\n"});
}

void interfaceErrorDetected(const std::string& log) {
    write(log, {"\tINTERFACE ERROR DETECTED\n",
                "\tTolvarin has detected a mismatch between the data that was read\n",
                "\tfrom the volume under test and the file stored on that volume.\n",
                "\tThis indicates that data being sent to and from the mass storage\n",
                "\tunit is not reliable. Please refer to the users manual for \n",
                "\tfurther details.\n\n"});
}

} // namespace Verdicts

} // namespace tolvarin
