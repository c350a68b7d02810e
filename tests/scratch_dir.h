// A test fixture that works in a directory of its own, removed afterwards.
#ifndef TESTS_SCRATCH_DIR_H
#define TESTS_SCRATCH_DIR_H

#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>

class ScratchDirTest : public ::testing::Test {
protected:
    void SetUp() override {
        const auto* test = ::testing::UnitTest::GetInstance()->current_test_info();
        dir_ = std::filesystem::temp_directory_path() / ("ini_test_" + std::to_string(::getpid()) + "_" +
                                                         test->test_suite_name() + "_" + test->name());
        std::filesystem::create_directories(dir_);
    }
    void TearDown() override { std::filesystem::remove_all(dir_); }

    // The path of `name` in the directory (an absolute `name` stands as it is).
    std::string path(const std::string& name) const { return (dir_ / name).string(); }

    // Writes `text` to `name` and returns its path.
    std::string put(const std::string& name, const std::string& text) const {
        std::ofstream(path(name), std::ios::binary) << text;
        return path(name);
    }

    // What `name` holds; empty when it cannot be read.
    std::string contents(const std::string& name) const {
        std::ifstream in(path(name), std::ios::binary);
        std::ostringstream out;
        out << in.rdbuf();
        return out.str();
    }

    std::filesystem::path dir_;
};

#endif  // TESTS_SCRATCH_DIR_H
