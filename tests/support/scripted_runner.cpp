#include "scripted_runner.h"

#include <algorithm>
#include <stdexcept>

namespace zelk {

namespace {

bool starts_with(const std::vector<std::string>& args, const std::vector<std::string>& prefix) {
  return prefix.size() <= args.size() && std::equal(prefix.begin(), prefix.end(), args.begin());
}

std::string join_line(const RecordedRun& run) {
  std::string line = run.attached ? "attached: " + run.program : run.program;
  for (const std::string& arg : run.args) line += " " + arg;
  return line;
}

}  // namespace

void ScriptedRunner::on(std::string program, std::vector<std::string> prefix, Reply reply) {
  std::lock_guard lock(mutex_);
  // Newest standing rule first, but after every once-rule, which answer before any of them.
  auto first_standing = std::find_if(rules_.begin(), rules_.end(), [](const Rule& r) { return !r.once; });
  rules_.insert(first_standing, Rule{std::move(program), std::move(prefix), std::move(reply), false});
}

void ScriptedRunner::once(std::string program, std::vector<std::string> prefix, Reply reply) {
  std::lock_guard lock(mutex_);
  // Once-rules sit before every standing rule, in the order they were given.
  auto first_standing = std::find_if(rules_.begin(), rules_.end(), [](const Rule& r) { return !r.once; });
  rules_.insert(first_standing, Rule{std::move(program), std::move(prefix), std::move(reply), true});
}

std::vector<RecordedRun> ScriptedRunner::runs() const {
  std::lock_guard lock(mutex_);
  return runs_;
}

std::vector<std::string> ScriptedRunner::run_lines() const {
  std::vector<std::string> lines;
  for (const RecordedRun& run : runs()) lines.push_back(join_line(run));
  return lines;
}

ScriptedRunner::Reply ScriptedRunner::answer(const std::string& program,
                                             const std::vector<std::string>& args) const {
  for (auto rule = rules_.begin(); rule != rules_.end(); ++rule) {
    if (rule->program != program || !starts_with(args, rule->prefix)) continue;
    Reply reply = rule->reply;
    if (rule->once) rules_.erase(rule);
    return reply;
  }
  RecordedRun unexpected{program, args, false, {}, AttachMode::Output, {}};
  return std::unexpected(RunError::os("unexpected run: " + join_line(unexpected)));
}

void ScriptedRunner::hold(std::string program, std::vector<std::string> prefix) {
  std::lock_guard lock(mutex_);
  held_.emplace_back(std::move(program), std::move(prefix));
}

void ScriptedRunner::release_held() {
  {
    std::lock_guard lock(mutex_);
    released_held_ = true;
  }
  released_.notify_all();
}

std::size_t ScriptedRunner::held_runs() const {
  std::lock_guard lock(mutex_);
  return waiting_;
}

std::expected<RunOutput, RunError> ScriptedRunner::run_captured(const std::string& program,
                                                                const std::vector<std::string>& args,
                                                                std::chrono::nanoseconds limit) const {
  if (throws) throw std::runtime_error(*throws);
  std::unique_lock lock(mutex_);
  runs_.push_back(RecordedRun{program, args, false, {}, AttachMode::Output, limit});
  const bool slow = std::any_of(held_.begin(), held_.end(), [&](const auto& held) {
    return held.first == program && starts_with(args, held.second);
  });
  if (slow) {
    ++waiting_;
    released_.wait(lock, [this] { return released_held_; });
    --waiting_;
  }
  return answer(program, args);
}

std::expected<AttachedRun, RunError> ScriptedRunner::run_attached(const std::string& program,
                                                                 const std::vector<std::string>& args,
                                                                 const EnvPairs& environment, AttachMode mode) const {
  if (throws) throw std::runtime_error(*throws);
  std::lock_guard lock(mutex_);
  runs_.push_back(RecordedRun{program, args, true, environment, mode, {}});
  Reply reply = answer(program, args);
  if (!reply) return std::unexpected(reply.error());
  if (!keeps_output) return AttachedRun{reply->exit_code, std::nullopt};
  return AttachedRun{reply->exit_code, reply->stdout_text + reply->stderr_text};
}

}  // namespace zelk
