#pragma once

#include <cstdlib>
#include <map>
#include <optional>
#include <string>

namespace trp::test {

// Environment variables set or removed for a test's duration; the earlier values come back when
// the object goes.
class ScopedEnvironment {
public:
    ScopedEnvironment() = default;
    ScopedEnvironment(const ScopedEnvironment&) = delete;
    ScopedEnvironment& operator=(const ScopedEnvironment&) = delete;
    ~ScopedEnvironment() {
        for (const auto& [name, value] : earlier_) {
            if (value)
                setenv(name.c_str(), value->c_str(), 1);
            else
                unsetenv(name.c_str());
        }
    }
    void Set(const std::string& name, const std::string& value) {
        Remember(name);
        setenv(name.c_str(), value.c_str(), 1);
    }
    void Unset(const std::string& name) {
        Remember(name);
        unsetenv(name.c_str());
    }

private:
    void Remember(const std::string& name) {
        if (earlier_.contains(name)) return;
        const char* before = std::getenv(name.c_str());
        earlier_[name] = before ? std::optional<std::string>(before) : std::nullopt;
    }

    std::map<std::string, std::optional<std::string>> earlier_;
};

}  // namespace trp::test
