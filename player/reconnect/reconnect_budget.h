// How long a live station is given to come back after a drop, decided
// without any clock or GStreamer of its own: the caller passes the time (in
// milliseconds of a monotonic clock) and does what the answer says.
//
// A drop opens an episode. Within it at most kAttemptsPerDrop reconnections
// are made, the n-th after a wait of 1 s << (n-1); each connection gets at
// most kConnectionLimitMs to bring audio; no attempt runs past
// kDropDeadlineMs after the latest drop. The episode heals once audio has
// flowed for kHealedAfterMs: a station that comes back only to drop again
// at once keeps using up the same attempts, so flapping ends. At most
// kDropsPerHour episodes are opened in any hour; the next drop ends the run.
#pragma once

#include <cstdint>

inline constexpr int kAttemptsPerDrop = 4;
inline constexpr std::int64_t kFirstWaitMs = 1000;
inline constexpr std::int64_t kConnectionLimitMs = 8000;
inline constexpr std::int64_t kDropDeadlineMs = 30000;
inline constexpr std::int64_t kHealedAfterMs = 30000;
inline constexpr int kDropsPerHour = 10;
inline constexpr std::int64_t kHourMs = 3600000;

struct BudgetStep {
    bool give_up = false;
    std::int64_t wait_ms = 0;    // before the next attempt, when not giving up
    bool too_many_drops = false; // given up on the drops of the last hour
};

class ReconnectBudget {
  public:
    // The stream dropped (while playing, or right after a reconnection).
    BudgetStep on_drop(std::int64_t now_ms);
    // The attempt begun at the last step brought no audio.
    BudgetStep on_attempt_failed(std::int64_t now_ms);
    // Audio flows again.
    void on_audio(std::int64_t now_ms);
    // How long an attempt starting now may wait for audio.
    std::int64_t connection_limit_ms(std::int64_t now_ms) const;

  private:
    BudgetStep next_attempt(std::int64_t now_ms);

    bool episode_open_ = false;
    int attempts_ = 0;
    std::int64_t deadline_ms_ = 0;
    bool audio_flowing_ = false;
    std::int64_t audio_since_ms_ = 0;
    // Start times of the latest episodes, oldest first.
    std::int64_t episode_starts_[kDropsPerHour] = {};
    int episodes_ = 0;
};
