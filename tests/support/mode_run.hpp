#pragma once

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "cli/command_line.hpp"

namespace tallowmark::testing {

// What a run prints, gathered in memory.
class Printed {
public:
    Printed() : file_(open_memstream(&buffer_, &size_)) {}
    ~Printed() {
        std::fclose(file_);
        std::free(buffer_);
    }
    Printed(const Printed&) = delete;
    Printed& operator=(const Printed&) = delete;
    std::FILE* file() { return file_; }
    std::string text() {
        std::fflush(file_);
        return {buffer_, size_};
    }

private:
    char* buffer_ = nullptr;
    std::size_t size_ = 0;
    std::FILE* file_;
};

// The command-line mode table on `arguments`: the status (none: no mode applied) and what it printed.
inline std::pair<std::optional<int>, std::string> runMode(const std::vector<std::string>& arguments) {
    Printed out;
    const std::optional<int> status = runCommandLineMode(arguments, out.file());
    return {status, out.text()};
}

// HOME pointed at a test folder while it lives, so that "~" in an operand lands there.
class HomeIn {
public:
    explicit HomeIn(const std::filesystem::path& home) : saved_(std::getenv("HOME") ? std::getenv("HOME") : "") {
        setenv("HOME", home.c_str(), 1);
    }
    ~HomeIn() { setenv("HOME", saved_.c_str(), 1); }

private:
    std::string saved_;
};

}  // namespace tallowmark::testing
