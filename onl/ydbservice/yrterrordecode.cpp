// CRTErrorDecoder: the table of UPP error responses, their texts and engineering-system codes.
#include "onl/ydbservice/yrterrordecode.h"

#include "co/co_trace.h"

namespace {
constexpr uint32_t kUnknownResponse = 48;
}  // namespace

// UPP response | engineering-system code | trace text. A list of macro rows rather than an array,
// so that each text stays its own literal format and the silent trace keeps it readable.
#define UPP_ERROR_RESPONSES(ROW)                                                              \
    ROW(1, 88, "response from UPP: 'resource problem'")                                       \
    ROW(2, 89, "response from UPP: 'unknown service type'")                                   \
    ROW(3, 90, "response from UPP: 'unknown job Id'")                                         \
    ROW(4, 91, "response from UPP: 'unknown syntax for service'")                             \
    ROW(5, 92, "response from UPP: 'object doesn't exist'")                                   \
    ROW(6, 93, "response from UPP: 'command failed'")                                         \
    ROW(7, 94, "response from UPP : 'conversion of a unit failed'")                           \
    ROW(8, 95, "response from UPP: 'command not possible in current state'")                  \
    ROW(10, 96, "response from UPP: 'component locked by another service'")                   \
    ROW(11, 97, "response from UPP: 'command aborted (unit changed)'")                        \
    ROW(12, 88, "response from UPP: 'unable to save data (ressource problem)'")               \
    ROW(13, 116, "response from UPP: 'device limits (for jobs, tasks, units, ...) exceeded'") \
    ROW(14, 117, "response from UPP: 'STOP needed for activating of this changes'")           \
    ROW(15, 118, "response from UPP: 'command timed out - try it again'")                     \
    ROW(16, 143, "response from UPP: 'system overload'")                                      \
    ROW(17, 151, "response from UPP: 'job limit'")                                            \
    ROW(18, 152, "response from UPP: 'no test mode'")                                         \
    ROW(22, 47, "response from UPP: 'task does not exist'")                                   \
    ROW(55, 98, "response from UPP: 'fatal error'")                                           \
    ROW(67, 177, "response from UPP: 'too much tasks to change in RUN'")                      \
    ROW(68, 178, "response from UPP: 'too much units to change in RUN'")

// One case of the switch below per row, tracing through its record `trace`.
#define UPP_ERROR_CASE(response, code, text) \
    case response:                           \
        CO_TRACE(trace, TRACE_ERROR, text);  \
        return code;

uint32_t CRTErrorDecoder::mapUPPErrorOnESError(int32_t uppResponse) noexcept {
    CO_TRACE_SCOPE(trace, "onl/ydbservice/yrterrordecode", "CRTErrorDecoder::mapUPPErrorOnESError");
    switch (uppResponse) {
        UPP_ERROR_RESPONSES(UPP_ERROR_CASE)
        case 0:
            return 0;
        default:
            CO_TRACE(trace, TRACE_ERROR, "unknown error response from target");
            CO_TRACE(trace, TRACE_WARNING, "possible new enum value defined in uppdebtypes: %d",
                     uppResponse);
            return kUnknownResponse;
    }
}

#undef UPP_ERROR_CASE
#undef UPP_ERROR_RESPONSES
