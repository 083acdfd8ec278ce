#pragma once
// A stand-in for the readiness probe of an app that answers late, for tests of reads that
// probe many apps side by side. Each call stays under way until `wanted` calls are under way
// at the same moment, which only a read that probes side by side brings about; a read that
// probes one app after another would wait forever, so a call gives up after a generous bound
// and the test sees that the calls never met. It counts the most calls ever under way at once.

#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <mutex>
#include <optional>
#include <string_view>

namespace zelk {

class ProbesInFlight {
 public:
  using Answer = std::function<std::optional<std::uint16_t>(std::uint16_t port, std::string_view path)>;

  /// `answer` gives each call's result once it may end. With a `linger`, every call also stays
  /// under way that long after the calls met, unless more than `wanted` calls come, so that a
  /// read that starts too many probes at once is caught at it.
  ProbesInFlight(std::size_t wanted, Answer answer,
                 std::chrono::milliseconds linger = std::chrono::milliseconds::zero());
  ProbesInFlight(const ProbesInFlight&) = delete;
  ProbesInFlight& operator=(const ProbesInFlight&) = delete;

  /// The probe itself; may be called from any thread.
  std::optional<std::uint16_t> operator()(std::uint16_t port, std::string_view path);

  /// Whether `wanted` calls were ever under way at once.
  bool met() const;
  /// The most calls that were ever under way at once.
  std::size_t most_at_once() const;

 private:
  const std::size_t wanted_;
  const Answer answer_;
  const std::chrono::milliseconds linger_;
  mutable std::mutex mutex_;
  std::condition_variable changed_;
  std::size_t under_way_ = 0;
  std::size_t most_ = 0;
  bool met_ = false;
  bool gave_up_ = false;
};

}  // namespace zelk
