// Simulator scenarios from arbitrary text: the parser accepts a scenario or refuses it with a
// message naming where, and never harms the process on the way.
#include <cstddef>
#include <cstdint>
#include <sstream>
#include <string>

#include "scenario.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    std::istringstream in(std::string(reinterpret_cast<const char*>(data), size));
    cjsim::Scenario scenario;
    std::string error;
    if (!cjsim::ParseScenario(in, "fuzz", scenario, error) && error.rfind("fuzz:", 0) != 0) {
        __builtin_trap();
    }
    return 0;
}
