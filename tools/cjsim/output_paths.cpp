// Checking and writing the run's output files.
#include "output_paths.h"

#include <sys/stat.h>

#include <cerrno>
#include <cstdio>
#include <cstring>

namespace cjsim {

namespace {

std::string Failure(const std::string& path, int error) {
    return "cannot write '" + path + "': " + std::strerror(error);
}

}  // namespace

bool CheckOutputPath(const std::string& path, std::string& error) {
    if (path.empty()) {
        error = "an output file needs a name";
        return false;
    }
    struct stat st {};
    const bool existed = ::stat(path.c_str(), &st) == 0;
    if (existed && S_ISDIR(st.st_mode)) {
        error = "cannot write '" + path + "': it is a directory";
        return false;
    }
    // Opening for appending creates a missing file and leaves an existing one as it is.
    std::FILE* file = std::fopen(path.c_str(), "ab");
    if (file == nullptr) {
        error = Failure(path, errno);
        return false;
    }
    std::fclose(file);
    if (!existed) {
        std::remove(path.c_str());
    }
    return true;
}

bool WriteOutputFile(const std::string& path, const std::string& text, std::string& error) {
    std::FILE* file = std::fopen(path.c_str(), "wb");
    if (file == nullptr) {
        error = Failure(path, errno);
        return false;
    }
    const bool written =
        std::fwrite(text.data(), 1, text.size(), file) == text.size() && std::fflush(file) == 0;
    const int writeError = errno;
    const bool closed = std::fclose(file) == 0;
    if (!written || !closed) {
        error = Failure(path, written ? errno : writeError);
        return false;
    }
    return true;
}

}  // namespace cjsim
