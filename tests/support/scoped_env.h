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
        for (auto it = saved_.rbegin(); it != saved_.rend(); ++it) {
            if (it->second.first)
                (void)plat::setEnvironmentVariable(it->first, it->second.second);
            else
                (void)plat::unsetEnvironmentVariable(it->first);
        }
    }

    void set(const std::wstring& name, const std::wstring& value)
    {
        save(name);
        (void)plat::setEnvironmentVariable(name, value);
    }
    void unset(const std::wstring& name)
    {
        save(name);
        (void)plat::unsetEnvironmentVariable(name);
    }

private:
    void save(const std::wstring& name)
    {
        std::wstring value;
        const bool was = plat::environmentVariable(name, &value);
        saved_.push_back({name, {was, value}});
    }

    std::vector<std::pair<std::wstring, std::pair<bool, std::wstring>>> saved_;
};
