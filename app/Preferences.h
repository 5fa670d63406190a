#pragma once

#include <map>
#include <string>
#include <vector>

namespace tolvarin {

// The user's preferences: five integer values under five keys, kept in the
// same INI file the desktop face reads and writes with QSettings
// (HOME/.config/Tolvarin/Tolvarin.conf, keys in the [General] section).
//
// A value that is missing, not a number or out of its range never reaches
// the program: the error limit is clamped into 1..100 (as the preferences
// window does with a typed value), and a switch holding anything but 0 or 1
// reads as its default. Every such repair is logged to the console.
//
// Writing rewrites only the five keys: other keys and sections of the file
// (the desktop face's own settings) are kept as they are.
class Preferences {
  public:
    static constexpr const char* probeKey = "probeKey";
    static constexpr const char* errorLimitKey = "errorLimitKey";
    static constexpr const char* indexingControl = "indexingControl";
    static constexpr const char* disableTimeMachine = "disableTimeMachine";
    static constexpr const char* disablePowerManagement = "disablePowerManagement";

    // The five keys in their usual order.
    static const std::vector<std::string>& keys();
    static bool isKey(const std::string& key);
    // Default and range of a key (0 for a key that is not one of the five).
    static int defaultValue(const std::string& key);
    static int minimumValue(const std::string& key);
    static int maximumValue(const std::string& key);
    // value brought into the key's range: the error limit is clamped, a
    // switch out of range becomes its default.
    static int normalizedValue(const std::string& key, long long value);

    // HOME/.config/Tolvarin/Tolvarin.conf with the launching user's home
    // (TOLVARIN_HOME in tests).
    static std::string defaultFilePath();

    // Starts with every key at its default (the registered defaults).
    Preferences();
    explicit Preferences(std::string filePath);

    const std::string& filePath() const { return filePath_; }

    // Reads the file; keys it does not hold take their defaults. A missing
    // file is no error; a file that cannot be read (a link, a directory, no
    // permission) leaves every key at its default and answers false with the
    // reason.
    bool load(std::string* error = nullptr);
    // Writes the five values into the file, keeping its other contents, by
    // whole-file replacement. A file that exists but cannot be read is not
    // replaced (its contents would be lost): answers false with the reason.
    bool synchronize(std::string* error = nullptr);

    // The value of a key; 0 for a key that is not one of the five.
    int integerForKey(const std::string& key) const;
    // Sets a key's value, brought into its range. Answers false for a key
    // that is not one of the five.
    bool setIntegerForKey(long long value, const std::string& key);
    // The five values under the five keys.
    std::map<std::string, int> dictionary() const;

    // Reads one stored value: an integer (optionally quoted, as QSettings
    // may write it) or true/false. Answers false for anything else.
    static bool parseValue(const std::string& text, long long* value);

  private:
    std::string filePath_;
    std::map<std::string, int> values_;
};

} // namespace tolvarin
