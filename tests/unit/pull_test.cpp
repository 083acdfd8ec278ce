#include "pull.h"

#include <gtest/gtest.h>

#include <chrono>
#include <deque>

#include "test_context.h"
#include "test_folder.h"

namespace zelk {
namespace {

using std::chrono::milliseconds;
using std::chrono::seconds;

// ---- image references ------------------------------------------------------------------

struct SplitCase {
  std::string reference;
  std::string name;
  std::string tag;
  friend void PrintTo(const SplitCase& c, std::ostream* os) { *os << c.reference; }
};

class SplitImageReference : public ::testing::TestWithParam<SplitCase> {};

TEST_P(SplitImageReference, GivesNameAndTag) {
  const ImageReferenceParts parts = split_image_reference(GetParam().reference);
  EXPECT_EQ(parts.name, GetParam().name);
  EXPECT_EQ(parts.tag, GetParam().tag);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, SplitImageReference,
    ::testing::Values(
        SplitCase{"docker.io/n8nio/n8n:2.40.7", "docker.io/n8nio/n8n", "2.40.7"},
        SplitCase{"ollama/ollama:0.40.2", "ollama/ollama", "0.40.2"},
        SplitCase{"busybox:1.2", "busybox", "1.2"},
        SplitCase{"127.0.0.1:5000/zelk/bb", "127.0.0.1:5000/zelk/bb", "latest"},
        SplitCase{"127.0.0.1:5000/zelk/bb:1.0", "127.0.0.1:5000/zelk/bb", "1.0"},
        SplitCase{"plain", "plain", "latest"},
        SplitCase{"ghcr.io/a/b@sha256:0123abcd", "ghcr.io/a/b", "sha256:0123abcd"},
        SplitCase{"ghcr.io/a/b:1.0@sha256:ff", "ghcr.io/a/b:1.0", "sha256:ff"}));

TEST(PullRequest, IsOneHttp10PostWithNameAndTagAsTheyAre) {
  EXPECT_EQ(pull_request("docker.n8n.io/n8nio/n8n:2.40.7"),
            "POST /v1.41/images/create?fromImage=docker.n8n.io/n8nio/n8n&tag=2.40.7 HTTP/1.0\r\n"
            "Host: podman\r\nContent-Length: 0\r\n\r\n");
}

TEST(PullRequest, AReferenceCannotAddFieldsToTheQuery) {
  EXPECT_EQ(pull_request("evil/x&fromSrc=-#y:1+2%41 z"),
            "POST /v1.41/images/create?fromImage=evil/x%26fromSrc%3D-%23y&tag=1%2B2%2541%20z HTTP/1.0\r\n"
            "Host: podman\r\nContent-Length: 0\r\n\r\n");
}

TEST(PullRequest, ADigestReferenceSendsTheDigestAsTag) {
  EXPECT_EQ(pull_request("ghcr.io/x/y@sha256:abc"),
            "POST /v1.41/images/create?fromImage=ghcr.io/x/y&tag=sha256:abc HTTP/1.0\r\n"
            "Host: podman\r\nContent-Length: 0\r\n\r\n");
}

// ---- JSON fields -----------------------------------------------------------------------

struct TextFieldCase {
  std::string line;
  std::string key;
  std::optional<std::string> value;
  friend void PrintTo(const TextFieldCase& c, std::ostream* os) { *os << c.key << " in " << c.line; }
};

class JsonTextField : public ::testing::TestWithParam<TextFieldCase> {};

TEST_P(JsonTextField, FindsTheFirstQuotedValue) {
  EXPECT_EQ(json_text_field(GetParam().line, GetParam().key), GetParam().value);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, JsonTextField,
    ::testing::Values(
        TextFieldCase{R"({"status":"Downloading","id":"ab12"})", "status", "Downloading"},
        TextFieldCase{R"({"status":"Downloading","id":"ab12"})", "id", "ab12"},
        TextFieldCase{R"({"id":"first","x":{"id":"second"}})", "id", "first"},
        TextFieldCase{R"({"status": "spaced"})", "status", std::nullopt},
        TextFieldCase{R"({"status":"unclosed)", "status", std::nullopt},
        TextFieldCase{R"({"other":"x"})", "status", std::nullopt},
        TextFieldCase{R"({"status":""})", "status", ""},
        TextFieldCase{R"({"status":"a\"b"})", "status", "a\\"},
        TextFieldCase{R"({"count":12})", "count", std::nullopt}));

struct NumberFieldCase {
  std::string line;
  std::string key;
  std::optional<std::uint64_t> value;
  friend void PrintTo(const NumberFieldCase& c, std::ostream* os) { *os << c.key << " in " << c.line; }
};

class JsonNumberField : public ::testing::TestWithParam<NumberFieldCase> {};

TEST_P(JsonNumberField, ReadsTheDigitsRightAfterTheKey) {
  EXPECT_EQ(json_number_field(GetParam().line, GetParam().key), GetParam().value);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, JsonNumberField,
    ::testing::Values(
        NumberFieldCase{R"({"progressDetail":{"current":1024,"total":4096}})", "current", 1024},
        NumberFieldCase{R"({"progressDetail":{"current":1024,"total":4096}})", "total", 4096},
        NumberFieldCase{R"({"total": 5})", "total", std::nullopt},
        NumberFieldCase{R"({"total":"5"})", "total", std::nullopt},
        NumberFieldCase{R"({"total":-5})", "total", std::nullopt},
        NumberFieldCase{R"({"total":0})", "total", 0},
        NumberFieldCase{R"({"total":18446744073709551615})", "total", 18446744073709551615ull},
        NumberFieldCase{R"({"total":18446744073709551616})", "total", std::nullopt},
        NumberFieldCase{R"({"current":7})", "total", std::nullopt}));

// ---- why an image could not be fetched ----------------------------------------------------

struct FetchFailureCase {
  std::string said;
  std::string sentence;
  friend void PrintTo(const FetchFailureCase& c, std::ostream* os) { *os << c.said; }
};

class FetchFailureSentence : public ::testing::TestWithParam<FetchFailureCase> {};
TEST_P(FetchFailureSentence, SaysTheCauseInTheProgramsWords) {
  EXPECT_EQ(fetch_failure_sentence("reg.example/a/b:1", GetParam().said), GetParam().sentence);
}
INSTANTIATE_TEST_SUITE_P(
    Cases, FetchFailureSentence,
    ::testing::Values(
        FetchFailureCase{"initializing source docker://reg.example/a/b:1: pinging container registry reg.example: "
                         "Get \"https://reg.example/v2/\": dial tcp: lookup reg.example on 10.0.0.53:53: no such host",
                         "The image reg.example/a/b:1 could not be fetched: there is no connection (the name "
                         "reg.example could not be found)."},
        FetchFailureCase{"Get \"https://reg.example/v2/\": dial tcp 10.1.2.3:443: connect: connection refused",
                         "The image reg.example/a/b:1 could not be fetched: there is no connection to reg.example."},
        FetchFailureCase{"manifest for reg.example/a/b:1 not found: manifest unknown: manifest unknown",
                         "The image reg.example/a/b:1 is not there: reg.example has no image of that name and "
                         "version."},
        FetchFailureCase{"reading manifest 1 in reg.example/a/b: unauthorized: authentication required",
                         "The image reg.example/a/b:1 could not be fetched: reg.example refused access to it."},
        FetchFailureCase{"too many requests\x1b[2J",
                         "The image reg.example/a/b:1 could not be fetched. reg.example said: too many "
                         "requests\\x1b[2J"}));

// ---- sizes -------------------------------------------------------------------------------

struct SizeCase {
  std::uint64_t amount;
  std::string text;
  friend void PrintTo(const SizeCase& c, std::ostream* os) { *os << c.amount; }
};

class FormatGigabytes : public ::testing::TestWithParam<SizeCase> {};
TEST_P(FormatGigabytes, HasOneDecimal) { EXPECT_EQ(format_gigabytes(GetParam().amount), GetParam().text); }
INSTANTIATE_TEST_SUITE_P(Cases, FormatGigabytes,
                         ::testing::Values(SizeCase{2048, "2.0 GB"}, SizeCase{1126, "1.1 GB"},
                                           SizeCase{1, "1 MB"}, SizeCase{0, "0 MB"},
                                           SizeCase{51, "51 MB"}, SizeCase{102, "102 MB"},
                                           SizeCase{103, "0.1 GB"},
                                           SizeCase{1024 * 200, "200.0 GB"}, SizeCase{4505, "4.4 GB"}));

class FormatSize : public ::testing::TestWithParam<SizeCase> {};
TEST_P(FormatSize, UsesMegabytesBelowAGigabyte) { EXPECT_EQ(format_size(GetParam().amount), GetParam().text); }
INSTANTIATE_TEST_SUITE_P(Cases, FormatSize,
                         ::testing::Values(SizeCase{0, "0 MB"}, SizeCase{1048575, "0 MB"},
                                           SizeCase{1048576, "1 MB"}, SizeCase{1073741823, "1023 MB"},
                                           SizeCase{1073741824, "1.0 GB"},
                                           SizeCase{5ull * 1073741824 / 2, "2.5 GB"}));

// ---- the answer stream -----------------------------------------------------------------

// An answer that arrives in pieces; before each piece is handed out, the fake clock is set to
// the piece's time, so a test says when each line "arrives".
class RecordedStream final : public ApiStream {
 public:
  explicit RecordedStream(TestContext& fake) : fake_(fake) {}

