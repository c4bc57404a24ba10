#include "OutputFile.h"

#include "BenchError.h"

#include <sys/stat.h>

#include <filesystem>
#include <optional>

namespace {

constexpr const char* kLeftAsItIs = "; it is left as it is: name another file";

std::optional<struct stat> StatusOf(const std::string& path) {
    struct stat status {};
    if (::stat(path.c_str(), &status) != 0)
        return std::nullopt;
    return status;
}

// The name a path resolves to, links followed as far as they lead.
std::string Resolved(const std::string& path) {
    std::error_code ignored;
    const std::filesystem::path absolute = std::filesystem::absolute(path, ignored);
    const std::filesystem::path resolved = std::filesystem::weakly_canonical(absolute, ignored);
    return (resolved.empty() ? absolute : resolved).lexically_normal().string();
}

bool SameFile(const std::string& a, const std::string& b) {
    const std::optional<struct stat> first = StatusOf(a);
    const std::optional<struct stat> second = StatusOf(b);
    if (first && second)
        return first->st_dev == second->st_dev && first->st_ino == second->st_ino;
    if (first || second)
        return false;
    return Resolved(a) == Resolved(b);  // neither exists yet: one may become the other
}

}  // namespace

std::string OutputFile::Problem(const std::string& path, const std::vector<Kept>& kept,
                                const Kind& kind) {
    for (const Kept& file : kept) {
        if (!SameFile(path, file.path))
            continue;
        if (file.path == path)
            return "is " + file.what + kLeftAsItIs;
        return "is " + file.what + " " + file.path + " (the same file under another name)" +
               kLeftAsItIs;
    }
    const std::optional<struct stat> status = StatusOf(path);
    if (!status || S_ISDIR(status->st_mode))
        return "";
    if (!S_ISREG(status->st_mode))
        return std::string("is not a regular file") + kLeftAsItIs;
    if (status->st_size == 0 || kind.recognise(path))
        return "";
    return "holds something other than " + kind.what + kLeftAsItIs + ", or remove it first";
}

void OutputFile::Check(const std::string& option, const std::string& path,
                       const std::vector<Kept>& kept, const Kind& kind) {
    const std::string problem = Problem(path, kept, kind);
    if (!problem.empty())
        throw BenchError(ExitCode::kUsage, option + " " + path + " " + problem);
}
