#include "LateWatch.h"

#include <utility>

void LateWatch::Start(std::size_t meter, Clock::time_point request_end) {
    watch_ = Watch{meter, request_end, 0, {}, {}};
}

void LateWatch::Bytes(std::size_t len, Clock::time_point at) {
    if (!watch_)
        return;
    if (watch_->bytes == 0)
        watch_->first_at = at;
    watch_->bytes += len;
    watch_->last_at = at;
}

std::optional<LateWatch::Heard> LateWatch::Settle() {
    const std::optional<Watch> watch = std::exchange(watch_, std::nullopt);
    if (!watch || watch->bytes == 0)
        return std::nullopt;
    const auto after = [&watch](Clock::time_point at) {
        return std::chrono::duration_cast<std::chrono::milliseconds>(at - watch->request_end);
    };
    return Heard{watch->meter, watch->bytes, after(watch->first_at), after(watch->last_at)};
}
