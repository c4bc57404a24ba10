#include "TerminalFraming.h"

#include <utility>

namespace {

constexpr std::pair<int, speed_t> kSpeeds[] = {
    {300, B300},       {600, B600},       {1200, B1200},     {2400, B2400},
    {4800, B4800},     {9600, B9600},     {19200, B19200},   {38400, B38400},
    {57600, B57600},   {115200, B115200}, {230400, B230400}, {460800, B460800},
    {921600, B921600},
};

std::optional<speed_t> SpeedCode(int baud) {
    for (const auto& [rate, code] : kSpeeds)
        if (rate == baud)
            return code;
    return std::nullopt;
}

int SpeedOf(speed_t code) {
    for (const auto& [rate, known] : kSpeeds)
        if (known == code)
            return rate;
    return 0;
}

}  // namespace

namespace TerminalFraming {

void Apply(termios& settings, const LineSettings& line) {
    if (const std::optional<speed_t> code = SpeedCode(line.baud))
        cfsetspeed(&settings, *code);
    settings.c_cflag &= ~(PARENB | PARODD | CSTOPB);
    settings.c_iflag &= ~(INPCK | IGNPAR);
    if (line.parity != Parity::kNone) {
        settings.c_cflag |= PARENB;
        settings.c_iflag |= INPCK;
    }
    if (line.parity == Parity::kOdd)
        settings.c_cflag |= PARODD;
    if (line.stop_bits == 2)
        settings.c_cflag |= CSTOPB;
}

LineSettings Read(const termios& settings) {
    LineSettings line;
    line.baud = SpeedOf(cfgetospeed(&settings));
    const bool parity = (settings.c_cflag & PARENB) != 0 ||
                        ((settings.c_iflag & INPCK) != 0 && (settings.c_iflag & IGNPAR) == 0);
    line.parity = !parity                              ? Parity::kNone
                  : (settings.c_cflag & PARODD) != 0 ? Parity::kOdd
                                                     : Parity::kEven;
    line.stop_bits = (settings.c_cflag & CSTOPB) != 0 ? 2 : 1;
    return line;
}

bool Hears(const LineSettings& own, const LineSettings& heard) {
    const bool speed_shown = SpeedCode(own.baud).has_value();
    return (!speed_shown || own.baud == heard.baud) && own.parity == heard.parity &&
           own.stop_bits == heard.stop_bits;
}

bool Hears(const LineSettings& own, int fd) {
    termios settings{};
    if (tcgetattr(fd, &settings) != 0)
        return true;
    return Hears(own, Read(settings));
}

}  // namespace TerminalFraming
