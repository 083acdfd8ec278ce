#include "probes_in_flight.h"

#include <algorithm>
#include <utility>

namespace zelk {

namespace {

// Far beyond the time a few threads take to start, even on a machine under heavy load.
constexpr std::chrono::seconds generous{30};

}  // namespace

ProbesInFlight::ProbesInFlight(std::size_t wanted, Answer answer, std::chrono::milliseconds linger)
    : wanted_(wanted), answer_(std::move(answer)), linger_(linger) {}

std::optional<std::uint16_t> ProbesInFlight::operator()(std::uint16_t port, std::string_view path) {
  {
    std::unique_lock lock(mutex_);
    ++under_way_;
    most_ = std::max(most_, under_way_);
    if (under_way_ >= wanted_) met_ = true;
    changed_.notify_all();
    // Once one call has waited in vain, the others do not wait again: the test has its answer.
    if (!met_ && !gave_up_ && !changed_.wait_for(lock, generous, [this] { return met_; })) gave_up_ = true;
    if (linger_ > std::chrono::milliseconds::zero()) {
      changed_.wait_for(lock, linger_, [this] { return under_way_ > wanted_; });
    }
    --under_way_;
    changed_.notify_all();
  }
  return answer_(port, path);
}

bool ProbesInFlight::met() const {
  const std::lock_guard lock(mutex_);
  return met_;
}

std::size_t ProbesInFlight::most_at_once() const {
  const std::lock_guard lock(mutex_);
  return most_;
}

}  // namespace zelk
