#include "PendingRecord.h"

#include <utility>

void PendingRecord::Hold(Held held, Clock::duration quiet) {
    held_ = std::move(held);
    quiet_ = quiet;
    Watch();
}

void PendingRecord::Watch() {
    timer_.expires_at(last_activity_ + quiet_);
    timer_.async_wait([this](const boost::system::error_code& error) {
        if (error || !held_)
            return;
        if (Clock::now() < last_activity_ + quiet_) {
            Watch();
            return;
        }
        on_quiet_();
    });
}

std::optional<PendingRecord::Held> PendingRecord::Take() {
    std::optional<Held> held = std::exchange(held_, std::nullopt);
    timer_.cancel();
    return held;
}
