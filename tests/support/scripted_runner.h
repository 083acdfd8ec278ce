#pragma once
// A CommandRunner that answers from a script and records every run, for tests of code that
// drives outside programs without the programs being there.

#include <chrono>
#include <deque>
#include <mutex>
#include <string>
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

  std::expected<RunOutput, RunError> run_captured(const std::string& program,
                                                  const std::vector<std::string>& args,
                                                  std::chrono::nanoseconds limit) const override;
  std::expected<std::optional<std::int32_t>, RunError> run_attached(
      const std::string& program, const std::vector<std::string>& args, const EnvPairs& environment,
      AttachMode mode) const override;

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
  mutable std::deque<Rule> rules_;
  mutable std::vector<RecordedRun> runs_;
};

}  // namespace zelk
