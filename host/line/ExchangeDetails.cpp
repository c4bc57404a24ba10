#include "ExchangeDetails.h"

#include "Exchange.h"
#include "HexText.h"

std::vector<std::string> ExchangeDetails(const Exchange* exchange,
                                         const std::vector<std::string>& notes,
                                         const std::vector<std::string>& plugin_lines) {
    std::vector<std::string> details;
    if (exchange) {
        const std::vector<unsigned char>& request = exchange->Request();
        const std::vector<unsigned char>& answer = exchange->Answer();
        details.push_back("-> " + HexText(request.data(), request.size()));
        if (!answer.empty())
            details.push_back("<- " + std::to_string(answer.size()) + " bytes in " +
                              std::to_string(exchange->Chunks()) +
                              " chunks: " + HexText(answer.data(), answer.size()));
    }
    details.insert(details.end(), notes.begin(), notes.end());
    for (const std::string& line : plugin_lines)
        details.push_back("plug-in: " + line);
    return details;
}