  void add(seconds at, std::string bytes) { pieces_.push_back({at, std::move(bytes)}); }
  void fail_after_pieces() { fail_at_end_ = true; }

  std::expected<void, std::string> write_all(std::string_view bytes) override {
    written += bytes;
    return {};
  }

  std::expected<std::size_t, std::string> read_some(std::span<char> buffer) override {
    if (pieces_.empty()) {
      if (fail_at_end_) return std::unexpected("connection reset");
      return 0;
    }
    Piece& piece = pieces_.front();
    fake_.time = std::chrono::system_clock::time_point(piece.at);
    const std::size_t n = std::min(buffer.size(), piece.bytes.size());
    std::copy_n(piece.bytes.data(), n, buffer.data());
    piece.bytes.erase(0, n);
    if (piece.bytes.empty()) pieces_.pop_front();
    return n;
  }

  std::string written;

 private:
  struct Piece {
    seconds at;
    std::string bytes;
  };
  TestContext& fake_;
  std::deque<Piece> pieces_;
  bool fail_at_end_ = false;
};

const std::string ok_head =
    "HTTP/1.0 200 OK\r\nApi-Version: 1.41\r\nLibpod-Api-Version: 4.3.1\r\nServer: Libpod/4.3.1 (linux)\r\n"
    "Date: Wed, 09 Dec 2026 05:06:12 GMT\r\n\r\n";

std::string downloading(std::string_view id, std::uint64_t current, std::uint64_t total) {
  return "{\"status\":\"Downloading\",\"progressDetail\":{\"current\":" + std::to_string(current) +
         ",\"total\":" + std::to_string(total) + "},\"progress\":\"[=>   ]\",\"id\":\"" + std::string(id) +
         "\"}\n";
}

std::string status(std::string_view word, std::string_view id) {
  return "{\"status\":\"" + std::string(word) + "\",\"progressDetail\":{},\"id\":\"" + std::string(id) + "\"}\n";
}

constexpr std::uint64_t MB = 1 << 20;

struct PullStream : ::testing::Test {
  TestFolder home;
  TestContext fake{home.path()};
  RecordedStream stream{fake};

