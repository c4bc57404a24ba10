#pragma once

#include "ReadRequest.h"
#include "SerialLine.h"
#include "SimulatedReadings.h"

#include <boost/asio/io_context.hpp>

#include <chrono>
#include <cstdint>
#include <functional>

// Sends the meter's poll (Read Input Registers 0 to 20) to `station` and
// counts the bytes that come back within `wait`, up to a whole answer.
inline std::size_t AnswerBytes(boost::asio::io_context& io, SerialLine& line, std::uint8_t station,
                               std::chrono::milliseconds wait) {
    const ReadRequestFrame poll = ReadRequest{station, 0, 21}.Frame();
    line.Write(poll.data(), poll.size());
    std::size_t received = 0;
    std::function<void()> read_more = [&] {
        line.ReadSome([&](const boost::system::error_code& error, unsigned char*, std::size_t len) {
            received += len;
            if (!error && received < static_cast<std::size_t>(SimulatedReadings::kBlockLength))
                read_more();
            else
                io.stop();
        });
    };
    read_more();
    io.restart();
    io.run_for(wait);
    return received;
}
