// The plug-in as the bench host loads it: a cut file refused in one line
// instead of a crash, a bare name taken from the working directory.
#include "BenchHostTest.h"
#include "FileBytes.h"

#include <gtest/gtest.h>

#include <cstddef>
#include <filesystem>
#include <string>

namespace {

class PluginLoadingTest : public BenchHostTest {
protected:
    PluginLoadingTest() : BenchHostTest({"--interval", "0"}) {}
};

TEST_F(PluginLoadingTest, ATruncatedPluginIsReportedInsteadOfCrashingTheHost) {
    const std::string whole = FileBytes(QVT7702_PLUGIN);
    for (const std::size_t length : {whole.size() / 20, whole.size() / 2, whole.size() - 1}) {
        WriteFileBytes(scratch.File("cut.so"), whole.substr(0, length));
        ExpectRefused({{"--plugin", "cut.so", "--rounds", "1"}, 4,
                       "bench_host: cannot load plug-in: cut.so: truncated"});
    }
}

TEST_F(PluginLoadingTest, APluginNameWithoutASlashIsAFileInTheWorkingDirectory) {
    std::filesystem::copy_file(QVT7702_PLUGIN, scratch.File("qvt7702.so"));
    EXPECT_EQ(RunHost({"--plugin", "qvt7702.so", "--rounds", "1"}), 0) << err;
    EXPECT_NE(out.find("meter from qvt7702.so, data id 1201"), std::string::npos) << out;
    std::filesystem::remove(History());

    // Found on the library path, but not here.
    ExpectRefused({{"--plugin", "libm.so.6", "--rounds", "1"}, 4,
                   "cannot load plug-in: libm.so.6: No such file or directory"});
}

}  // namespace
