// Where a message was posted from, for the queue's diagnostics.
#pragma once

#include <string>

namespace rtc
{

class Location
{
  public:
    // Both texts must outlive every message that carries them (string literals).
    Location(const char *function_name, const char *file_and_line)
        : function_name_(function_name), file_and_line_(file_and_line)
    {
    }
    Location() = default;

    const char *function_name() const
    {
        return function_name_;
    }
    const char *file_and_line() const
    {
        return file_and_line_;
    }
    // "function@file:line"
    std::string ToString() const
    {
        return std::string(function_name_) + "@" + file_and_line_;
    }

  private:
    const char *function_name_ = "Unknown";
    const char *file_and_line_ = "Unknown";
};

} // namespace rtc

#define RTC_STRINGIZE_INNER(x) #x
#define RTC_STRINGIZE(x) RTC_STRINGIZE_INNER(x)
#define RTC_FROM_HERE rtc::Location(__FUNCTION__, __FILE__ ":" RTC_STRINGIZE(__LINE__))
