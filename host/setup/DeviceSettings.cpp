#include "DeviceSettings.h"

#include "BenchError.h"
#include "SerialDeviceSettings.h"
#include "StationAddress.h"
#include "StopRequested.h"
#include "StopSignals.h"

#include <boost/algorithm/string/trim.hpp>
#include <json/reader.h>
#include <json/writer.h>
#include <fcntl.h>
#include <poll.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <cstring>
#include <limits>
#include <memory>
#include <sstream>

namespace {

// JsonCpp reports "* Line 3, Column 5\n  Missing ',' or '}' in object
// declaration\n" for each error; the first error, on one line, is enough.
std::string FirstParseError(const std::string& errors) {
    std::istringstream lines(errors);
    std::string where;
    std::string what;
    std::getline(lines, where);
    std::getline(lines, what);
    boost::algorithm::trim(where);
    boost::algorithm::trim(what);
    if (where.rfind("* ", 0) == 0)
        where.erase(0, 2);
    return what.empty() ? where : where + ": " + what;
}

// No settings need more; JsonCpp's own limit, named here so the message
// can say it.
constexpr int kDeepestNesting = 1000;

[[noreturn]] void Fail(const std::string& path, const std::string& reason) {
    throw BenchError(ExitCode::kSettings, "settings file " + path + ": " + reason);
}

// A directory opens as an empty stream and a device may never end, so only
// a file or a pipe is read.
void CheckReadableKind(const std::string& path, const struct stat& status) {
    if (S_ISDIR(status.st_mode))
        Fail(path, "it is a directory, not a file");
    if (!S_ISREG(status.st_mode) && !S_ISFIFO(status.st_mode))
        Fail(path, "not a regular file");
}

struct Descriptor {
    explicit Descriptor(int opened) : fd(opened) {}
    ~Descriptor() {
        if (fd >= 0)
            ::close(fd);
    }
    Descriptor(const Descriptor&) = delete;
    Descriptor& operator=(const Descriptor&) = delete;
    int fd;
};

// The whole file. A pipe is opened without waiting for a writer and read as
// its writer sends, each wait watching for a stop signal as well: a pipe
// nobody writes to, or a slow writer, must not keep a stop from ending the
// bench host.
std::string ReadText(const std::string& path) {
    struct stat status {};
    if (::stat(path.c_str(), &status) != 0)
        Fail(path, std::strerror(errno));
    CheckReadableKind(path, status);
    const Descriptor file(::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC));
    if (file.fd < 0)
        Fail(path, std::strerror(errno));
    if (::fstat(file.fd, &status) != 0)
        Fail(path, std::strerror(errno));
    CheckReadableKind(path, status);  // the file opened may not be the one looked at
    const bool pipe = S_ISFIFO(status.st_mode);

    std::string text;
    char chunk[4096];
    for (;;) {
        if (pipe && !StopSignals::WaitFor(file.fd, POLLIN))
            throw StopRequested("while reading settings file " + path);
        const ssize_t count = ::read(file.fd, chunk, sizeof chunk);
        if (count > 0)
            text.append(chunk, static_cast<std::size_t>(count));
        else if (count == 0)
            return text;
        else if (errno != EINTR && errno != EAGAIN)
            Fail(path, std::strerror(errno));
    }
}

// The framework passes over a station it cannot use and leaves the driver's
// own: a mistyped address would then poll another meter without a word.
void CheckStation(const std::string& path, const Json::Value& tree) {
    // A station given as null is a station left out by mistake, not the
    // driver's own station 1.
    if (!tree.isMember(SerialDeviceSettings::kStationKey) || SerialDeviceSettings::StationIn(tree))
        return;
    const Json::Value& station = tree[SerialDeviceSettings::kStationKey];
    Json::StreamWriterBuilder writer;
    writer["indentation"] = "";
    Fail(path, std::string("\"") + SerialDeviceSettings::kStationKey +
                   "\" must be a whole number from " +
                   std::to_string(StationAddress::kLowest) + " to " +
                   std::to_string(StationAddress::kHighest) + ", not " +
                   Json::writeString(writer, station));
}

}  // namespace

DeviceSettings DeviceSettings::Load(const std::string& path) {
    const std::string text = ReadText(path);

    DeviceSettings settings;
    Json::CharReaderBuilder builder;
    builder["collectComments"] = false;
    // Text after the settings object is a mistake (two objects, a stray
    // brace), not something to drop without a word.
    builder["failIfExtra"] = true;
    builder["stackLimit"] = kDeepestNesting;
    std::string errors;
    try {
        const std::unique_ptr<Json::CharReader> reader(builder.newCharReader());
        if (!reader->parse(text.data(), text.data() + text.size(), &settings.tree_, &errors))
            Fail(path, FirstParseError(errors));
    } catch (const Json::Exception& failure) {  // what JsonCpp throws: nested past the limit
        Fail(path, "nested deeper than " + std::to_string(kDeepestNesting) + " levels (" +
                       failure.what() + ")");
    }

    const Json::Value& tree = settings.tree_;
    if (!tree.isObject())
        Fail(path, "the settings must be a JSON object");
    const Json::Value& data_id = tree["dataId"];
    if (data_id.isNull())
        Fail(path, "\"dataId\" is missing (the device's data id, a number)");
    if (!data_id.isUInt())
        Fail(path, "\"dataId\" must be a whole number from 0 to " +
                       std::to_string(std::numeric_limits<std::uint32_t>::max()));
    settings.data_id_ = data_id.asUInt();
    CheckStation(path, tree);
    return settings;
}
