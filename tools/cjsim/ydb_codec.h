// The simulator's own encoding of the two debug-service messages its YDB clients exchange with
// the component: a cyclic-read request and a values response of pair-addressed 32-bit variables.
// A client speaks the protocol itself; it shares no code with the component it checks.
#pragma once

#include <cstdint>
#include <vector>

#include "ydb_data.h"

namespace cjsim {

constexpr uint16_t kYdbCmdVarService = 0xC101;
constexpr uint32_t kYdbServiceCyclicRead = 2;
constexpr uint32_t kYdbServiceValues = 11;

struct YdbVariable {
    uint32_t addrA = 0;   // unit << 16 | area
    uint32_t addrB = 0;   // type << 16 | element
    uint32_t value = 0;   // travels in a response only
    uint32_t result = 0;  // access result; travels in a response only
};

struct YdbMessage {
    bool response = false;  // request: cyclic read; response: values
    uint32_t cycle = 0;     // job description of a request
    std::vector<YdbVariable> variables;
};

// The record framing as a reader finds it in front of the message.
struct YdbRecordFrame {
    uint16_t dataHeader[4] = {};
    uint16_t cmd = 0;
    uint16_t subCmd = 0;
    uint32_t length = 0;
};

// Appends a record header {cmd, subCmd, length 0} and the message at the object's position.
// False when a call on the data object failed.
bool EncodeYdbRecord(IYDB_Data* data, uint16_t cmd, uint16_t subCmd, const YdbMessage& message);

// Reads the data header, the record header and the message from the object's position. False
// when a call failed or the message is neither a cyclic-read request nor a values response of
// pair-addressed 32-bit variables.
bool DecodeYdbRecord(IYDB_Data* data, YdbRecordFrame& frame, YdbMessage& message);

}  // namespace cjsim
