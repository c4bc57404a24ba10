#pragma once

#include <memory>
#include <string>
#include <vector>

class Provider;
class SMDSPDevice;

// A device-driver plug-in loaded the way the controller loads one: dlopen,
// then its exported get_providers. Meters it creates must be destroyed
// before the library is: their code lives in it.
class PluginLibrary {
public:
    // Throws BenchError (plug-in) when the file's ELF headers do not hold up
    // (before dlopen could crash on it), with the loader's own message when
    // it does not load, or when it lacks the entry point or a serial-device
    // provider. A path without a slash is relative to the working directory.
    explicit PluginLibrary(const std::string& path);
    ~PluginLibrary();
    PluginLibrary(const PluginLibrary&) = delete;
    PluginLibrary& operator=(const PluginLibrary&) = delete;

    // A new meter from the library's serial-device provider; the caller owns it.
    std::unique_ptr<SMDSPDevice> CreateMeter() const;

    const std::string& Path() const { return path_; }

private:
    std::string path_;
    void* handle_ = nullptr;
    std::vector<std::shared_ptr<Provider>> providers_;
};
