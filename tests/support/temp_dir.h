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
    ~TempDir() { std::error_code ignored; std::filesystem::remove_all(path, ignored); }
    // The test names are ASCII.
    static std::wstring ascii(const std::string& text) { return std::wstring(text.begin(), text.end()); }
    std::wstring wide(const std::string& name = "") const { return ascii(path + name); }
    void write(const std::string& name, const std::string& bytes) const
    {
        std::ofstream(path + name, std::ios::binary) << bytes;
    }
    std::string read(const std::string& name) const
    {
        std::ifstream in(path + name, std::ios::binary);
        return std::string(std::istreambuf_iterator<char>(in), {});
    }
    std::string path;
};
