#pragma once

#include <memory>
#include <string>

namespace tolvarin {

// Small text helpers used by the media record's normalising setters and its
// printing.
class StringProcessor {
  public:
    StringProcessor() = default;
    virtual ~StringProcessor() = default;

    // Never set by anyone; kept for the record's interface.
    const std::string& tmp() const { return tmp_; }

    // text without blanks and tabs at either end; line ends stay.
    virtual std::string trim(const std::string& text) const;
    // text with the first occurrence of target replaced; text unchanged when
    // target does not occur (or is empty).
    virtual std::string replaceSubstringIn(const std::string& text, const std::string& target,
                                           const std::string& replacement) const;
    // A NUL-terminated copy of the string's UTF-8 bytes, owned by the caller.
    virtual std::unique_ptr<char[]> nsStringToC(const std::string& text) const;
    // The text of a NUL-terminated UTF-8 string; a null pointer gives "".
    virtual std::string cToNSString(const char* text) const;

  private:
    std::string tmp_;
};

} // namespace tolvarin
