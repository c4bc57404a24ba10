#include "PluginTraceCapture.h"

#include <iostream>
#include <utility>

PluginTraceCapture::PluginTraceCapture() : original_(std::cout.rdbuf(this)) {}

PluginTraceCapture::~PluginTraceCapture() {
    std::cout.rdbuf(original_);
}

std::vector<std::string> PluginTraceCapture::TakeLines() {
    return std::exchange(lines_, {});
}

PluginTraceCapture::int_type PluginTraceCapture::overflow(int_type c) {
    if (!traits_type::eq_int_type(c, traits_type::eof()))
        Put(traits_type::to_char_type(c));
    return traits_type::not_eof(c);
}

std::streamsize PluginTraceCapture::xsputn(const char* text, std::streamsize count) {
    for (std::streamsize i = 0; i < count; ++i)
        Put(text[i]);
    return count;
}

void PluginTraceCapture::Put(char c) {
    if (c != '\n') {
        partial_ += c;
        return;
    }
    lines_.push_back(std::move(partial_));
    partial_.clear();
}
