// A file that cannot be read, parsed or written: the message names the file
// and what is wrong with it.
#pragma once

#include <stdexcept>
#include <string>

namespace kestrane {

class FileError : public std::runtime_error {
public:
    FileError(std::string path, const std::string& what)
        : std::runtime_error(path + ": " + what), path_(std::move(path)) {}
    const std::string& path() const { return path_; }

private:
    std::string path_;
};

}  // namespace kestrane
