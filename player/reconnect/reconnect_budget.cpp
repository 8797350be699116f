#include "reconnect/reconnect_budget.h"

BudgetStep ReconnectBudget::on_drop(std::int64_t now_ms) {
    if (episode_open_ && audio_flowing_ && now_ms - audio_since_ms_ >= kHealedAfterMs)
        episode_open_ = false;
    audio_flowing_ = false;
    deadline_ms_ = now_ms + kDropDeadlineMs;
    if (!episode_open_) {
        if (episodes_ == kDropsPerHour && now_ms - episode_starts_[0] < kHourMs)
            return BudgetStep{true, 0, true};
        if (episodes_ == kDropsPerHour) {
            for (int i = 1; i < kDropsPerHour; ++i)
                episode_starts_[i - 1] = episode_starts_[i];
            --episodes_;
        }
        episode_starts_[episodes_++] = now_ms;
        episode_open_ = true;
        attempts_ = 0;
    }
    return next_attempt(now_ms);
}

BudgetStep ReconnectBudget::on_attempt_failed(std::int64_t now_ms) {
    return next_attempt(now_ms);
}

void ReconnectBudget::on_audio(std::int64_t now_ms) {
    audio_flowing_ = true;
    audio_since_ms_ = now_ms;
}

std::int64_t ReconnectBudget::connection_limit_ms(std::int64_t now_ms) const {
    const std::int64_t left = deadline_ms_ - now_ms;
    return left < kConnectionLimitMs ? left : kConnectionLimitMs;
}

BudgetStep ReconnectBudget::next_attempt(std::int64_t now_ms) {
    if (attempts_ >= kAttemptsPerDrop)
        return BudgetStep{true, 0};
    const std::int64_t wait = kFirstWaitMs << attempts_;
    // An attempt that could not even begin before the deadline is no attempt.
    if (now_ms + wait >= deadline_ms_)
        return BudgetStep{true, 0};
    ++attempts_;
    return BudgetStep{false, wait};
}
