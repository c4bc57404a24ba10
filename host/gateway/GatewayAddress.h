#pragma once

#include <optional>
#include <string>

// A serial-to-network gateway's address as --port takes it:
// "tcp:HOST:PORT", the host a name, an IPv4 address or an IPv6 address in
// brackets ("tcp:[::1]:4001").
struct GatewayAddress {
    static constexpr const char* kScheme = "tcp:";

    std::string host;
    std::string port;

    // Whether the text names a gateway at all (starts with "tcp:").
    static bool Names(const std::string& text);
    // Throws std::invalid_argument, with the reason, for a text that starts
    // with "tcp:" but lacks a host or a port from 1 to 65535.
    static GatewayAddress Parse(const std::string& text);

    std::string Text() const;
};
