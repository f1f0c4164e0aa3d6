// A fresh directory for one test, removed with everything in it at the end.
#pragma once
#include <stdlib.h>

#include <filesystem>
#include <fstream>
#include <string>

#include <gtest/gtest.h>

struct TempDir {
    TempDir()
    {
        std::string pattern = testing::TempDir() + "qorx_XXXXXX";
        if (::mkdtemp(pattern.data()) != nullptr)
            path = pattern + "/";
        EXPECT_FALSE(path.empty());
    }
    ~TempDir()
    {
        std::error_code ignored;
        std::filesystem::remove_all(path, ignored);
    }
    std::wstring wide(const std::string& name = "") const
    {
        const std::string full = path + name;
        return std::wstring(full.begin(), full.end()); // the test names are ASCII
    }
    void write(const std::string& name, const std::string& bytes) const
    {
        std::ofstream(path + name, std::ios::binary) << bytes;
    }
    std::string read(const std::string& name) const
    {
        std::ifstream in(path + name, std::ios::binary);
        return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    }
    std::string path;
};
