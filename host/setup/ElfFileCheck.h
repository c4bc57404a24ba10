#pragma once

#include <string>

// Checks a shared library's file against its own ELF headers before it is
// handed to dlopen. The dynamic loader maps what the headers describe and
// trusts them: a truncated or damaged file can crash the process inside
// dlopen (a bus error on a page past the end of the file) before it could
// report anything.
class ElfFileCheck {
public:
    // Why the file at `path` cannot be this process's shared library, as a
    // phrase ("truncated or damaged: ..."), or "" when its headers hold up:
    // the ELF magic; this process's class, byte order and machine; a shared
    // object; program and section header tables, and every segment and
    // section with contents, inside the file.
    static std::string Problem(const std::string& path);
};
