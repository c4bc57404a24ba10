#include "RoundBook.h"

#include "LineHints.h"
#include "PollStatistics.h"
#include "RoundTable.h"
#include "SMDSPDevice.h"

void RoundBook::Record(const ExchangeEnd& end) {
    CountForStatistics(end);
    switch (end.outcome) {
    case Outcome::kCompleted:
        ++completed_;
        hints_.AfterCompleted();
        break;
    case Outcome::kLost:
        ++lost_;
        break;
    case Outcome::kStopped:
        cut_round_ = end.round;
        break;
    }
    ShowDetails(end.details);
    const MeterLineup::Meter& meter = meters_.At(end.meter);
    if (end.decoded_but_dropped)
        holding_dropped_.insert(end.meter);
    else if (end.outcome == Outcome::kCompleted)
        holding_dropped_.erase(end.meter);
    if (holding_dropped_.count(end.meter) != 0)
        table_.WriteRowWithoutValues(std::to_string(end.round), meter.station, completed_, lost_,
                                     end.reason);
    else
        table_.WriteRow(std::to_string(end.round), meter.station, end.values, completed_, lost_,
                        end.reason);
}

void RoundBook::CacheRow(const MeterLineup::Meter& meter, const std::string& note) {
    table_.WriteRow("cache", meter.station, *meter.device, completed_, lost_, note);
}

void RoundBook::CutShort(std::size_t meter, std::uint64_t round) {
    cut_round_ = round;
    statistics_.ExchangeStopped(KeyOf(meters_.At(meter)));
}

void RoundBook::CountForStatistics(const ExchangeEnd& end) {
    const MeterKey key = KeyOf(meters_.At(end.meter));
    switch (end.outcome) {
    case Outcome::kCompleted:
        statistics_.RoundCompleted(key, end.request_end, end.answer_end);
        break;
    case Outcome::kLost:
        statistics_.RoundLost(key, end.loss_reason);
        break;
    case Outcome::kStopped:
        statistics_.ExchangeStopped(key);
        break;
    }
}

void RoundBook::ShowDetails(const std::vector<std::string>& details) {
    for (const std::string& line : details)
        out_ << "  " << line << '\n';
}
