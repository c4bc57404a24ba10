#include "ElfFileCheck.h"

#include <elf.h>
#include <link.h>
#include <sys/stat.h>

#include <cerrno>
#include <cstdint>
#include <cstring>
#include <fstream>
#include <limits>
#include <vector>

namespace {

using Header = ElfW(Ehdr);
using ProgramHeader = ElfW(Phdr);
using SectionHeader = ElfW(Shdr);

constexpr unsigned char kOwnClass = sizeof(void*) == 8 ? ELFCLASS64 : ELFCLASS32;
#if __BYTE_ORDER__ == __ORDER_LITTLE_ENDIAN__
constexpr unsigned char kOwnByteOrder = ELFDATA2LSB;
#else
constexpr unsigned char kOwnByteOrder = ELFDATA2MSB;
#endif

bool ReadAt(std::ifstream& file, std::uint64_t offset, void* into, std::size_t count) {
    file.clear();
    file.seekg(static_cast<std::streamoff>(offset));
    file.read(static_cast<char*>(into), static_cast<std::streamsize>(count));
    return static_cast<std::size_t>(file.gcount()) == count;
}

// offset + count * entry, or the largest value when that overflows.
std::uint64_t End(std::uint64_t offset, std::uint64_t count, std::uint64_t entry) {
    constexpr std::uint64_t kMax = std::numeric_limits<std::uint64_t>::max();
    if (entry != 0 && count > kMax / entry)
        return kMax;
    const std::uint64_t length = count * entry;
    return offset > kMax - length ? kMax : offset + length;
}

std::string PastTheEnd(const std::string& what, std::uint64_t end, std::uint64_t size) {
    return "truncated or damaged: " + what + " end" + (what.back() == 's' ? "" : "s") +
           " at byte " + std::to_string(end) + ", but the file has " + std::to_string(size) +
           " bytes";
}

std::string MachineName(unsigned machine) {
    switch (machine) {
        case EM_X86_64: return "x86-64";
        case EM_386: return "x86";
        case EM_MIPS: return "MIPS";
        case EM_ARM: return "ARM";
        case EM_AARCH64: return "AArch64";
        case EM_RISCV: return "RISC-V";
        case EM_PPC64: return "64-bit PowerPC";
        case EM_S390: return "S/390";
        default: return "machine " + std::to_string(machine);
    }
}

// The machine this process's own executable was built for; EM_NONE when it
// cannot be read.
unsigned OwnMachine() {
    std::ifstream self("/proc/self/exe", std::ios::binary);
    Header header{};
    if (!ReadAt(self, 0, &header, sizeof header) ||
        std::memcmp(header.e_ident, ELFMAG, SELFMAG) != 0)
        return EM_NONE;
    return header.e_machine;
}

std::string Build(unsigned char elf_class, unsigned char byte_order) {
    return std::string(elf_class == ELFCLASS32 ? "32" : "64") + "-bit " +
           (byte_order == ELFDATA2LSB ? "little" : "big") + "-endian";
}

// e_machine sits at the same place in the headers of either class, in the
// file's own byte order.
unsigned MachineOf(const unsigned char* start) {
    constexpr std::size_t kAt = EI_NIDENT + 2;  // after e_ident and e_type
    return start[EI_DATA] == ELFDATA2LSB ? start[kAt] | start[kAt + 1] << 8
                                         : start[kAt] << 8 | start[kAt + 1];
}

// A library of another class or byte order is no use to this program; the
// machine it was built for says which build it is (a controller's, say).
std::string IdentityProblem(const unsigned char* start) {
    const unsigned char elf_class = start[EI_CLASS];
    const unsigned char byte_order = start[EI_DATA];
    if ((elf_class != ELFCLASS32 && elf_class != ELFCLASS64) ||
        (byte_order != ELFDATA2LSB && byte_order != ELFDATA2MSB))
        return "damaged: its ELF identification names no known class or byte order";
    if (elf_class == kOwnClass && byte_order == kOwnByteOrder)
        return "";
    const unsigned own = OwnMachine();
    return "built for " + MachineName(MachineOf(start)) + ", a " + Build(elf_class, byte_order) +
           " library, and this program runs on " +
           (own != EM_NONE ? MachineName(own) + ", " : "") + Build(kOwnClass, kOwnByteOrder);
}

std::string HeaderProblem(const Header& header) {
    if (header.e_type != ET_DYN)
        return "not a shared library (ELF type " + std::to_string(header.e_type) + ")";
    const unsigned own = OwnMachine();
    if (own != EM_NONE && header.e_machine != own)
        return "built for " + MachineName(header.e_machine) + ", and this program runs on " +
               MachineName(own);
    return "";
}

std::string SegmentProblem(std::ifstream& file, const Header& header, std::uint64_t size) {
    if (header.e_phnum == 0 || header.e_phentsize != sizeof(ProgramHeader))
        return "damaged: no usable program header table";
    const std::uint64_t table_end = End(header.e_phoff, header.e_phnum, header.e_phentsize);
    if (table_end > size)
        return PastTheEnd("its program headers", table_end, size);

    std::vector<ProgramHeader> segments(header.e_phnum);
    if (!ReadAt(file, header.e_phoff, segments.data(), segments.size() * sizeof(ProgramHeader)))
        return "cannot read its program headers";
    bool dynamic = false;
    for (std::size_t i = 0; i < segments.size(); ++i) {
        const ProgramHeader& segment = segments[i];
        dynamic = dynamic || segment.p_type == PT_DYNAMIC;
        const std::uint64_t end = End(segment.p_offset, 1, segment.p_filesz);
        if (end > size)
            return PastTheEnd("segment " + std::to_string(i), end, size);
    }
    return dynamic ? "" : "damaged: it has no dynamic segment";
}

std::string SectionProblem(std::ifstream& file, const Header& header, std::uint64_t size) {
    if (header.e_shnum == 0)
        return "";  // no section table, or one counted elsewhere: the loader does not need it
    if (header.e_shentsize != sizeof(SectionHeader))
        return "damaged: section header entries of " + std::to_string(header.e_shentsize) +
               " bytes";
    const std::uint64_t table_end = End(header.e_shoff, header.e_shnum, header.e_shentsize);
    if (table_end > size)
        return PastTheEnd("its section headers", table_end, size);

    std::vector<SectionHeader> sections(header.e_shnum);
    if (!ReadAt(file, header.e_shoff, sections.data(), sections.size() * sizeof(SectionHeader)))
        return "cannot read its section headers";
    for (std::size_t i = 0; i < sections.size(); ++i) {
        const SectionHeader& section = sections[i];
        if (section.sh_type == SHT_NOBITS)
            continue;
        const std::uint64_t end = End(section.sh_offset, 1, section.sh_size);
        if (end > size)
            return PastTheEnd("section " + std::to_string(i), end, size);
    }
    return "";
}

}  // namespace

