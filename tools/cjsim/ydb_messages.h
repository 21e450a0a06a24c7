// The YDB clients' messages in YDB data objects: requests naming one variable per element of
// their ranges, the runs of values they hand to the component, and the answers they read back.
#pragma once

#include <cstdint>
#include <vector>

#include "platform/com_ptr.h"
#include "scenario.h"
#include "ydb_data.h"

namespace cjsim {

// Every element of the ranges as a range of one, in order.
std::vector<NameRange> Elements(const std::vector<NameRange>& ranges);

// A new data object of the YDB class, created through COM; empty when that fails.
platform::ComPtr<IYDB_Data> CreateYDBData();

// Lays down a cyclic-read request of the elements. False when a call failed.
bool WriteRequest(IYDB_Data* data, long cycle, const std::vector<NameRange>& elements);

// Lays down a values response (service type 11) of the elements behind headers carrying rt.
bool WriteValues(IYDB_Data* data, unsigned long rt, const std::vector<NameRange>& elements,
                 const std::vector<uint32_t>& values);

// Empties an output object down to the prefix in front of its data header.
bool ResetOutput(IYDB_Data* data);

// The variables of the message in data and, for a response, their values; false when the
// message cannot be read.
bool ReadVariables(IYDB_Data* data, std::vector<NameRange>& elements,
                   std::vector<uint32_t>& values);

}  // namespace cjsim
