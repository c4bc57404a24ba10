#include "FrameworkSink.h"

#include <utility>

namespace {

FrameworkSink* installed = nullptr;

}  // namespace

FrameworkSink* FrameworkSink::Install(FrameworkSink* sink) {
    return std::exchange(installed, sink);
}

FrameworkSink& FrameworkSink::Current() {
    static FrameworkSink quiet;
    return installed != nullptr ? *installed : quiet;
}