  std::expected<void, PullFailure> follow() {
    CommandContext ctx = fake.context();
    return follow_pull_answer(ctx, stream);
  }
};

TEST_F(PullStream, AStatusOtherThan200FailsWithoutALine) {
  stream.add(seconds(0), "HTTP/1.1 500 Internal Server Error\r\nContent-Length: 0\r\n\r\n");
  EXPECT_FALSE(follow());
  EXPECT_EQ(fake.output.text, "");
}

TEST_F(PullStream, AnEmptyAnswerFails) { EXPECT_FALSE(follow()); }

TEST_F(PullStream, AnErrorLineFails) {
  stream.add(seconds(0), ok_head);
  stream.add(seconds(9), "{\"progressDetail\":{},\"errorDetail\":{\"message\":\"manifest unknown\"},"
                         "\"error\":\"Get \\\"https://x.invalid/v2/\\\": manifest unknown\"}\n");
  auto followed = follow();
  ASSERT_FALSE(followed);
  EXPECT_TRUE(followed.error().refused);
  EXPECT_EQ(followed.error().text, "Get \"https://x.invalid/v2/\": manifest unknown");
  EXPECT_EQ(fake.output.text, "");
}

TEST_F(PullStream, AStreamThatEndsBeforeTheFirstLineWasDueSucceedsSilently) {
  stream.add(seconds(0), ok_head);
  stream.add(seconds(1), status("Pulling fs layer", "aa"));
  stream.add(seconds(2), status("Download complete", "aa"));
  EXPECT_TRUE(follow());
  EXPECT_EQ(fake.output.text, "");
}

TEST_F(PullStream, AnAnswerEndingInsideTheHeadersSucceeds) {
  stream.add(seconds(0), "HTTP/1.0 200 OK\r\nApi-Version: 1.41\r\n");
  EXPECT_TRUE(follow());
}

TEST_F(PullStream, AReadFailureFails) {
  stream.add(seconds(0), ok_head);
  stream.add(seconds(1), status("Pulling fs layer", "aa"));
  stream.fail_after_pieces();
  EXPECT_FALSE(follow());
}

TEST_F(PullStream, ALineThatIsNotUtf8Fails) {
  stream.add(seconds(0), ok_head);
  stream.add(seconds(5), "{\"status\":\"Downloading\xff\",\"id\":\"aa\"}\n");
  EXPECT_FALSE(follow());
  EXPECT_EQ(fake.output.text, "");
}

TEST_F(PullStream, ALayerWithoutATotalMakesTheLineSaySoFar) {
  stream.add(seconds(0), ok_head);
  stream.add(seconds(1), downloading("aa", 10 * MB, 100 * MB));
  stream.add(seconds(1), status("Pulling fs layer", "bb"));
  stream.add(seconds(3), downloading("aa", 20 * MB, 100 * MB));
  EXPECT_TRUE(follow());
  EXPECT_EQ(fake.output.text, "Downloading: 20 MB so far ...\n");
}

TEST_F(PullStream, AlreadyExistsWithoutDownloadingCountsAsZeroOfZero) {
  stream.add(seconds(0), ok_head);
  stream.add(seconds(0), status("Already exists", "base"));
  stream.add(seconds(0), downloading("aa", 25 * MB, 100 * MB));
  stream.add(seconds(3), downloading("aa", 50 * MB, 100 * MB));
  EXPECT_TRUE(follow());
  EXPECT_EQ(fake.output.text, "Downloading: 50 MB of 100 MB (50 %) ...\n");
}

TEST_F(PullStream, OnlyAlreadyExistingLayersSaySoFarBecauseTheTotalIsZero) {
  stream.add(seconds(0), ok_head);
  stream.add(seconds(4), status("Already exists", "base"));
  EXPECT_TRUE(follow());
  EXPECT_EQ(fake.output.text, "Downloading: 0 MB so far ...\n");
}

TEST_F(PullStream, ProgressLinesComeAtMostEveryThreeSecondsByTheClock) {
  stream.add(seconds(100), ok_head);  // the clock starts when the status line is accepted
  stream.add(seconds(101), downloading("aa", 1 * MB, 3 * MB));
  stream.add(seconds(102), downloading("aa", 2 * MB, 3 * MB));
  stream.add(seconds(103), downloading("aa", 3 * MB, 3 * MB));  // 3 s: due
  stream.add(seconds(105), status("Download complete", "aa"));  // 2 s after: not due
  stream.add(seconds(105), status("Pulling fs layer", "bb"));
  stream.add(seconds(106), "{\"status\":\"Digest: sha256:00\"}\n");  // 3 s: due, changes nothing
  stream.add(seconds(108), downloading("bb", 4 * MB, 8 * MB));
  stream.add(seconds(120), downloading("bb", 8 * MB, 8 * MB));  // long gap: one line
  stream.add(seconds(120), status("Pull complete", "bb"));
  EXPECT_TRUE(follow());
  EXPECT_EQ(fake.output.text,
            "Downloading: 3 MB of 3 MB (100 %) ...\n"
            "Downloading: 3 MB so far ...\n"
            "Downloading: 11 MB of 11 MB (100 %) ...\n");
}

TEST_F(PullStream, ARecordedDockerStyleStreamShowsSizesAndWholePercentages) {
  // As Docker's daemon streams it: "Downloading" lines with current and total.
  stream.add(seconds(0), "HTTP/1.1 200 OK\r\nContent-Type: application/json\r\n"
                         "Date: Wed, 09 Dec 2026 05:00:00 GMT\r\nConnection: close\r\n\r\n");
  stream.add(seconds(0), status("Pulling fs layer", "1a2b3c4d5e6f"));
  stream.add(seconds(0), status("Pulling fs layer", "7a8b9c0d1e2f"));
  stream.add(seconds(0), status("Waiting", "7a8b9c0d1e2f"));
  stream.add(seconds(1), downloading("1a2b3c4d5e6f", 540 * MB, 1800 * MB));
  stream.add(seconds(2), downloading("7a8b9c0d1e2f", 30 * MB, 248 * MB));
  stream.add(seconds(3), downloading("1a2b3c4d5e6f", 700 * MB, 1800 * MB));
  stream.add(seconds(7), downloading("1a2b3c4d5e6f", 1800 * MB, 1800 * MB));
  stream.add(seconds(7), status("Verifying Checksum", "1a2b3c4d5e6f"));
  stream.add(seconds(7), status("Download complete", "1a2b3c4d5e6f"));
  stream.add(seconds(8), status("Download complete", "7a8b9c0d1e2f"));
  stream.add(seconds(9), status("Extracting", "1a2b3c4d5e6f"));
  stream.add(seconds(10), status("Pull complete", "1a2b3c4d5e6f"));
  stream.add(seconds(10), status("Pull complete", "7a8b9c0d1e2f"));
  stream.add(seconds(10), "{\"status\":\"Digest: sha256:4f1e\"}\n");
  stream.add(seconds(10), "{\"status\":\"Status: Downloaded newer image for zelk/big:1.0\"}\n");
  EXPECT_TRUE(follow());
  EXPECT_EQ(fake.output.text,
            "Downloading: 730 MB of 2.0 GB (35 %) ...\n"
            "Downloading: 1.8 GB of 2.0 GB (89 %) ...\n"
            "Downloading: 2.0 GB of 2.0 GB (100 %) ...\n");
}

TEST_F(PullStream, LinesSplitAcrossReadsAndLongLinesAreWhole) {
  const std::string padding(20000, 'x');
  stream.add(seconds(0), ok_head.substr(0, 7));
  stream.add(seconds(0), ok_head.substr(7));
  const std::string line = "{\"status\":\"Downloading\",\"pad\":\"" + padding +
                           "\",\"progressDetail\":{\"current\":" + std::to_string(2 * MB) +
                           ",\"total\":" + std::to_string(4 * MB) + "},\"id\":\"aa\"}\r\n";
  stream.add(seconds(5), line.substr(0, 10));
  stream.add(seconds(5), line.substr(10, 9000));
  stream.add(seconds(5), line.substr(9010));
  EXPECT_TRUE(follow());
  EXPECT_EQ(fake.output.text, "Downloading: 2 MB of 4 MB (50 %) ...\n");
}

TEST_F(PullStream, TheLastLineWithoutALineEndCounts) {
  stream.add(seconds(0), ok_head);
  stream.add(seconds(3), "{\"error\":\"x\"}");
  EXPECT_FALSE(follow());
}

TEST(PullProgressLine, RoundsThePercentageDown) {
  std::vector<PullLayer> layers{{"a", 2, true, 3}};
  EXPECT_EQ(pull_progress_line(layers), "Downloading: 0 MB of 0 MB (66 %) ...");
  EXPECT_EQ(pull_progress_line({}), "Downloading: 0 MB so far ...");
}

// ---- finding the endpoint ----------------------------------------------------------------

struct FindCase {
  std::string platform;
  std::vector<std::string> args;
  ScriptedRunner::Reply reply;
  std::optional<std::string> endpoint;
  friend void PrintTo(const FindCase& c, std::ostream* os) {
    *os << c.platform << ": " << (c.reply ? c.reply->stdout_text : fmt_run_error(c.reply.error()));
  }
};

class FindPodmanApi : public ::testing::TestWithParam<FindCase> {};

TEST_P(FindPodmanApi, AsksPodmanByPlatform) {
  TestFolder home;
  TestContext fake(home.path());
  fake.platform = GetParam().platform;
  fake.runner.on("podman", {}, GetParam().reply);
  CommandContext ctx = fake.context();
  EXPECT_EQ(find_podman_api(ctx), GetParam().endpoint);
  const auto runs = fake.runner.runs();
  ASSERT_EQ(runs.size(), 1u);
  EXPECT_EQ(runs[0].program, "podman");
  EXPECT_EQ(runs[0].args, GetParam().args);
  EXPECT_FALSE(runs[0].attached);
  EXPECT_EQ(runs[0].limit, std::chrono::seconds(20));
}

const std::vector<std::string> windows_args{"machine", "inspect", "--format",
                                            "{{.ConnectionInfo.PodmanPipe.Path}}"};
const std::vector<std::string> macos_args{"machine", "inspect", "--format",
                                          "{{.ConnectionInfo.PodmanSocket.Path}}"};
const std::vector<std::string> linux_args{"info", "--format",
                                          "{{.Host.RemoteSocket.Exists}} {{.Host.RemoteSocket.Path}}"};

INSTANTIATE_TEST_SUITE_P(
    Cases, FindPodmanApi,
    ::testing::Values(
        FindCase{"windows", windows_args, ScriptedRunner::ok("\\\\.\\pipe\\podman-machine-default\r\n"),
                 "\\\\.\\pipe\\podman-machine-default"},
        FindCase{"windows", windows_args, ScriptedRunner::ok("/run/podman.sock\n"), std::nullopt},
        FindCase{"windows", windows_args, ScriptedRunner::failed(125, "Error: no machine"), std::nullopt},
        FindCase{"macos", macos_args, ScriptedRunner::ok("  /Users/a/podman.sock\n"), "/Users/a/podman.sock"},
        FindCase{"macos", macos_args, ScriptedRunner::ok("\n"), std::nullopt},
        FindCase{"linux", linux_args, ScriptedRunner::ok("true unix:///run/podman/podman.sock\n"),
                 "/run/podman/podman.sock"},
        FindCase{"linux", linux_args, ScriptedRunner::ok("false unix:///run/podman/podman.sock\n"),
                 std::nullopt},
        FindCase{"linux", linux_args, ScriptedRunner::ok("true /run/podman/podman.sock\n"), "/run/podman/podman.sock"},
        FindCase{"linux", linux_args, ScriptedRunner::ok("true run/podman.sock\n"), std::nullopt},
        FindCase{"linux", linux_args, ScriptedRunner::ok("false /run/podman/podman.sock\n"), std::nullopt},
        FindCase{"linux", linux_args, std::unexpected(RunError::not_found()), std::nullopt},
        FindCase{"linux", linux_args, std::unexpected(RunError::timed_out()), std::nullopt},
        FindCase{"freebsd", linux_args, ScriptedRunner::ok("true unix:///var/run/p.sock"), "/var/run/p.sock"}));

TEST(PullImage, AnEndpointThatCannotBeOpenedFails) {
  TestFolder home;
  TestContext fake(home.path());
  CommandContext ctx = fake.context();
  EXPECT_FALSE(pull_image(ctx, "/nonexistent/zelk-no-such.sock", "a/b:1"));
  EXPECT_EQ(fake.output.text, "");
}

}  // namespace
}  // namespace zelk
