// Sets or unsets environment variables for one test and puts back what was
// there before when it ends. Only for tests that run in a process of their
// own (ctest runs each test case alone).
#pragma once
#include <string>
#include <utility>
#include <vector>

#include "platform/environment.h"
#include "platform/environment_testing.h"

class ScopedEnv {
public:
    ScopedEnv() = default;
    ScopedEnv(const ScopedEnv&) = delete;
    ScopedEnv& operator=(const ScopedEnv&) = delete;
    ~ScopedEnv()
    {
        for (auto it = saved_.rbegin(); it != saved_.rend(); ++it)
            change(it->first, it->second.first ? &it->second.second : nullptr);
    }
    void set(const std::wstring& name, const std::wstring& value) { save(name), change(name, &value); }
    void unset(const std::wstring& name) { save(name), change(name, nullptr); }

private:
    // Sets the variable to *value, or unsets it for null.
    static void change(const std::wstring& name, const std::wstring* value)
    {
        (void)(value ? plat::setEnvironmentVariable(name, *value) : plat::unsetEnvironmentVariable(name));
    }
    void save(const std::wstring& name)
    {
        std::wstring value;
        const bool was = plat::environmentVariable(name, &value);
        saved_.push_back({name, {was, value}});
    }

    std::vector<std::pair<std::wstring, std::pair<bool, std::wstring>>> saved_;
};
