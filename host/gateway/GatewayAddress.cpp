#include "GatewayAddress.h"

#include <stdexcept>

bool GatewayAddress::Names(const std::string& text) {
    return text.rfind(kScheme, 0) == 0;
}

GatewayAddress GatewayAddress::Parse(const std::string& text) {
    const std::string rest = text.substr(std::string(kScheme).size());
    const std::size_t colon = rest.rfind(':');
    if (colon == std::string::npos || colon == 0)
        throw std::invalid_argument("a gateway is tcp:HOST:PORT, not '" + text + "'");
    GatewayAddress address;
    address.host = rest.substr(0, colon);
    address.port = rest.substr(colon + 1);
    if (address.host.size() > 2 && address.host.front() == '[' && address.host.back() == ']')
        address.host = address.host.substr(1, address.host.size() - 2);
    const bool digits = !address.port.empty() && address.port.size() <= 5 &&
                        address.port.find_first_not_of("0123456789") == std::string::npos;
    if (!digits || std::stoul(address.port) < 1 || std::stoul(address.port) > 65535)
        throw std::invalid_argument("the gateway's port must be a number from 1 to 65535, not '" +
                                    address.port + "'");
    return address;
}

std::string GatewayAddress::Text() const {
    const bool v6 = host.find(':') != std::string::npos;
    return std::string(kScheme) + (v6 ? "[" + host + "]" : host) + ":" + port;
}
