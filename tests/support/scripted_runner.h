#pragma once
// A CommandRunner that answers from a script and records every run, for tests of code that
// drives outside programs without the programs being there.

#include <chrono>
#include <condition_variable>
#include <deque>
#include <mutex>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "runner.h"

namespace zelk {

struct RecordedRun {
  std::string program;
  std::vector<std::string> args;
  bool attached = false;
  EnvPairs environment;           // attached runs only
  AttachMode mode = AttachMode::Output;  // attached runs only
  std::chrono::nanoseconds limit{0};      // captured runs only
};

class ScriptedRunner final : public CommandRunner {
 public:
  using Reply = std::expected<RunOutput, RunError>;

  /// Answers every run of `program` whose arguments start with `prefix` with `reply` (an
  /// attached run answers with the reply's exit code). Rules are tried newest first, so a
  /// later rule overrides an earlier, broader one.
  void on(std::string program, std::vector<std::string> prefix, Reply reply);

  /// Like `on`, but the reply is used once; several `once` rules for the same call answer in
  /// the order they were given, before any `on` rule.
  void once(std::string program, std::vector<std::string> prefix, Reply reply);

  /// Every run so far, in order.
  std::vector<RecordedRun> runs() const;

  /// Each run as one line: "program arg1 arg2" (attached runs prefixed with "attached: ").
  std::vector<std::string> run_lines() const;

  /// Captured runs of `program` whose arguments start with `prefix` wait, recorded, until
  /// release_held(): a slow program. Runs made after the release answer at once.
  void hold(std::string program, std::vector<std::string> prefix);
  void release_held();
  /// How many runs wait now.
  std::size_t held_runs() const;

  /// Answers attached runs as the window's hidden runner does: the reply's output and then its
  /// errors are the kept output. Otherwise the output went to the console and none is kept.
  bool keeps_output = false;
  /// When set, every run throws std::runtime_error with this text (before it is recorded).
  std::optional<std::string> throws;

  std::expected<RunOutput, RunError> run_captured(const std::string& program,
                                                  const std::vector<std::string>& args,
                                                  std::chrono::nanoseconds limit) const override;
  std::expected<AttachedRun, RunError> run_attached(const std::string& program, const std::vector<std::string>& args,
                                                    const EnvPairs& environment, AttachMode mode) const override;

  /// A successful output with the given stdout.
  static RunOutput ok(std::string out = {}) { return RunOutput{std::move(out), {}, 0}; }
  /// A failed output with the given exit code and stderr.
  static RunOutput failed(int code, std::string err = {}) { return RunOutput{{}, std::move(err), code}; }

 private:
  struct Rule {
    std::string program;
    std::vector<std::string> prefix;
    Reply reply;
    bool once = false;
  };
  Reply answer(const std::string& program, const std::vector<std::string>& args) const;

  mutable std::mutex mutex_;
  mutable std::condition_variable released_;
  mutable std::deque<Rule> rules_;
  mutable std::vector<RecordedRun> runs_;
  std::vector<std::pair<std::string, std::vector<std::string>>> held_;
  bool released_held_ = false;
  mutable std::size_t waiting_ = 0;
};

}  // namespace zelk
