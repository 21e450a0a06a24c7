// The results of a run in files: JSON with everything, CSV with the summary table, and an SVG
// timeline of the jobs on the controller (docs/simulator.md gives their shapes).
#pragma once

#include <iosfwd>

#include "simulator.h"

namespace cjsim {

void WriteJson(const SimResult& result, std::ostream& out);
void WriteCsv(const SimResult& result, std::ostream& out);
void WriteTimeline(const SimResult& result, std::ostream& out);

}  // namespace cjsim
