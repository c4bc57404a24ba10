#pragma once

#include <streambuf>

// A stream buffer that takes every character and keeps none. The device
// writes a line on standard output every round; a fuzzer running hundreds of
// thousands of rounds a second points std::cout here instead. Unlike a
// buffer-less std::streambuf it reports success, so the stream never goes bad.
class NullStreamBuffer : public std::streambuf {
protected:
    int_type overflow(int_type character) override { return traits_type::not_eof(character); }
    std::streamsize xsputn(const char_type*, std::streamsize count) override { return count; }
};
