// CRTErrorDecoder: the table of UPP error responses, their texts and engineering-system codes.
#include "onl/ydbservice/yrterrordecode.h"

#include "co/co_trace.h"

namespace {
constexpr uint32_t kUnknownResponse = 48;
}  // namespace

// Each text is its own format, so that the silent trace keeps it readable.
uint32_t CRTErrorDecoder::mapUPPErrorOnESError(int32_t uppResponse) noexcept {
    CO_TRACE_SCOPE(trace, "onl/ydbservice/yrterrordecode", "CRTErrorDecoder::mapUPPErrorOnESError");
    switch (uppResponse) {
        case 0:
            return 0;
        case 1:
            CO_TRACE(trace, TRACE_ERROR, "response from UPP: 'resource problem'");
            return 88;
        case 2:
            CO_TRACE(trace, TRACE_ERROR, "response from UPP: 'unknown service type'");
            return 89;
        case 3:
            CO_TRACE(trace, TRACE_ERROR, "response from UPP: 'unknown job Id'");
            return 90;
        case 4:
            CO_TRACE(trace, TRACE_ERROR, "response from UPP: 'unknown syntax for service'");
            return 91;
        case 5:
            CO_TRACE(trace, TRACE_ERROR, "response from UPP: 'object doesn't exist'");
            return 92;
        case 6:
            CO_TRACE(trace, TRACE_ERROR, "response from UPP: 'command failed'");
            return 93;
        case 7:
            CO_TRACE(trace, TRACE_ERROR, "response from UPP : 'conversion of a unit failed'");
            return 94;
        case 8:
            CO_TRACE(trace, TRACE_ERROR,
                     "response from UPP: 'command not possible in current state'");
            return 95;
        case 10:
            CO_TRACE(trace, TRACE_ERROR,
                     "response from UPP: 'component locked by another service'");
            return 96;
        case 11:
            CO_TRACE(trace, TRACE_ERROR, "response from UPP: 'command aborted (unit changed)'");
            return 97;
        case 12:
            CO_TRACE(trace, TRACE_ERROR,
                     "response from UPP: 'unable to save data (ressource problem)'");
            return 88;
        case 13:
            CO_TRACE(trace, TRACE_ERROR,
                     "response from UPP: 'device limits (for jobs, tasks, units, ...) exceeded'");
            return 116;
        case 14:
            CO_TRACE(trace, TRACE_ERROR,
                     "response from UPP: 'STOP needed for activating of this changes'");
            return 117;
        case 15:
            CO_TRACE(trace, TRACE_ERROR, "response from UPP: 'command timed out - try it again'");
            return 118;
        case 16:
            CO_TRACE(trace, TRACE_ERROR, "response from UPP: 'system overload'");
            return 143;
        case 17:
            CO_TRACE(trace, TRACE_ERROR, "response from UPP: 'job limit'");
            return 151;
        case 18:
            CO_TRACE(trace, TRACE_ERROR, "response from UPP: 'no test mode'");
            return 152;
        case 22:
            CO_TRACE(trace, TRACE_ERROR, "response from UPP: 'task does not exist'");
            return 47;
        case 55:
            CO_TRACE(trace, TRACE_ERROR, "response from UPP: 'fatal error'");
            return 98;
        case 67:
            CO_TRACE(trace, TRACE_ERROR, "response from UPP: 'too much tasks to change in RUN'");
            return 177;
        case 68:
            CO_TRACE(trace, TRACE_ERROR, "response from UPP: 'too much units to change in RUN'");
            return 178;
        default:
            CO_TRACE(trace, TRACE_ERROR, "unknown error response from target");
            CO_TRACE(trace, TRACE_WARNING, "possible new enum value defined in uppdebtypes: %d",
                     uppResponse);
            return kUnknownResponse;
    }
}
