#pragma once

#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <string>

// A directory of files a test writes, removed with it.
class TempFiles {
public:
    explicit TempFiles(const std::string& tag)
        : dir_(std::filesystem::temp_directory_path() / ("quorlix-" + tag + "-" + std::to_string(getpid())))
    {
        std::filesystem::create_directories(dir_);
    }
    ~TempFiles() { std::filesystem::remove_all(dir_, ignored_); }
    TempFiles(const TempFiles&) = delete;
    TempFiles& operator=(const TempFiles&) = delete;

    // Writes text to name (sub-directories made as needed) and gives its path.
    std::string Write(const std::string& name, const std::string& text) const
    {
        const std::filesystem::path path = dir_ / name;
        std::filesystem::create_directories(path.parent_path());
        std::ofstream(path, std::ios::binary) << text;
        return path.string();
    }
    std::string Path(const std::string& name) const { return (dir_ / name).string(); }

private:
    std::filesystem::path dir_;
    std::error_code ignored_;
};
