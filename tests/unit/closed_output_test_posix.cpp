// Writes to a closed output are ignored: "zelk list | head -1" and a start piped the same way
// end as they would with the whole output read, instead of being killed by SIGPIPE part-way.
// The zelk program runs as a real process whose standard output is a pipe nobody reads any
// more, against the fake runtime found on PATH as "podman".

#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include "catalogue_fixtures.h"
#include "child_programs.h"
#include "envfile.h"
#include "files.h"
#include "platform.h"
#include "fake_runtime_calls.h"
#include "ready_listener.h"
#include "scoped_env.h"
#include "test_folder.h"

extern char** environ;

namespace zelk {
namespace {

namespace fs = std::filesystem;

struct Ended {
  bool exited = false;   // ended by itself, not by a signal
  int code = -1;         // its exit code when it did
  int signal = 0;        // the signal that ended it otherwise
  std::string errors;    // what it wrote to standard error
};

class ClosedOutput : public ::testing::Test {
 protected:
  void SetUp() override {
    fs::create_directories(bin);
    fs::create_directories(fake);
    std::error_code copied;
    fs::copy_file(helper_program("fake_podman"), bin / "podman", copied);
    ASSERT_FALSE(copied) << copied.message();
    put_file(home / "recipes" / "piped.yaml", sample_recipe("piped", "Piped", listener.port()));
    ASSERT_TRUE(write_file_atomically(fake / "state.txt", "image\tdocker.io/library/nginx:1.27.3\n"));
  }

  /// Runs zelk with its standard output going into a pipe whose reading end is already closed.
  Ended zelk_into_closed_pipe(const std::vector<std::string>& args) {
    const ScopedEnv data("ZELK_HOME", path_to_utf8(home));
    const ScopedEnv path("PATH", path_to_utf8(bin) + ":" + get_env("PATH").value_or("/usr/bin:/bin"));
    const ScopedEnv runtime("FAKE_PODMAN_DIR", path_to_utf8(fake));
    int ends[2];
    EXPECT_EQ(::pipe(ends), 0);
    ::close(ends[0]);
    const fs::path errors = root.path() / "errors.txt";

    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
    posix_spawn_file_actions_adddup2(&actions, ends[1], 1);
    posix_spawn_file_actions_addopen(&actions, 2, errors.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    std::vector<std::string> words{zelk_program()};
    words.insert(words.end(), args.begin(), args.end());
    std::vector<char*> argv;
    for (std::string& word : words) argv.push_back(word.data());
    argv.push_back(nullptr);
    pid_t pid = 0;
    const int started = ::posix_spawn(&pid, words[0].c_str(), &actions, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    ::close(ends[1]);
    EXPECT_EQ(started, 0);

    Ended ended;
    int status = 0;
    while (::waitpid(pid, &status, 0) < 0 && errno == EINTR) {
    }
    ended.exited = WIFEXITED(status);
    ended.code = ended.exited ? WEXITSTATUS(status) : -1;
    ended.signal = WIFSIGNALED(status) ? WTERMSIG(status) : 0;
    ended.errors = read_file(errors).value_or("");
    return ended;
  }

  TestFolder root;
  fs::path bin = root.path() / "bin";
  fs::path fake = root.path() / "fake";
  fs::path home = root.path() / "data";
  ReadyListener listener{fake_container_runs(fake, "torvo-piped")};  // the app's container holds its port
};

TEST_F(ClosedOutput, ListEndsWithSuccess) {
  const Ended ended = zelk_into_closed_pipe({"list"});
  EXPECT_TRUE(ended.exited) << "ended by signal " << ended.signal;
  EXPECT_EQ(ended.code, 0);
  EXPECT_EQ(ended.errors, "");
}

TEST_F(ClosedOutput, AStartGoesOnToTheEndAndLeavesItsRunningMarker) {
  const Ended ended = zelk_into_closed_pipe({"start", "piped"});
  EXPECT_TRUE(ended.exited) << "ended by signal " << ended.signal;
  EXPECT_EQ(ended.code, 0) << ended.errors;
  EXPECT_TRUE(fs::exists(running_marker_path(home, "piped")));
  EXPECT_NE(read_file(fake / "state.txt").value_or("").find("container\ttorvo-piped\trunning"), std::string::npos);
  EXPECT_EQ(listener.requests(), std::vector<std::string>{"GET / HTTP/1.1"});
}

TEST_F(ClosedOutput, AFailureIsStillReportedOnStandardError) {
  const Ended ended = zelk_into_closed_pipe({"stop", "nothing"});
  EXPECT_TRUE(ended.exited) << "ended by signal " << ended.signal;
  EXPECT_EQ(ended.code, 1);
  EXPECT_TRUE(ended.errors.starts_with("zelk: Unknown app \"nothing\". Choose: n8n, gitea, ")) << ended.errors;
}

}  // namespace
}  // namespace zelk
