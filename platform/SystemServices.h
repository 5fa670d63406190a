#pragma once

#include <memory>
#include <string>

namespace tolvarin {

class Env;

// The system services that can disturb timed reads and that a test may turn
// off while it runs: a desktop file indexer, scheduled backups and drive
// sleep. The hub owns one and is the only one that switches them.
class SystemServices {
  public:
    enum class Service { indexing, backups, driveSleep };

    virtual ~SystemServices() = default;

    // Whether this system has the service at all (for drive sleep: for the
    // unit at device). A service that is not present is never switched,
    // and its step of a test is skipped entirely.
    virtual bool present(Service service, const std::string& device) = 0;
    // Switches a present service off for a test, or back on; device names
    // the unit under test (drive sleep). Answers whether it worked.
    virtual bool turnOff(Service service, const std::string& device) = 0;
    virtual bool turnOn(Service service, const std::string& device) = 0;

    // What the log calls it: "desktop file indexing", "scheduled backups",
    // "drive sleep".
    static std::string nameOf(Service service);

    // The services of this machine, run through env.
    static std::unique_ptr<SystemServices> forThisSystem(Env& env);
};

// A system with none of the services (tests, machines without a desktop).
class NullSystemServices : public SystemServices {
  public:
    bool present(Service, const std::string&) override { return false; }
    bool turnOff(Service, const std::string&) override { return false; }
    bool turnOn(Service, const std::string&) override { return false; }
};

// Linux: indexing is a desktop file indexer where one runs for the
// launching user (KDE's or GNOME's), paused and resumed with its own tool;
// backups have no common service; drive sleep is the drive's standby timer
// (hdparm -S) plus a logind inhibitor lock held for the test where logind
// runs.
class LinuxSystemServices : public SystemServices {
  public:
    // Where the machine's facts are read; tests point them at a made-up tree.
    struct Layout {
        std::string procDir = "/proc";
        std::string sysBlockDir = "/sys/block";
        std::string logindDir = "/run/systemd/seats";
        std::string runUserDir = "/run/user";
        std::string toolDirs = "/usr/bin:/bin:/usr/sbin:/sbin";
    };
    explicit LinuxSystemServices(Env& env) : LinuxSystemServices(env, Layout{}) {}
    LinuxSystemServices(Env& env, Layout layout);
    ~LinuxSystemServices() override;

    bool present(Service service, const std::string& device) override;
    bool turnOff(Service service, const std::string& device) override;
    bool turnOn(Service service, const std::string& device) override;

    // The indexer that runs, if any: "baloo" or "tracker".
    std::string runningIndexer() const;
    // The absolute path of a tool in the tool directories, or empty.
    std::string findTool(const std::string& name) const;
    // Whether the logind inhibitor lock is held now.
    bool inhibitorHeld() const;

  private:
    bool switchIndexer(bool off);
    bool switchDriveSleep(bool off, const std::string& device);
    bool hdparmApplies(const std::string& device) const;
    bool logindRuns() const;
    bool takeInhibitor();
    void releaseInhibitor();

    Env& env_;
    Layout layout_;
    std::string trackerCookie_;
    int inhibitorPid_ = -1;
    int inhibitorPipe_ = -1;
};

} // namespace tolvarin
