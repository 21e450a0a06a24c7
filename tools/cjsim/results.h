// The results of a run in files: JSON with everything, CSV with the summary table, and an SVG
// timeline of the jobs on the controller (docs/simulator.md gives their shapes).
#pragma once

#include <iosfwd>
#include <string>

#include "simulator.h"

namespace cjsim {

void WriteJson(const SimResult& result, std::ostream& out);
void WriteCsv(const SimResult& result, std::ostream& out);
void WriteTimeline(const SimResult& result, std::ostream& out);

// Writes one of the above to path. False with error "cannot write 'PATH': reason" when the
// file cannot be created or written to the end.
bool WriteResultFile(const std::string& path, const SimResult& result,
                     void (*writer)(const SimResult&, std::ostream&), std::string& error);

}  // namespace cjsim
