#pragma once

#include <streambuf>

// A stream buffer that takes every character and keeps none. Installed as
// std::cout's buffer it lets trace lines be formatted in full while nothing
// reaches a terminal or a file. Characters go through a small put area, as
// with any buffered stream, and are dropped whenever it fills.
class NullStreamBuffer : public std::streambuf {
public:
    NullStreamBuffer() { Rewind(); }

protected:
    int_type overflow(int_type c) override {
        Rewind();
        return traits_type::not_eof(c);
    }

    int sync() override {
        Rewind();
        return 0;
    }

private:
    void Rewind() { setp(area_, area_ + sizeof area_); }

    char area_[64];
};
