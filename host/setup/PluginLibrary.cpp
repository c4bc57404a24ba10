#include "PluginLibrary.h"

#include "BenchError.h"
#include "ElfFileCheck.h"
#include "SMDSPDevice.h"
#include "SMDSPDeviceProvider.h"
#include "get_providers.h"

#include <dlfcn.h>

namespace {

using GetProviders = decltype(&get_providers);

const SMDSPDeviceProvider* SerialProvider(const std::vector<std::shared_ptr<Provider>>& providers) {
    for (const std::shared_ptr<Provider>& provider : providers)
        if (const auto* serial = dynamic_cast<const SMDSPDeviceProvider*>(provider.get()))
            return serial;
    return nullptr;
}

// dlopen searches the library path for a name without a slash; every other
// path the bench host takes is relative to the working directory, and so is
// this one.
std::string FromWorkingDirectory(const std::string& path) {
    return path.find('/') == std::string::npos ? "./" + path : path;
}

}  // namespace

PluginLibrary::PluginLibrary(const std::string& path) : path_(path) {
    const std::string file = FromWorkingDirectory(path);
    const std::string problem = ElfFileCheck::Problem(file);
    if (!problem.empty())
        throw BenchError(ExitCode::kPlugin, "cannot load plug-in: " + path + ": " + problem);
    handle_ = dlopen(file.c_str(), RTLD_NOW | RTLD_LOCAL);
    if (handle_ == nullptr)
        throw BenchError(ExitCode::kPlugin, "cannot load plug-in: " + std::string(dlerror()));

    const auto entry = reinterpret_cast<GetProviders>(dlsym(handle_, "get_providers"));
    if (entry == nullptr) {
        const std::string reason = dlerror();
        dlclose(handle_);
        throw BenchError(ExitCode::kPlugin, "cannot use plug-in " + path + ": " + reason);
    }
    providers_ = entry();
    if (SerialProvider(providers_) == nullptr) {
        providers_.clear();
        dlclose(handle_);
        throw BenchError(ExitCode::kPlugin,
                         "cannot use plug-in " + path + ": it offers no serial device provider");
    }
}

PluginLibrary::~PluginLibrary() {
    providers_.clear();
    dlclose(handle_);
}

std::unique_ptr<SMDSPDevice> PluginLibrary::CreateMeter() const {
    return std::unique_ptr<SMDSPDevice>(SerialProvider(providers_)->create());
}
