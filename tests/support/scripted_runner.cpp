#include "scripted_runner.h"

#include <algorithm>

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

std::expected<RunOutput, RunError> ScriptedRunner::run_captured(const std::string& program,
                                                                const std::vector<std::string>& args,
                                                                std::chrono::nanoseconds limit) const {
  std::lock_guard lock(mutex_);
  runs_.push_back(RecordedRun{program, args, false, {}, AttachMode::Output, limit});
  return answer(program, args);
}

std::expected<std::optional<std::int32_t>, RunError> ScriptedRunner::run_attached(
    const std::string& program, const std::vector<std::string>& args, const EnvPairs& environment,
    AttachMode mode) const {
  std::lock_guard lock(mutex_);
  runs_.push_back(RecordedRun{program, args, true, environment, mode, {}});
  Reply reply = answer(program, args);
  if (!reply) return std::unexpected(reply.error());
  return reply->exit_code;
}

}  // namespace zelk
