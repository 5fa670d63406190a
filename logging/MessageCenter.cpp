#include "logging/MessageCenter.h"

#include "platform/System.h"

#include <cstdio>
#include <iterator>
#include <mutex>

namespace tolvarin {

namespace {

struct Entry {
    int number;
    const char* title;
    const char* text;
    const char* defaultButton;
    const char* alternateButton;
    const char* otherButton;
    int safeAnswer;
};

// The whole catalogue. Text 2000 is a format taking the cursory start and end.
const Entry kCatalogue[] = {
    {0, "You Are About to Launch a Scan",
     "For Tolvarin to operate properly, it MUST be the only application running on the system. "
     "Failure to stop other applications prior to testing may cause Tolvarin to produce erroneous "
     "data. \n\nIf other applications are running, please terminate them now. \n\nPress the \"OK\" "
     "button to proceed, or \"Cancel\" to cancel the operation",
     "OK", "Cancel", "", 0},
    {1, "Test Completed.",
     "The test you were running has completed.                            \n\nPress the \"OK\" "
     "button to go back to the main program.",
     "OK", "", "", 1},
    {2, "Error Limit Exceeded",
     "The number of allowable errors as set in Tolvarin preferences has been exceeded. You can "
     "reset the error counter back to zero by pressing the \"Continue\" button and continue "
     "testing, or end the tests on this unit by pressing the \"Terminate\" button.\n\n",
     "Continue", "Terminate", "", 0},
    {3, "Stop Option Selected",
     "You have decided to stop testing this unit. Please select how you wish to end the tests on "
     "this unit: \n\nPress the \"Save\" button and Tolvarin will save the current test data and "
     "allow you to resume the scan at a later time.\n\nPress the \"Don't Save\" button and "
     "Tolvarin will discard the current test data and restore that of the last session before "
     "ending this scan. \n\nPress the \"Cancel\" button to cancel the request to stop processing "
     "and resume the current test.\n\n",
     "Save", "Cancel", "Don't Save", 1},
    {4, "Exit Option Selected During a Normal Scan",
     "You have just indicated that you wish to exit the program, but a full, normal scan is "
     "currently in progress. We strongly recommend that you press the \"Cancel\" button and then "
     "use the \"Stop\" button to end the test, so that the test data for this unit is saved or "
     "rolled back properly. If you exit the program now, the data accumulated for this unit may be "
     "lost. \n\nPress the \"Cancel\" button to continue with the test, or the \"Terminate "
     "Abnormally\" button to end the test and quit the program immediately.\n\n",
     "Cancel", "Terminate Abnormally", "", 1},
    {5, "No Tests Selected for Cursory Scanning",
     "You have just indicated that you're done configuring a test, but both the surface and seek "
     "testing options are unchecked. \n\nPlease click on the \"OK\" button to close this dialog "
     "and select  which tests you wish to run on this unit before proceeding.",
     "OK", "", "", 1},
    {6, "Stop Option Selected in Cursory Test",
     "You have decided to stop testing this unit. Since this is a cursory test, the only data "
     "being recorded is that in the log files. If you terminate this test now, the information in "
     "the log files will not be complete for this unit. \n\nPress the \"Terminate Now\" button and "
     "Tolvarin will stop this test and end  logging data on it. \n\nPress the \"Cancel\" button to "
     "cancel the request to stop processing and resume the current test.\n\n",
     "Terminate Now", "Cancel", "", 1},
    {7, "Exit Option Selected During a Test",
     "You have just indicated that you wish to exit the program, but a test is currently in "
     "progress. \n\nPress the \"Cancel\" button on this dialog to continue with the test, or the "
     "\"Quit\" button to quit the program. ",
     "Cancel", "Quit", "", 1},
    {8, "Normal Test Complete",
     "The test you were running has completed and a report has been generated. \n\nPress the "
     "\"View Now\" button and Tolvarin will open the report up in your default document viewer. If "
     "you wish to view it later, press the \"Cancel\" button.\n\nReports may be found in the "
     "\"Documents\" directory.",
     "View Now", "Cancel", "", 0},
    {9, "Don't Save Option Selected",
     "You have decided not to save the data for this test. Please select what you want to do with "
     "the existing data: \n\nPress the \"Delete All\" button and Tolvarin will delete all current "
     "test data for this unit. WARNING: THIS WILL DELETE EVEN THE INITIAL SCAN DATA!\n\nPress the "
     "\"Delete Current Only\" button and Tolvarin will discard the current test data and restore "
     "that of the last session before ending this scan. \n\nPress the \"Go Back\" to go back to "
     "the previous option panel.\n\n",
     "Go Back", "Delete All", "Delete Current Only", 1},
    {10, "WARNING!! YOU HAVE CONFIGURED THIS TEST TO ATTEMPT A DISK REPAIR!!",
     "If the hard drive or volume you're testing has bad sectors, we strongly recommend that you "
     "back up the entire drive, use a disk utility (such as Disks, or dd) to overwrite all of its "
     "bytes with zeros, and then re-scan it with Tolvarin to see if the bad sectors have been "
     "re-mapped. THE REPAIR OPTION IS DANGEROUS ON A DRIVE OR VOLUME THAT HOLDS DATA. OVERWRITING "
     "AN UNREADABLE SECTOR WITH ZEROS MAY DESTROY GOOD DATA AS WELL! Please read the README "
     "before using this option. \n\nPress the \"Terminate\" button to return to the configuration "
     "dialog, or press the \"Continue\" button to proceed with the repair attempt.\n\n",
     "Continue", "Terminate", "", 0},
    {11, "Limited Scan Range is Invalid",
     "You have selected an option to perform a cursory scan over a limited region of the drive or "
     "volume, but the starting scan region is equal to or greater than the ending scan range. The "
     "starting value of a limited scan MUST be less than that of the ending scan value. \n\nPlease "
     "click on the \"OK\" button to close this dialog and either change the values or disable the "
     "\"Limit Scan\" check box to perform a scan on the entire drive.",
     "OK", "", "", 1},
    {12, "Scan Start is Greater Than Size of Disk or Volume",
     "The value entered for the start of the limited scan is greater than the size of the selected "
     "disk or volume. The start of all scans must be less than the size of the drive or volume "
     "being evaluated.    \n\nPlease click on the \"OK\" button to close this dialog and adjust "
     "the start of scan settings  before proceeding.",
     "OK", "", "", 1},
    {13, "End of Limited Scan Exceeds Size of Disk or Volume",
     "The value entered for the end of the limited scan exceeds that of the drive or volume "
     "selected for testing. Tolvarin can proceed with the test as-is, but it will stop when it "
     "reaches the end of the drive or volume being examined.  \n\nIf you wish to proceed with "
     "these settings, press the \"OK\" button and Tolvarin will automatically adjust itself to "
     "stop when it encounters the end of the selected drive or volume. If the data has been "
     "entered erroneously, click on the \"Cancel\" button and you will be taken back to the "
     "configuration dialog to edit your settings.",
     "OK", "Cancel", "", 0},
    {14, "Limited Surface Scan Option Selected With Surface Scanning Disabled",
     "The option to perform a limited surface scan on the drive has been selected but the option "
     "to perform a surface scan is not selected. There is no such thing in Tolvarin as a limited "
     "seek scan. Seek scan tests **MUST** be performed over the entire drive. You must either "
     "select the surface scanning option or disable the option to perform a limited surface scan "
     "on this drive or volume.  \n\nPress the \"OK\" button and adjust the settings so the testing "
     "options match one of the conditions described above.",
     "OK", "", "", 1},
    {15, "Resuming Initial Surface Scan",
     "The previous initial surface scan on this unit was stopped during a test. Please click on "
     "one of the buttons as described below to take the appropriate action: \n\nPress the \"Resume "
     "Scan\" button and Tolvarin will continue with the test where it left off.\n\nPress the "
     "\"Delete and Start Over\" button and Tolvarin delete the current set of test data and start "
     "the test completely over from the beginning. \n\n",
     "Resume Scan", "Delete and Start Over", "", 1},
    {16, "Resuming Initial Seek Scan",
     "The previous initial seek scan on this unit was stopped during a test. Please click on one "
     "of the buttons as described below to take the appropriate action: \n\nPress the \"Resume "
     "Scan\" button and Tolvarin will continue with the test where it left off.\n\nPress the "
     "\"Delete and Start Over\" button and Tolvarin will delete the test data of both the surface "
     "and the seek scans and start all tests over from the beginning. WARNING: THIS UNIT WILL THEN "
     "BE TREATED AS IF IT HAD NEVER BEEN TESTED!\n\nPress the \"Delete Current Only \" button and "
     "Tolvarin will delete only the seek scan data and start a new seek scan test. \n\n",
     "Resume Scan", "Delete and Start Over", "Delete Current Only", 1},
    {17, "Resuming a Previous Surface Scan",
     "The previous surface scan on this unit was stopped during a test. Please click on one of the "
     "buttons as described below to take the appropriate action: \n\nPress the \"Resume Scan\" "
     "button and Tolvarin will continue with the test where it left off.\n\nPress the \"Restart "
     "Scan\" button and Tolvarin will delete the current surface scantest data and start a "
     "completely new surface scan test. \n\n",
     "Resume Scan", "Restart Scan", "", 1},
    {18, "Resuming a Previous Seek Scan",
     "The previous seek scan on this unit was stopped during a test. Please click on one of the "
     "buttons as described below to take the appropriate action: \n\nPress the \"Resume Scan\" "
     "button and Tolvarin will continue with the test where it left off.\n\nPress the \"Restart "
     "Scan\" button and Tolvarin will delete the current seek scantest data and start a completely "
     "new seek scan test. \n\n",
     "Resume Scan", "Restart Scan", "", 1},
    {19, "Re-enable Items Disabled Via Tolvarin Preferences",
     "If you disabled scheduled backups, drive sleep, or the desktop file indexer and Tolvarin "
     "was improperly shut down (typically caused by a power outage or a hardware failure of some "
     "sort) this option will allow you to re-enable the selected options from the Tolvarin "
     "Preferences dialog without needing to run a test.\n\nBy clicking on the \"OK\" button, "
     "Tolvarin will read the selected items from the Tolvarin Preference dialog and re-enable or "
     "restore them to system default settings. Click on the \"Cancel\" button if you don't wish to "
     "reset these items.",
     "OK", "Cancel", "", 0},
    {20, "Diagnostics Can Not Be Run with a Test Underway",
     "You cannot run diagnostics while Tolvarin is already testing a unit. Please wait for the "
     "test to complete or terminate the test and then run diagnostics.\n\nPress the \"OK\" button "
     "to return to Tolvarin and take the appropriate action.",
     "OK", "", "", 1},
    {21, "You Cannot Load a Log File at this Time",
     "You can only perform diagnostics on a drive or volume one at a time. Since diagnostics are "
     "already underway, you must either wait for them to complete or terminate them prior to "
     "loading another log file.\n\nPress the \"OK\" button to return to diagnostics and take the "
     "appropriate action.",
     "OK", "", "", 1},
    {22, "You Cannot Run a Test While Diagnostics are Running",
     "You cannot perform a normal or cursory mode test on a drive or volume while diagnostics are "
     "underway. Please wait for diagnostics are complete, or terminate diagnostics from the "
     "Tolvarin Diagnostics window if you wish to run a test now. \n\nPress the \"OK\" button to "
     "return to diagnostics and take the appropriate action. ",
     "OK", "", "", 1},
    {23, "You Cannot Perform an Interface Test on a Primary Drive",
     "Interface tests require reading and writing data to a volume. Since a primary drive is an "
     "entire drive rather than a volume, this test cannot be performed as configured. \n\nClick on "
     "the \"OK\" button to return to Tolvarin and either select a volume or re-configure the test "
     "to exclude interface testing on this drive.\n\n",
     "OK", "", "", 1},
    {24, "There Are No Diagnostic Tests Selected",
     "None of the test options in the configuration panel for diagnostic testing  have been "
     "selected. You need to select at least one type of test using the Diagnostics mode "
     "\"Configure...\" button for diagnostics to proceed.\n\nPress the \"OK\" button to return to "
     "diagnostics and take the appropriate action. ",
     "OK", "", "", 1},
    {25, "No Diagnostics File Available",
     "In order to evaluate surface scan errors and irregularities a diagnostics file needs to be "
     "present. Diagnostic files are created during Normal Mode tests.  \n\nIf you wish to continue "
     "testing, click on the \"Continue\" button and the tests will proceed, but the evaluation of "
     "errors and irregularities will be excluded. To return to the application without performing "
     "any tests, click on the  \"Terminate\" button.\n\n",
     "Continue", "Terminate", "", 0},
    {26, "No Diagnostics File Available",
     "In order to evaluate surface scan errors and irregularities a diagnostics file needs to be "
     "present. Diagnostic files are created during Normal Mode tests.  Since there are no other "
     "diagnostic tests configured, there is nothing to do at this time.  \n\nPlease click on the "
     "\"OK\" button to return to the application.\n\n",
     "OK", "", "", 1},
    {27, "No Problems Found in Diagnostics Data",
     "A review of the diagnostics data file indicates that there are no problems to evaluate at "
     "this time. If you think this is an error, please make sure that you've selected the correct "
     "drive or volume for testing. \n\nSince other tests have been selected as well, if you wish "
     "to continue testing click on the \"Continue\" button and the tests will proceed. To return "
     "to the application without performing any tests, click on the  \"Terminate\" button.\n\n",
     "Continue", "Terminate", "", 0},
    {28, "Diagnostics Data Shows No Problems",
     "A review of the diagnostics data indicates that there are no problems with the selected "
     "drive or volume. If you think this is an error, please  make sure that the correct volume or "
     "drive have been selected for evaluation. Since there are no other diagnostic tests "
     "configured, there is nothing to do at this time.  \n\nPlease click on the \"OK\" button to "
     "return to the application.\n\n",
     "OK", "", "", 1},
    {29, "Cannot Obtain Reference Sector",
     "In order to evaluate surface scan errors and irregularities, seek problems, or system "
     "problems, Tolvarin must obtain a \"reference sector.\". Tolvarin was unable to do this. This "
     "either implies that a drive is so heavily damaged such a sector can't be obtained or there "
     "are significant system problems of some sort. Please refer to the README for "
     "details.\n\nPlease click on the \"OK\" button to exit diagnostics and return to the "
     "application and investigate this problem.\n\n",
     "OK", "", "", 1},
    {30, "Could Not Open Volume for Writing",
     "Interface tests require that the volume being tested be mounted and writable. Attempts to "
     "create the test files for performing this test failed. It's possible that the drive is not "
     "mounted, or if the drive has been problematic, the operating system may have rendered it  "
     "read-only. Please refer to the README for details.\n\nPlease click on the \"OK\" "
     "button to return to the application and investigate this problem.\n\n",
     "OK", "", "", 1},
    {31, "Diagnostics Mode Tests Have Completed.",
     "The Diagnostics Mode tests you were running have completed. \n\nPress the \"OK\" button to "
     "go back to the main program.",
     "OK", "", "", 1},
    {32, "Diagnostics Mode Tests Have Been Terminated.",
     "The Diagnostics Mode tests you were running have successfully been terminated as requested. "
     "\n\nPress the \"OK\" button to go back to the main program.",
     "OK", "", "", 1},
    {1000, "ERROR 1000: Sizing Scan Failed.",
     "The sizing scan was unable to access the unit being tested. Tolvarin will not be able to "
     "perform a scan on this device until this problem is corrected. Please refer to the README "
     "for further details.\n\nPress the \"OK\" button to go back to the main program.",
     "OK", "", "", 1},
    {1001, "ERROR 1001: Sizing Scan Completed with Errors.",
     "The sizing scan was unable to access the bytes in the base section of the drive or volume "
     "being tested. This will almost certainly lead to Tolvarin being unable to successfully test "
     "the drive. You may proceeed with a test of this drive but be forewarned that this is a "
     "critical error. Please refer to the README for further details.\n\nPress the \"OK\" "
     "button to proceed with the test anyway, or the \"Cancel\" button to return to the main "
     "program without testing this device.",
     "OK", "Cancel", "", 0},
    {1002, "ERROR 1002: Sizing Scan Completed with Errors.",
     "The sizing scan was unable to properly access some of the bytes between the beginning and "
     "end of the unit being tested. This will almost certainly lead to Tolvarin being unable to "
     "successfully test the drive. You may proceeed with a test of this drive but be forewarned "
     "that the scan will likely have errors. Please refer to the README for further "
     "details.\n\nPress the \"OK\" button to proceed with the test anyway, or the \"Cancel\" "
     "button to return to the main program without testing this device.",
     "OK", "Cancel", "", 0},
    {1003, "ERROR 1003: Sizing Scan Completed with Errors.",
     "The sizing scan was unable to properly access some of the bytes at the start of the unit as "
     "well as some intermediate sections. This will almost certainly lead to Tolvarin being unable "
     "to successfully test the drive. You may proceeed with a test of this drive but be forewarned "
     "that the scan will likely have errors. Please refer to the README for further "
     "details.\n\nPress the \"OK\" button to proceed with the test anyway, or the \"Cancel\" "
     "button to return to the main program without testing this device.",
     "OK", "Cancel", "", 0},
    {1004, "ERROR 1004: Sizing Scan Completed with Errors.",
     "The sizing scan was unable to properly access some of the bytes at the end of the unit. This "
     "will almost certainly lead to Tolvarin being unable to successfully test the unit. You may "
     "proceeed with a test but be forewarned that the scan will likely have errors. Please refer "
     "to the README for further details.\n\nPress the \"OK\" button to proceed with the test "
     "anyway, or the \"Cancel\" button to return to the main program without testing this device.",
     "OK", "Cancel", "", 0},
    {1005, "ERROR 1005: Sizing Scan Completed with Errors.",
     "The sizing scan was unable to properly access some of the bytes at both the beginning and "
     "end of the unit. This will almost certainly lead to Tolvarin being unable to successfully "
     "test the unit. You may proceeed with a test but be forewarned that the scan will likely have "
     "errors. Please refer to the README for further details.\n\nPress the \"OK\" button to "
     "proceed with the test anyway, or the \"Cancel\" button to return to the main program without "
     "testing this device.",
     "OK", "Cancel", "", 0},
    {1006, "ERROR 1006: Sizing Scan Completed with Errors.",
     "The sizing scan was unable to properly access some of the bytes at the intermediate sectors "
     "as well as the end of the unit. This will almost certainly lead to Tolvarin being unable to "
     "successfully test the unit. You may proceeed with a test but be forewarned that the scan "
     "will likely have errors. Please refer to the README for further details.\n\nPress the "
     "\"OK\" button to proceed with the test anyway, or the \"Cancel\" button to return to the "
     "main program without testing this device.",
     "OK", "Cancel", "", 0},
    {1007, "ERROR 1007: Sizing Scan Completed with Errors.",
     "The sizing scan was unable to properly access some of the bytes at the start, intermediate, "
     "and tail end of the unit. This drive likely has serious problems and may be untestable "
     "and/or unusable. A test can still be performed on the unit, but be forewarned that the scan "
     "will likely have significant errors.\n\nPress the \"OK\" button to proceed with the test "
     "anyway, or the \"Cancel\" button to return to the main program without testing this device.",
     "OK", "Cancel", "", 0},
    {1008, "ERROR 1008: Corrupt or Missing Base Files",
     "Tolvarin base files associated with the selected unit are corrupt, missing, or inaccessible. "
     "Please refer to the README to see what options are available. Cursory scans may be "
     "performed on this unit if it is having problems.\n\n If you wish to proceed with a test, "
     "press the  \"OK\" button, and Tolvarin will delete all the files associated with the unit "
     "and then exit. You will need to restart Tolvarin, and start all tests for this unit "
     "over.\n\n If you do not wish to do this at this time, press the \"Cancel\" button to return "
     "to the main program without testing this device.",
     "OK", "Cancel", "", 0},
    {1009, "ERROR 1009: Corrupt Initial Surface Scan File",
     "The initial surface scan file for this unit is corrupt. This is most likely caused by a "
     "forced exit of the program, a power outage, or a shutdown of the system during the initial "
     "surface scan. \n\nPress the \"OK\" button and Tolvarin will delete the initial surface scan "
     "file and restart the test for this unit. If you suspect that the drive itself has problems, "
     "we suggest that you perform a cursory scan on it first.\n\nPress the \"Cancel\" button to "
     "return to the main program without testing this device.",
     "OK", "Cancel", "", 0},
    {1010, "ERROR 1010: Corrupt Initial Seek Scan File",
     "The initial seek scan file for this unit is corrupt. This is most likely caused by a forced "
     "exit of the program, a power outage, or a shutdown of the system during the initial seek "
     "scan. \n\nPress the \"OK\" button and Tolvarin will delete the initial seek scan file and "
     "restart the test for this unit. If you suspect that the drive itself has problems, we "
     "suggest that you perform a cursory scan on it first.\n\nPress the \"Cancel\" button to "
     "return to the main program without testing this device.",
     "OK", "Cancel", "", 0},
    {1011, "ERROR 1011: Corrupt Initial Surface Scan File",
     "The initial surface scan file for this unit is corrupt. This is most likely caused by a "
     "forced exit of the program, a power outage, tampering with the file by the user or a hacker, "
     "or a shutdown of the system. \n\nPress the \"OK\" button and Tolvarin will delete the "
     "existing initial scan files and restart the test for this unit. If you suspect that the "
     "drive itself has problems, we suggest that you perform a cursory scan on it first.\n\nPress "
     "the \"Cancel\" button to return to the main program without testing this device.",
     "OK", "Cancel", "", 0},
    {1012, "ERROR 1012: Corrupt Initial Seek Scan File",
     "The initial seek scan file for this unit is corrupt. This is most likely caused by a forced "
     "exit of the program, a power outage, tampering with the file by the user or a hacker, or a "
     "shutdown of the system. \n\nPress the \"OK\" button and Tolvarin will delete the existing "
     "initial scan files and restart the test for this unit. If you suspect that the drive itself "
     "has problems, we suggest that you perform a cursory scan on it first.\n\nPress the "
     "\"Cancel\" button to return to the main program without testing this device.",
     "OK", "Cancel", "", 0},
    {1013, "ERROR 1013: Corrupt Files Detected",
     "One or more of the scan files for this unit are corrupt. This is most likely caused by a "
     "forced exit of the program, a power outage, tampering with the files, or a shutdown of the "
     "system. \n\nPress the \"OK\" button and Tolvarin will delete the corrupt files and roll the "
     "data for this unit back to the nearest reproducible test. If you keep backups of the "
     "Tolvarin data directory, you may instead press the \"Cancel\" button, leave the program and "
     "restore your last good data. If you suspect that the drive itself has problems, we suggest "
     "that you perform a cursory scan on it first.",
     "OK", "Cancel", "", 0},
    {1014, "ERROR 1014: Data Files Without a Drive Header",
     "The data directory holds data files of one or more units whose drive header file is "
     "damaged or missing (listed on Tolvarin's console). No test can use these files any more: a "
     "unit "
     "without its drive header is registered anew at its next test.\n\nPress the \"Keep\" "
     "button to leave them where they are, or the \"Delete\" button and Tolvarin will delete "
     "them and their backups.",
     "Keep", "Delete", "", 1},
    {1015, "Forget This Unit",
     "Tolvarin will delete every stored file of this unit: its drive header, its initial and "
     "current scans, its averages, its diagnostics history and its backups. Its next normal test "
     "will treat it as a unit never tested before.\n\nPress the \"Delete\" button to forget "
     "the unit, or the \"Cancel\" button to keep its files.",
     "Delete", "Cancel", "", 0},
    {2000, "Limited Scanning Range Adjusted",
     "Tolvarin must perform scans not only on 512 byte sector scan boundaries, but also within the "
     "pre-defined scanning ranges Tolvarin uses. Because of this, this scan will be performed "
     "using the following scan ranges:\n\n             Starting Scan Range: %.3f\n             "
     "Ending Scan Range: %.3f\n\nIf you wish to proceed with these ranges, press the  \"OK\" "
     "button. If you wish to modify these ranges, click on the  \"Cancel\" button, and you will be "
     "returned to the dialog to modify the scan ranges.",
     "OK", "Cancel", "", 0},
    {5000, "ERROR 5000: ***CRITICAL ERROR ***\nS.M.A.R.T. STATUS FAILURE",
     "Tolvarin has detected a S.M.A.R.T. status failure! This is a critical, unrecoverable error. "
     "Your drive is in the process of failing. \n\n Press the  \"OK\" button, and Tolvarin will "
     "terminate immediately. We suggest you attempt to recover or back up any files possible while "
     "the drive is still running, if it's running at all.",
     "OK", "", "", 1},
};

const Entry* findEntry(int n) {
    for (const Entry& e : kCatalogue) {
        if (e.number == n) {
            return &e;
        }
    }
    return nullptr;
}

struct CenterState {
    std::shared_ptr<AlertAnswerer> answerer;
    int inputValue = 0;
    int choice = 0;
    int returnValue = 0;
    double cursoryStart = 0;
    double cursoryEnd = 0;
};

// Guards the values; held only briefly, never while the user is asked.
std::mutex& stateMutex() {
    static std::mutex m;
    return m;
}

CenterState& state() {
    static CenterState s;
    return s;
}

std::string formatCursoryRange(const char* format, double start, double end) {
    int size = std::snprintf(nullptr, 0, format, start, end);
    if (size < 0) {
        return format;
    }
    std::string text(static_cast<size_t>(size) + 1, '\0');
    std::snprintf(text.data(), text.size(), format, start, end);
    text.resize(static_cast<size_t>(size));
    return text;
}

} // namespace

bool Alert::offers(int answer) const {
    return !buttonFor(answer).empty();
}

std::string Alert::buttonFor(int answer) const {
    switch (answer) {
    case MessageCenter::kDefaultAnswer:
        return defaultButton;
    case MessageCenter::kAlternateAnswer:
        return alternateButton;
    case MessageCenter::kOtherAnswer:
        return otherButton;
    default:
        return "";
    }
}

std::optional<Alert> MessageCenter::alertForNumber(int n) {
    const Entry* e = findEntry(n);
    if (e == nullptr) {
        return std::nullopt;
    }
    Alert alert{n, e->title, e->text, e->defaultButton, e->alternateButton, e->otherButton};
    if (n == 2000) {
        alert.text = formatCursoryRange(e->text, cursoryStart(), cursoryEnd());
    }
    return alert;
}

std::vector<int> MessageCenter::messageNumbers() {
    std::vector<int> numbers;
    numbers.reserve(std::size(kCatalogue));
    for (const Entry& e : kCatalogue) {
        numbers.push_back(e.number);
    }
    return numbers;
}

bool MessageCenter::defaultDestroys(int n) {
    // "OK" deletes the unit's files (1008 to 1013). Forgetting a unit (1015)
    // is asked only by the command that names the deletion.
    return n >= 1008 && n <= 1013;
}

int MessageCenter::safeAnswerForNumber(int n) {
    const Entry* e = findEntry(n);
    return e != nullptr ? e->safeAnswer : kAlternateAnswer;
}

int MessageCenter::generateAlertDialogWithNumber(int n) {
    // No lock is held while the answerer waits: the window's answerer hands
    // the question to the main thread, which may itself be asking (a click
    // while a worker's question is on its way) and must not block on one.
    // An answerer that cannot take two questions at once serialises itself.
    std::shared_ptr<AlertAnswerer> answerer;
    {
        std::lock_guard<std::mutex> lock(stateMutex());
        state().inputValue = n;
        answerer = state().answerer;
    }
    std::optional<Alert> alert = alertForNumber(n);
    if (!alert) {
        System::consoleLog("Message " + std::to_string(n) + " is not in the catalogue.");
        std::lock_guard<std::mutex> lock(stateMutex());
        state().returnValue = state().choice;
        return state().returnValue;
    }
    int answer = 0;
    if (answerer) {
        answer = answerer->answer(*alert);
        if (!alert->offers(answer)) {
            // A button the message does not have would send the caller
            // down a branch nobody chose.
            System::consoleLog("Message " + std::to_string(n) + " got answer " +
                               std::to_string(answer) + ", which it does not offer; taking " +
                               std::to_string(safeAnswerForNumber(n)) + ".");
            answer = safeAnswerForNumber(n);
        }
    } else {
        answer = safeAnswerForNumber(n);
        System::consoleLog("Message " + std::to_string(n) + " \"" + alert->title +
                           "\": nobody to ask; answered " + alert->buttonFor(answer) + ".");
    }
    std::lock_guard<std::mutex> lock(stateMutex());
    state().choice = answer;
    state().returnValue = answer;
    return answer;
}

void MessageCenter::setAnswerer(std::shared_ptr<AlertAnswerer> answerer) {
    std::lock_guard<std::mutex> lock(stateMutex());
    state().answerer = std::move(answerer);
}

std::shared_ptr<AlertAnswerer> MessageCenter::answerer() {
    std::lock_guard<std::mutex> lock(stateMutex());
    return state().answerer;
}

void MessageCenter::setCursoryStart(double value) {
    std::lock_guard<std::mutex> lock(stateMutex());
    state().cursoryStart = value;
}

void MessageCenter::setCursoryEnd(double value) {
    std::lock_guard<std::mutex> lock(stateMutex());
    state().cursoryEnd = value;
}

double MessageCenter::cursoryStart() {
    std::lock_guard<std::mutex> lock(stateMutex());
    return state().cursoryStart;
}

double MessageCenter::cursoryEnd() {
    std::lock_guard<std::mutex> lock(stateMutex());
    return state().cursoryEnd;
}

int MessageCenter::inputValue() {
    std::lock_guard<std::mutex> lock(stateMutex());
    return state().inputValue;
}

int MessageCenter::choice() {
    std::lock_guard<std::mutex> lock(stateMutex());
    return state().choice;
}

int MessageCenter::returnValue() {
    std::lock_guard<std::mutex> lock(stateMutex());
    return state().returnValue;
}

void MessageCenter::resetForTests() {
    std::shared_ptr<AlertAnswerer> old;
    {
        std::lock_guard<std::mutex> lock(stateMutex());
        old = std::move(state().answerer);
        state() = CenterState{};
    }
}

} // namespace tolvarin
