#pragma once
#include <stdexcept>
#include <string>

namespace halyard::platform {

// A system call that failed: its cause as an errno value (on Windows the system's error
// mapped to the nearest one, 0 when none is near) and the reason as the user reads it
// ("No such file or directory"). Callers put the reason into texts of their own.
class SystemError : public std::runtime_error {
public:
    SystemError(int code, const std::string& reason) : std::runtime_error(reason), code_(code) {}
    // From an errno value, with its text.
    explicit SystemError(int code);
    int code() const { return code_; }

private:
    int code_;
};

// The text of an errno value, the same on every system for the causes the program
// names ("No such file or directory", "No space left on device").
std::string ErrorText(int code);

} // namespace halyard::platform
