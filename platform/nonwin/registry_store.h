// Where the registry of this process is kept, for tools that must tell a user whether a change
// reached it (the system's registry needs no such question).
#pragma once

#include <string>

// Exported from the platform library, which keeps the one registry of the process.
#define PLATFORM_REGISTRY_API __attribute__((visibility("default")))

namespace platform_registry {

// The file PLATFORM_REGISTRY_FILE names; empty when the registry ends with the process.
PLATFORM_REGISTRY_API std::string store_path();

// Empty while every change has reached the store's file; otherwise why one has not.
PLATFORM_REGISTRY_API std::string store_problem();

}  // namespace platform_registry
