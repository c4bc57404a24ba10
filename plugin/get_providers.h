#pragma once

#include "Provider.h"

#include <memory>
#include <vector>

#if defined(__clang__)
#pragma clang diagnostic push
#pragma clang diagnostic ignored "-Wreturn-type-c-linkage"
#endif

// The library's one entry point, looked up by the host under this plain
// name: every call returns a new vector holding one new meter provider.
extern "C" std::vector<std::shared_ptr<Provider>> get_providers();

#if defined(__clang__)
#pragma clang diagnostic pop
#endif
