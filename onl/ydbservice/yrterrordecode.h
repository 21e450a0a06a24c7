// CRTErrorDecoder: maps an error response of the target's user-program processing (UPP) to the
// engineering system's error code and traces it in words.
#pragma once

#include <cstdint>

class CRTErrorDecoder {
  public:
    // Code for a UPP response; 0 for 0 (no error), 48 for a response this version does not know.
    static uint32_t mapUPPErrorOnESError(int32_t uppResponse) noexcept;
};
