#pragma once
// Helpers shared by the reader tests: scratch files in a per-test temporary
// folder and the location of the shared real-world samples.

#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <string>
#include <string_view>

namespace vz::testing {

/// A fresh folder per test, removed afterwards.
class ScratchDir {
public:
    ScratchDir() {
        const auto* info = ::testing::UnitTest::GetInstance()->current_test_info();
        std::string name = std::string(info ? info->test_suite_name() : "io") + "_" + (info ? info->name() : "x");
        for (char& c : name)
            if (c == '/') c = '_';
        static int serial = 0;
        dir_ = std::filesystem::temp_directory_path() /
               ("vz_io_" + std::to_string(::getpid()) + "_" + name + "_" + std::to_string(serial++));
        std::filesystem::remove_all(dir_);
        std::filesystem::create_directories(dir_);
    }
    ~ScratchDir() {
        std::error_code ec;
        std::filesystem::remove_all(dir_, ec);
    }
    ScratchDir(const ScratchDir&) = delete;
    ScratchDir& operator=(const ScratchDir&) = delete;

    /// Writes `bytes` to `name` inside the folder and returns its path.
    std::filesystem::path write(const std::string& name, std::string_view bytes) const {
        auto p = dir_ / name;
        std::ofstream f(p, std::ios::binary);
        f.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
        return p;
    }
    std::filesystem::path path(const std::string& name) const { return dir_ / name; }

private:
    std::filesystem::path dir_;
};

/// A file of the shared real-world samples, or empty when the folder is absent.
inline std::filesystem::path shared_data(const std::string& rel) {
#ifdef VZ_SHARED_DATA_DIR
    std::filesystem::path p = std::filesystem::path(VZ_SHARED_DATA_DIR) / rel;
    if (std::filesystem::exists(p)) return p;
#endif
    return {};
}

#define VZ_SHARED_OR_SKIP(var, rel)                                        \
    auto var = ::vz::testing::shared_data(rel);                            \
    if (var.empty()) GTEST_SKIP() << "shared sample absent: " << (rel)

/// Fixture files committed with the project.
inline std::filesystem::path fixture(const std::string& rel) {
    return std::filesystem::path(VZ_TEST_DATA_DIR) / rel;
}

}  // namespace vz::testing