std::string ElfFileCheck::Problem(const std::string& path) {
    struct stat status {};
    if (::stat(path.c_str(), &status) != 0)
        return std::strerror(errno);
    if (S_ISDIR(status.st_mode))
        return "it is a directory";
    if (!S_ISREG(status.st_mode))
        return "not a regular file";
    const auto size = static_cast<std::uint64_t>(status.st_size);
    std::ifstream file(path, std::ios::binary);
    if (!file)
        return std::strerror(errno);

    unsigned char start[EI_NIDENT + 4] = {};  // e_ident, e_type, e_machine
    ReadAt(file, 0, start, sizeof start);
    if (size < SELFMAG || std::memcmp(start, ELFMAG, SELFMAG) != 0)
        return "not an ELF file (it does not start with the ELF magic number)";
    if (size < sizeof start)
        return "truncated: " + std::to_string(size) + " bytes, shorter than an ELF header";
    if (std::string problem = IdentityProblem(start); !problem.empty())
        return problem;
    if (size < sizeof(Header))
        return "truncated: " + std::to_string(size) + " bytes, shorter than an ELF header";

    Header header{};
    if (!ReadAt(file, 0, &header, sizeof header))
        return "cannot read its ELF header";
    if (std::string problem = HeaderProblem(header); !problem.empty())
        return problem;
    if (std::string problem = SegmentProblem(file, header, size); !problem.empty())
        return problem;
    return SectionProblem(file, header, size);
}
