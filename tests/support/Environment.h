// Changes an environment variable for the life of the object and puts the
// old value (or its absence) back afterwards.
#pragma once

#include <cstdlib>
#include <optional>
#include <string>

namespace qmtest {

class EnvironmentGuard {
public:
    // Only remembers the variable; the test sets it as it likes.
    explicit EnvironmentGuard(const char* name) : m_name(name) {
        if (const char* value = std::getenv(name)) {
            m_old = value;
        }
    }
    // Sets the variable to `value`, or unsets it for null.
    EnvironmentGuard(const char* name, const char* value) : EnvironmentGuard(name) {
        if (value != nullptr) {
            ::setenv(name, value, 1);
        } else {
            ::unsetenv(name);
        }
    }
    ~EnvironmentGuard() {
        if (m_old) {
            ::setenv(m_name, m_old->c_str(), 1);
        } else {
            ::unsetenv(m_name);
        }
    }
    EnvironmentGuard(const EnvironmentGuard&) = delete;
    EnvironmentGuard& operator=(const EnvironmentGuard&) = delete;

private:
    const char* m_name;
    std::optional<std::string> m_old;
};

} // namespace qmtest
