// The files a run writes (--dot and the other outputs): checked before the run, so that a bad
// path costs no run, and written whole or reported.
#pragma once

#include <string>

namespace cjsim {

// Whether a file can be written at path: its folder exists and takes files, and path is not a
// folder. An existing file is left as it is (not truncated); a new one is not left behind. On
// failure, error is a line for the user, like "cannot write 'out/x.dot': No such file or
// directory".
bool CheckOutputPath(const std::string& path, std::string& error);

// Writes text to path, replacing what was there; false with the reason when it did not all reach
// the file (a full disk, a folder removed meanwhile).
bool WriteOutputFile(const std::string& path, const std::string& text, std::string& error);

}  // namespace cjsim
