#pragma once

#include <streambuf>
#include <string>
#include <vector>

// Takes over std::cout while it lives, so that the lines a plug-in writes
// there are collected instead of landing in the middle of the bench host's
// table; the host shows them (--verbose) or drops them. The host writes its
// own output through Original(), the buffer std::cout had before.
class PluginTraceCapture : public std::streambuf {
public:
    PluginTraceCapture();
    ~PluginTraceCapture() override;
    PluginTraceCapture(const PluginTraceCapture&) = delete;
    PluginTraceCapture& operator=(const PluginTraceCapture&) = delete;

    std::streambuf* Original() const { return original_; }

    // The complete lines written since the last call, without newlines.
    std::vector<std::string> TakeLines();

protected:
    int_type overflow(int_type c) override;
    std::streamsize xsputn(const char* text, std::streamsize count) override;

private:
    void Put(char c);

    std::streambuf* original_;
    std::string partial_;
    std::vector<std::string> lines_;
};
