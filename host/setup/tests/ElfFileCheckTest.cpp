// The plug-in file's ELF headers, read before the loader maps it: a cut or
// damaged file, or one built for another processor, is named for what it is.
#include "ElfFileCheck.h"
#include "FileBytes.h"
#include "ScratchDirectory.h"

#include <gtest/gtest.h>

#include <elf.h>
#include <link.h>

#include <cstddef>
#include <string>
#include <utility>
#include <vector>

namespace {

// Every cut of the real plug-in, from nothing to one byte short, is refused
// before dlopen maps it: the loader would map pages past the end of the file
// and the process would die of a bus error.
TEST(ElfFileCheckTest, EveryCutOfThePluginIsRefusedAndTheWholeOneAccepted) {
    ScratchDirectory scratch;
    const std::string whole = FileBytes(QVT7702_PLUGIN);
    ASSERT_GT(whole.size(), 4096u);
    EXPECT_EQ(ElfFileCheck::Problem(QVT7702_PLUGIN), "");

    std::vector<std::size_t> lengths = {0, 1, 4, 16, 63, 64, 65, 4095, whole.size() - 1};
    for (std::size_t step = 1; step < 64; ++step)
        lengths.push_back(whole.size() * step / 64);
    const std::string cut = scratch.File("cut.so");
    for (const std::size_t length : lengths) {
        WriteFileBytes(cut, whole.substr(0, length));
        const std::string problem = ElfFileCheck::Problem(cut);
        EXPECT_TRUE(problem.rfind("truncated", 0) == 0 || problem.rfind("not an ELF file", 0) == 0)
            << length << " bytes: '" << problem << "'";
    }
}

template <typename Field>
std::string WithField(std::string bytes, std::size_t offset, Field value) {
    bytes.replace(offset, sizeof value, reinterpret_cast<const char*>(&value), sizeof value);
    return bytes;
}

TEST(ElfFileCheckTest, DamagedHeadersAndOtherFilesAreNamed) {
    using Header = ElfW(Ehdr);
    ScratchDirectory scratch;
    const std::string whole = FileBytes(QVT7702_PLUGIN);
    const unsigned char other_class = sizeof(void*) == 8 ? ELFCLASS32 : ELFCLASS64;
    const std::string other_bits = other_class == ELFCLASS32 ? "32" : "64";
    // The controller's build: a 32-bit MIPS library, either byte order; the
    // machine field is in the file's own byte order.
    std::string mips_big = WithField(whole, EI_CLASS, static_cast<unsigned char>(ELFCLASS32));
    mips_big[EI_DATA] = ELFDATA2MSB;
    std::string mips_little = mips_big;
    mips_little[EI_DATA] = ELFDATA2LSB;
    mips_big.replace(offsetof(Header, e_machine), 2, std::string{'\0', char{EM_MIPS}});
    mips_little.replace(offsetof(Header, e_machine), 2, std::string{char{EM_MIPS}, '\0'});
    const std::vector<std::pair<std::string, std::string>> files = {
        {"text\n", "not an ELF file"},
        {WithField(whole, EI_CLASS, other_class),
         "a " + other_bits + "-bit little-endian library, and this program runs on "},
        {mips_big, "built for MIPS, a 32-bit big-endian library, and this program runs on "},
        {mips_little, "built for MIPS, a 32-bit little-endian library, and this program runs on "},
        {WithField(whole, offsetof(Header, e_type), static_cast<ElfW(Half)>(ET_EXEC)),
         "not a shared library (ELF type 2)"},
        {WithField(whole, offsetof(Header, e_machine), static_cast<ElfW(Half)>(EM_S390)),
         "built for S/390, and this program runs on "},
        {WithField(whole, offsetof(Header, e_phoff), ~static_cast<ElfW(Off)>(0) - 8),
         "truncated or damaged: its program headers end at byte "},
        {WithField(whole, offsetof(Header, e_shoff), static_cast<ElfW(Off)>(whole.size())),
         "truncated or damaged: its section headers end at byte "},
    };
    const std::string file = scratch.File("damaged.so");
    for (const auto& [bytes, message] : files) {
        WriteFileBytes(file, bytes);
        const std::string problem = ElfFileCheck::Problem(file);
        EXPECT_NE(problem.find(message), std::string::npos) << message << ": '" << problem << "'";
    }
    EXPECT_EQ(ElfFileCheck::Problem(scratch.Path()), "it is a directory");
    EXPECT_EQ(ElfFileCheck::Problem(scratch.File("absent.so")), "No such file or directory");
}

}  // namespace
