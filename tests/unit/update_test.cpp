#include <gtest/gtest.h>

#include <fstream>
#include <thread>

#include "addresses.h"
#include "child_programs.h"
#include "files.h"
#include "platform.h"
#include "scoped_env.h"
#include "scripted_runner.h"
#include "sha256.h"
#include "shelf.h"
#include "test_context.h"
#include "test_folder.h"
#include "update.h"
#include "zelk/commands.h"

namespace zelk {
namespace {

// The Windows installer's switches go only to a program started on Windows.
const bool windows = platform_word == "windows";

const std::string unreadable = "The list of versions on the website is not one this Zelk can read.";
const std::string newer_format =
    "The website's list of versions is written for a newer Zelk than this one. Get the newest "
    "Zelk from https://zelk.app/download/";
const std::string sha_a = std::string(64, 'a');

TEST(ParseVersion, Table) {
  EXPECT_EQ(parse_version("0.2.0-alpha.15"), (VersionNumber{{0, 2, 0}, {"alpha", "15"}}));
  EXPECT_EQ(parse_version("0.2"), (VersionNumber{{0, 2}, {}}));
  EXPECT_EQ(parse_version("1.x.3"), (VersionNumber{{1, 0, 3}, {}}));
  EXPECT_EQ(parse_version("1..3-"), (VersionNumber{{1, 0, 3}, {""}}));
  EXPECT_EQ(parse_version("2-rc-1.x"), (VersionNumber{{2}, {"rc-1", "x"}}));
  EXPECT_EQ(parse_version("99999999999999999999"), (VersionNumber{{0}, {}}));
  EXPECT_EQ(parse_version("18446744073709551615"), (VersionNumber{{18446744073709551615ull}, {}}));
}

struct NewerCase {
  std::string candidate;
  std::string running;
  bool newer;
};

void PrintTo(const NewerCase& c, std::ostream* os) { *os << c.candidate << " vs " << c.running; }

class Newer : public ::testing::TestWithParam<NewerCase> {};

TEST_P(Newer, FollowsSemanticVersioningPrecedence) {
  EXPECT_EQ(is_newer_version(GetParam().candidate, GetParam().running), GetParam().newer)
      << GetParam().candidate << " against " << GetParam().running;
}

INSTANTIATE_TEST_SUITE_P(
    Table, Newer,
    ::testing::Values(NewerCase{"0.2.0", "0.2.0-alpha.15", true},
                      NewerCase{"0.2.0-alpha.16", "0.2.0-alpha.15", true},
                      NewerCase{"0.2.0-beta", "0.2.0-alpha.15", true},
                      NewerCase{"0.2.0-alpha.15", "0.2.0-alpha.15", false},
                      NewerCase{"0.2.0-alpha", "0.2.0-alpha.15", false},
                      NewerCase{"0.1.9", "0.2.0-alpha.15", false},
                      NewerCase{"0.2.0-alpha.9", "0.2.0-alpha.15", false},
                      NewerCase{"0.2.0-alpha.15.1", "0.2.0-alpha.15", true},
                      NewerCase{"0.2", "0.2.0-alpha.15", true},
                      NewerCase{"0.2.0.0.1", "0.2.0", true},
                      NewerCase{"0.2.0.0", "0.2", false},
                      NewerCase{"10.0.0", "9.99.99", true},
                      NewerCase{"1.0.0", "1.0.0", false},
                      NewerCase{"1.0.0-rc.1", "1.0.0", false},
                      NewerCase{"1.0.0-alpha.beta", "1.0.0-alpha.1", true},
                      NewerCase{"1.0.0-alpha.1", "1.0.0-alpha.beta", false},
                      NewerCase{"1.0.0-beta.11", "1.0.0-beta.2", true},
                      NewerCase{"1.0.0-rc.1", "1.0.0-beta.11", true},
                      NewerCase{"1.0.0-alphaa", "1.0.0-alpha", true},
                      NewerCase{"1.0.0-B", "1.0.0-a", false},
                      NewerCase{"1.0.0-99999999999999999999", "1.0.0-x", false},
                      NewerCase{"1.0.0-99999999999999999999", "1.0.0-1", true}));

std::string platform_line(std::string version, std::string size, std::string sha, std::string file) {
  return std::string(update_platform_word) + " " + version + " " + size + " " + sha + " " + file + "\n";
}

struct ListCase {
  std::string label;
  std::string text;
  std::optional<std::string> failure;        // none: success
  std::optional<UpdateOffer> offer;          // on success
};

void PrintTo(const ListCase& c, std::ostream* os) { *os << c.label; }

class VersionList : public ::testing::TestWithParam<ListCase> {};

TEST_P(VersionList, ReadsTheLineForThisPlatform) {
  auto result = read_version_list(GetParam().text, "0.2.0-alpha.15");
  if (GetParam().failure) {
    ASSERT_FALSE(result) << GetParam().label;
    EXPECT_EQ(result.error(), *GetParam().failure) << GetParam().label;
  } else {
    ASSERT_TRUE(result) << GetParam().label << ": " << result.error();
    EXPECT_EQ(*result, GetParam().offer) << GetParam().label;
  }
}

const std::string good_line = platform_line("0.3.0", "1234", sha_a, "Zelk-0.3.0-setup.exe");
const UpdateOffer good_offer{"0.3.0", "Zelk-0.3.0-setup.exe", sha_a, 1234};

INSTANTIATE_TEST_SUITE_P(
    Table, VersionList,
    ::testing::Values(
        ListCase{"newer", "format 1\n" + good_line, std::nullopt, good_offer},
        ListCase{"comments and blanks first", "# list\n\n   \n  format   1  \r\n# x\n" + good_line,
                 std::nullopt, good_offer},
        ListCase{"same version", "format 1\n" + platform_line("0.2.0-alpha.15", "5", sha_a, "z.exe"),
                 std::nullopt, std::nullopt},
        ListCase{"older", "format 1\n" + platform_line("0.1.0", "5", sha_a, "z.exe"), std::nullopt,
                 std::nullopt},
        ListCase{"other platforms only", "format 1\nmacos-arm64 9.0.0 5 " + sha_a +
                     " z.dmg\nwindows-arm64 9.0.0 5 " + sha_a + " z.exe\n",
                 std::nullopt, std::nullopt},
        ListCase{"empty", "", unreadable, std::nullopt},
        ListCase{"comments only", "# nothing\n\n", unreadable, std::nullopt},
        ListCase{"format 2", "format 2\n" + good_line, newer_format, std::nullopt},
        ListCase{"format alone", "format\n" + good_line, newer_format, std::nullopt},
        ListCase{"format 1 with more", "format 1 x\n" + good_line, newer_format, std::nullopt},
        ListCase{"version 1", "version 1\n" + good_line, unreadable, std::nullopt},
        ListCase{"first platform line with four words decides",
                 "format 1\n" + std::string(update_platform_word) + " 0.3.0 1234 " + sha_a + "\n" + good_line,
                 unreadable, std::nullopt},
        ListCase{"six words", "format 1\n" + good_line.substr(0, good_line.size() - 1) + " extra\n",
                 unreadable, std::nullopt},
        ListCase{"size 0", "format 1\n" + platform_line("0.3.0", "0", sha_a, "z.exe"), unreadable, std::nullopt},
        ListCase{"size at the limit", "format 1\n" + platform_line("0.3.0", "104857600", sha_a, "z.exe"),
                 std::nullopt, UpdateOffer{"0.3.0", "z.exe", sha_a, 104857600}},
        ListCase{"size past the limit", "format 1\n" + platform_line("0.3.0", "104857601", sha_a, "z.exe"),
                 unreadable, std::nullopt},
        ListCase{"size with a sign", "format 1\n" + platform_line("0.3.0", "+5", sha_a, "z.exe"), unreadable,
                 std::nullopt},
        ListCase{"size past 64 bits",
                 "format 1\n" + platform_line("0.3.0", "99999999999999999999999", sha_a, "z.exe"), unreadable,
                 std::nullopt},
        ListCase{"sha of 63", "format 1\n" + platform_line("0.3.0", "5", std::string(63, 'a'), "z.exe"),
                 unreadable, std::nullopt},
        ListCase{"sha in capitals", "format 1\n" + platform_line("0.3.0", "5", std::string(64, 'A'), "z.exe"),
                 unreadable, std::nullopt},
        ListCase{"sha not hex", "format 1\n" + platform_line("0.3.0", "5", std::string(64, 'g'), "z.exe"),
                 unreadable, std::nullopt},
        ListCase{"file begins with a dot", "format 1\n" + platform_line("0.3.0", "5", sha_a, ".z.exe"),
                 unreadable, std::nullopt},
        ListCase{"file begins with a dash", "format 1\n" + platform_line("0.3.0", "5", sha_a, "-z.exe"),
                 unreadable, std::nullopt},
        ListCase{"file with a slash", "format 1\n" + platform_line("0.3.0", "5", sha_a, "a/z.exe"),
                 unreadable, std::nullopt},
        ListCase{"file of a device", "format 1\n" + platform_line("0.3.0", "5", sha_a, "Com1.exe"),
                 unreadable, std::nullopt},
        ListCase{"file of 121", "format 1\n" + platform_line("0.3.0", "5", sha_a, std::string(121, 'z')),
                 unreadable, std::nullopt},
        ListCase{"file of 120", "format 1\n" + platform_line("0.3.0", "5", sha_a, std::string(120, 'z')),
                 std::nullopt, UpdateOffer{"0.3.0", std::string(120, 'z'), sha_a, 5}},
        ListCase{"version begins with v", "format 1\n" + platform_line("v0.3.0", "5", sha_a, "z.exe"),
                 unreadable, std::nullopt},
        ListCase{"version of 41", "format 1\n" + platform_line("1" + std::string(40, '0'), "5", sha_a, "z.exe"),
                 unreadable, std::nullopt},
        ListCase{"version with a plus", "format 1\n" + platform_line("1.0+b", "5", sha_a, "z.exe"), unreadable,
                 std::nullopt}));

TEST(VersionList, FileNameWithASpaceIsNotOneWord) {
  // A space splits the name into two words, so the line has six.
  auto result = read_version_list("format 1\n" + platform_line("0.3.0", "5", sha_a, "a z.exe"), "0.1");
  ASSERT_FALSE(result);
  EXPECT_EQ(result.error(), unreadable);
}

TEST(VersionList, OtherPlatformWordIsReadWhenAsked) {
  auto result = read_version_list("format 1\nwindows-x64 1.0.0 7 " + sha_a + " w.exe\nlinux-x64 2.0.0 8 " +
                                      sha_a + " l.run\n",
                                  "0.1", "linux-x64");
  ASSERT_TRUE(result);
  EXPECT_EQ(*result, (UpdateOffer{"2.0.0", "l.run", sha_a, 8}));
}

TEST(UpdateListAddress, EnvironmentOrTheMakersList) {
  {
    ScopedEnv env("ZELK_UPDATE_ADDRESS", "http://127.0.0.1:9/latest.txt");
    EXPECT_EQ(update_list_address(), "http://127.0.0.1:9/latest.txt");
  }
  {
    ScopedEnv env("ZELK_UPDATE_ADDRESS", "");
    EXPECT_EQ(update_list_address(), builtin_update_list_address);
  }
  {
    ScopedEnv env("ZELK_UPDATE_ADDRESS", std::nullopt);
    EXPECT_EQ(update_list_address(), builtin_update_list_address);
  }
  EXPECT_TRUE(builtin_update_list_address.starts_with("https://" + std::string(maker_host) + "/"));
  EXPECT_TRUE(builtin_update_list_address.ends_with("latest.txt"));
}

TEST(InstallerAddress, SchemeAndHostOfTheList) {
  EXPECT_EQ(installer_address("https://zelk.app/releases/latest.txt", "z.exe"), "https://zelk.app/downloads/z.exe");
  EXPECT_EQ(installer_address("http://127.0.0.1:8000/a/b/latest.txt", "z.exe"),
            "http://127.0.0.1:8000/downloads/z.exe");
  EXPECT_EQ(installer_address("https://zelk.app", "z.exe"), "https://zelk.app/downloads/z.exe");
}

TEST(CheckForUpdate, FetchesTheListAddressWithTheFetchRules) {
  ScopedEnv env("ZELK_UPDATE_ADDRESS", "https://example.org/latest.txt");
  ScriptedRunner runner;
  runner.on("curl", {}, ScriptedRunner::ok("format 1\n" + good_line));
  auto result = check_for_update(runner, "0.2.0-alpha.15");
  ASSERT_TRUE(result);
  EXPECT_EQ(*result, good_offer);
  ASSERT_EQ(runner.runs().size(), 1u);
  EXPECT_EQ(runner.runs()[0].args, curl_arguments("https://example.org/latest.txt", 65536, 20));
}

TEST(CheckForUpdate, FetchFailureIsReturnedUnchanged) {
  ScopedEnv env("ZELK_UPDATE_ADDRESS", "https://example.org/latest.txt");
  ScriptedRunner runner;
  runner.on("curl", {}, ScriptedRunner::failed(6, "curl: (6) Could not resolve host: example.org\n"));
  EXPECT_EQ(check_for_update(runner, "0.2.0-alpha.15").error(),
            "https://example.org/latest.txt could not be fetched.\n    It said: curl: (6) Could not "
            "resolve host: example.org");
}

TEST(CheckForUpdate, AListAddressThatReachesAnotherHostIsRefusedBeforeCurl) {
  const std::string user = "It names a user before its host (\"@\"); the Zelk fetches without one.";
  for (const auto& [address, reason] : std::vector<std::pair<std::string, std::string>>{
           {"http://127.0.0.1:x@evil.org/latest.txt", user},
           {"http://localhost:@evil.org/latest.txt", user},
           {"https://example.org/[1-100000]/latest.txt", "It holds \"[\", which is written \"%5B\" in an address."}}) {
    ScopedEnv env("ZELK_UPDATE_ADDRESS", address);
    ScriptedRunner runner;
    auto result = check_for_update(runner, "0.2.0-alpha.15");
    ASSERT_FALSE(result) << address;
    EXPECT_EQ(result.error(), "\"" + address + "\" is not an address the Zelk fetches. " + reason);
    EXPECT_TRUE(runner.runs().empty()) << address;
  }
}

// Answers curl like a download would: the bytes land in the file named after --output.
class DownloadRunner final : public CommandRunner {
 public:
  std::string body;
  std::optional<RunError> error;
  RunOutput output = ScriptedRunner::ok();
  bool write_file = true;
  mutable std::vector<RecordedRun> runs;

  std::expected<RunOutput, RunError> run_captured(const std::string& program,
                                                  const std::vector<std::string>& args,
                                                  std::chrono::nanoseconds limit) const override {
    RecordedRun run;
    run.program = program;
    run.args = args;
    run.limit = limit;
    runs.push_back(run);
    if (error) return std::unexpected(*error);
    for (std::size_t i = 0; i + 1 < args.size(); ++i) {
      if (args[i] == "--output" && write_file) {
        std::ofstream out(path_from_utf8(args[i + 1]), std::ios::binary);
        out.write(body.data(), static_cast<std::streamsize>(body.size()));
      }
    }
    return output;
  }
  std::expected<AttachedRun, RunError> run_attached(const std::string&, const std::vector<std::string>&,
                                                    const EnvPairs&, AttachMode) const override {
    return std::unexpected(RunError::os("not expected"));
  }
};

class Download : public ::testing::Test {
 protected:
  TestFolder home;
  ScopedEnv env{"ZELK_UPDATE_ADDRESS", "https://example.org/releases/latest.txt"};
  DownloadRunner runner;
  std::string body = "installer bytes";
  UpdateOffer offer{"0.3.0", "Zelk-setup.exe", sha256_hex("installer bytes"), 15};
  std::filesystem::path file() const { return home.path() / "update" / "Zelk-setup.exe"; }
};

TEST_F(Download, FetchesIntoTheUpdateFolderWithTheExactArguments) {
  std::filesystem::create_directories(home.path() / "update");
  std::ofstream(home.path() / "update" / "leftover.exe") << "old";
  runner.body = body;
  auto path = download_update(home.path(), runner, offer);
  ASSERT_TRUE(path) << path.error();
  EXPECT_EQ(*path, file());
  EXPECT_EQ(read_file(file()).value(), body);
  EXPECT_FALSE(std::filesystem::exists(home.path() / "update" / "leftover.exe"));
  ASSERT_EQ(runner.runs.size(), 1u);
  EXPECT_EQ(runner.runs[0].program, "curl");
  EXPECT_EQ(runner.runs[0].limit, std::chrono::seconds(900));
  EXPECT_EQ(runner.runs[0].args,
            (std::vector<std::string>{"--fail", "--silent", "--show-error", "--location", "--max-redirs", "3",
                                      "--proto", "=https", "--proto-redir", "=https", "--max-filesize",
                                      "104857600", "--max-time", "840", "--output", path_to_utf8(file()), "--",
                                      "https://example.org/downloads/Zelk-setup.exe"}));
}

TEST_F(Download, AnInstallerAddressWithAUserPartIsRefusedBeforeCurl) {
  for (const std::string list : {"http://127.0.0.1:x@evil.org/latest.txt", "http://localhost:@evil.org/a/latest.txt"}) {
    ScopedEnv other("ZELK_UPDATE_ADDRESS", list);
    const std::string installer = installer_address(list, offer.file);
    auto path = download_update(home.path(), runner, offer);
    ASSERT_FALSE(path) << list;
    EXPECT_EQ(path.error(), "\"" + installer +
                                "\" is not an address the Zelk fetches. It names a user before its host (\"@\"); "
                                "the Zelk fetches without one.");
  }
  EXPECT_TRUE(runner.runs.empty());
}

TEST_F(Download, OneByteShortIsDeletedAndReportedWithBothSizes) {
  runner.body = body.substr(1);
  auto path = download_update(home.path(), runner, offer);
  ASSERT_FALSE(path);
  EXPECT_EQ(path.error(), "The fetched file has 14 bytes and should have 15. It was deleted; nothing was changed.");
  EXPECT_FALSE(std::filesystem::exists(file()));
}

TEST_F(Download, OtherBytesOfTheRightSizeAreDeleted) {
  runner.body = "Installer bytes";
  auto path = download_update(home.path(), runner, offer);
  ASSERT_FALSE(path);
  EXPECT_EQ(path.error(),
            "The fetched file is not the one the website names: its SHA-256 differs. It was deleted; "
            "nothing was changed.");
  EXPECT_FALSE(std::filesystem::exists(file()));
}

TEST_F(Download, CurlMissingPointsToTheDownloadPage) {
  runner.error = RunError::not_found();
  EXPECT_EQ(download_update(home.path(), runner, offer).error(),
            "The program \"curl\" is not on this computer; the Zelk fetches with it. Get the newest Zelk "
            "from https://zelk.app/download/");
}

TEST_F(Download, RunnerFailureAndCurlFailure) {
  runner.error = RunError::timed_out();
  EXPECT_EQ(download_update(home.path(), runner, offer).error(),
            "https://example.org/downloads/Zelk-setup.exe could not be fetched (no answer in time).");
  runner.error.reset();
  runner.output = ScriptedRunner::failed(63, "curl: (63) Maximum file size exceeded\n");
  EXPECT_EQ(download_update(home.path(), runner, offer).error(),
            "https://example.org/downloads/Zelk-setup.exe could not be fetched.\n    It said: curl: (63) "
            "Maximum file size exceeded");
}

TEST_F(Download, NoFileAfterCurlIsReportedAsUnreadable) {
  runner.write_file = false;  // curl ends well but leaves no file (an empty body, for one)
  auto path = download_update(home.path(), runner, offer);
  ASSERT_FALSE(path);
  const std::string start = "The fetched file " + path_to_utf8(file()) + " could not be read for its checks: ";
  EXPECT_TRUE(path.error().starts_with(start)) << path.error();
  EXPECT_TRUE(path.error().ends_with(" (os error 2). It was deleted; nothing was changed.")) << path.error();
}

TEST_F(Download, InstallerAddressMustPassTheCheck) {
  ScopedEnv plain{"ZELK_UPDATE_ADDRESS", "http://example.org/latest.txt"};
  auto path = download_update(home.path(), runner, offer);
  ASSERT_FALSE(path);
  EXPECT_EQ(path.error(),
            "\"http://example.org/downloads/Zelk-setup.exe\" is not an address the Zelk fetches. It starts "
            "with \"https://\"; plain \"http://\" is taken from this computer only (127.0.0.1 or "
            "localhost).");
  EXPECT_TRUE(runner.runs.empty());
}

TEST_F(Download, FolderThatCannotBeCreated) {
  std::ofstream(home.path() / "file-home") << "x";
  auto path = download_update(home.path() / "file-home", runner, offer);
  ASSERT_FALSE(path);
  const std::string start = path_to_utf8(home.path() / "file-home" / "update") + " could not be created: ";
  EXPECT_TRUE(path.error().starts_with(start)) << path.error();
  EXPECT_GT(path.error().size(), start.size());
  EXPECT_TRUE(runner.runs.empty());
}

struct StartCall {
  std::filesystem::path path;
  bool tray;
  std::uint32_t flags;
};

TEST(LaunchInstaller, FirstStartBreaksAwayFromTheJob) {
  std::vector<StartCall> calls;
  auto result =
      launch_installer("/x/setup.exe", true, [&](const std::filesystem::path& p, bool tray, std::uint32_t flags) {
        calls.push_back({p, tray, flags});
        return std::expected<void, std::string>();
      });
  EXPECT_TRUE(result);
  ASSERT_EQ(calls.size(), 1u);
  EXPECT_EQ(calls[0].flags, 0x01000208u);
  EXPECT_TRUE(calls[0].tray);
}

TEST(LaunchInstaller, SecondStartWithoutBreakawayAndTheFirstErrorDropped) {
  std::vector<StartCall> calls;
  auto result = launch_installer(
      "/x/setup.exe", false,
      [&](const std::filesystem::path& p, bool tray, std::uint32_t flags) -> std::expected<void, std::string> {
        calls.push_back({p, tray, flags});
        if (calls.size() == 1) return std::unexpected("Access is denied. (os error 5)");
        return {};
      });
  EXPECT_TRUE(result);
  ASSERT_EQ(calls.size(), 2u);
  EXPECT_EQ(calls[1].flags, 0x208u);
  EXPECT_FALSE(calls[1].tray);
}

TEST(LaunchInstaller, BothFailWithTheSecondError) {
  int count = 0;
  auto result = launch_installer("/x/setup.exe", false, [&](const std::filesystem::path&, bool, std::uint32_t)
                                     -> std::expected<void, std::string> {
    return std::unexpected(++count == 1 ? std::string("first") : std::string("second"));
  });
  ASSERT_FALSE(result);
  EXPECT_EQ(result.error(), "The installer could not be started: second");
}

TEST(InstallerArguments, TraySwitchOnlyForTheWindowProgram) {
  EXPECT_EQ(installer_arguments(false), (std::vector<std::string>{"/VERYSILENT", "/SUPPRESSMSGBOXES", "/NORESTART"}));
  EXPECT_EQ(installer_arguments(true),
            (std::vector<std::string>{"/VERYSILENT", "/SUPPRESSMSGBOXES", "/NORESTART", "/TRAY=window"}));
}

// The stand-in installer (a real program) copied into a fresh folder under a name of its own.
std::filesystem::path copy_fake_installer(const std::filesystem::path& folder, const std::string& name) {
  std::filesystem::path target = folder / path_from_utf8(name);
  std::filesystem::copy_file(path_from_utf8(helper_program("fake_installer")), target,
                             std::filesystem::copy_options::overwrite_existing);
  return target;
}

// The installer runs detached, so its marker appears some time after the start returns.
std::optional<std::string> wait_for_marker(const std::filesystem::path& installer) {
  std::filesystem::path marker = installer;
  marker += ".args";
  for (int i = 0; i < 3000; ++i) {
    if (std::filesystem::exists(marker)) return read_file(marker).value();
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
  return std::nullopt;
}

TEST(StartInstaller, RunsTheProgramDetachedWithTheSilentArguments) {
  TestFolder folder;
  auto installer = copy_fake_installer(folder.path(), "Zelk setup \xc3\xa4.exe");
  ASSERT_TRUE(start_installer(installer, false, installer_flags_breakaway));
  EXPECT_EQ(wait_for_marker(installer), windows ? "/VERYSILENT\n/SUPPRESSMSGBOXES\n/NORESTART\n" : "");
}

TEST(StartInstaller, TrayStartAddsTheWindowSwitch) {
  TestFolder folder;
  auto installer = copy_fake_installer(folder.path(), "setup.exe");
  ASSERT_TRUE(launch_installer(installer, true));
  EXPECT_EQ(wait_for_marker(installer), windows ? "/VERYSILENT\n/SUPPRESSMSGBOXES\n/NORESTART\n/TRAY=window\n" : "");
}

TEST(StartInstaller, MissingProgramGivesTheSystemsError) {
  TestFolder folder;
  auto result = launch_installer(folder.path() / "absent.exe", false);
  ASSERT_FALSE(result);
  EXPECT_TRUE(result.error().starts_with("The installer could not be started: ")) << result.error();
  EXPECT_TRUE(result.error().ends_with(")")) << result.error();
}

// ---- the "update" command ----

class UpdateCommand : public ::testing::Test {
 protected:
  TestFolder home;
  ScopedEnv env{"ZELK_UPDATE_ADDRESS", "https://example.org/releases/latest.txt"};
  TestContext fake{home.path()};

  CommandResult run(Args args, const CommandRunner* runner = nullptr) {
    CommandContext ctx = fake.context(runner);
    return run_command(ctx, args);
  }
};

TEST_F(UpdateCommand, LookOnTheNewestPrintsOneLineAndFetchesNothingMore) {
  fake.runner.on("curl", {}, ScriptedRunner::ok("format 1\n" + platform_line("0.2.0-alpha.15", "5", sha_a, "z.exe")));
  ASSERT_TRUE(run({"update", "look"}));
  EXPECT_EQ(fake.output.text, "This Zelk is version 0.2.0-alpha.15, the newest.\n");
  EXPECT_EQ(fake.runner.runs().size(), 1u);
  EXPECT_FALSE(std::filesystem::exists(home.path() / "update"));
}

TEST_F(UpdateCommand, LookWithANewerVersionPrintsTwoLinesAndDownloadsNothing) {
  fake.runner.on("curl", {}, ScriptedRunner::ok("format 1\n" + good_line));
  ASSERT_TRUE(run({"update", "look"}));
  EXPECT_EQ(fake.output.text,
            "Version 0.3.0 is out. This Zelk is version 0.2.0-alpha.15.\n"
            "\"zelk update\" fetches it and puts it in place. The apps keep running.\n");
  EXPECT_EQ(fake.runner.runs().size(), 1u);
  EXPECT_FALSE(std::filesystem::exists(home.path() / "update"));
}

TEST_F(UpdateCommand, OtherSecondWordFailsBeforeAnyFetch) {
  auto result = run({"update", "now"});
  ASSERT_FALSE(result);
  EXPECT_EQ(result.error(), "Usage: zelk update, or: zelk update look");
  EXPECT_TRUE(fake.runner.runs().empty());
  EXPECT_EQ(fake.output.text, "");
}

TEST_F(UpdateCommand, ListErrorsEndTheCommandUnchanged) {
  fake.runner.on("curl", {}, ScriptedRunner::ok("format 2\n"));
  EXPECT_EQ(run({"update"}).error(), newer_format);
  EXPECT_EQ(fake.output.text, "");
}

TEST_F(UpdateCommand, DownloadFailureAfterTheNewerVersionLine) {
  fake.runner.once("curl", {}, ScriptedRunner::ok("format 1\n" + good_line));
  fake.runner.once("curl", {}, ScriptedRunner::failed(22, "curl: (22) The requested URL returned error: 404\n"));
  auto result = run({"update"});
  ASSERT_FALSE(result);
  EXPECT_EQ(result.error(),
            "https://example.org/downloads/Zelk-0.3.0-setup.exe could not be fetched.\n    It said: curl: "
            "(22) The requested URL returned error: 404");
  EXPECT_EQ(fake.output.text, "Version 0.3.0 is out. This Zelk is version 0.2.0-alpha.15.\n");
}

// Serves the list from the first curl run and the stand-in installer's bytes from the next.
class ListThenInstaller final : public CommandRunner {
 public:
  std::string list;
  std::string installer;
  mutable int calls = 0;

  std::expected<RunOutput, RunError> run_captured(const std::string&, const std::vector<std::string>& args,
                                                  std::chrono::nanoseconds) const override {
    if (calls++ == 0) return ScriptedRunner::ok(list);
    for (std::size_t i = 0; i + 1 < args.size(); ++i) {
      if (args[i] == "--output") {
        std::ofstream out(path_from_utf8(args[i + 1]), std::ios::binary);
        out.write(installer.data(), static_cast<std::streamsize>(installer.size()));
      }
    }
    return ScriptedRunner::ok();
  }
  std::expected<AttachedRun, RunError> run_attached(const std::string&, const std::vector<std::string>&,
                                                    const EnvPairs&, AttachMode) const override {
    return std::unexpected(RunError::os("not expected"));
  }
};

TEST_F(UpdateCommand, FetchesChecksAndStartsTheInstaller) {
  TestFolder source;
  auto program = copy_fake_installer(source.path(), "fake");
  ListThenInstaller runner;
  runner.installer = read_file(program).value();
  runner.list = "format 1\n" + platform_line("0.2.0", std::to_string(runner.installer.size()),
                                             sha256_hex(runner.installer), "Zelk-0.2.0-setup.exe");
  fake.platform = std::string(platform_word);
  auto result = run({"update"}, &runner);
  ASSERT_TRUE(result) << result.error();
  EXPECT_EQ(fake.output.text,
            "Version 0.2.0 is out. This Zelk is version 0.2.0-alpha.15.\n"
            "Fetched and checked: size and SHA-256 are the ones the website names.\n" +
                std::string(windows ? "The installer runs now, without a window, and needs a few seconds. The apps "
                                      "keep running.\n"
                                    : "The fetched program runs now and needs a few seconds. The apps keep "
                                      "running.\n"));
  EXPECT_EQ(wait_for_marker(home.path() / "update" / "Zelk-0.2.0-setup.exe"),
            windows ? "/VERYSILENT\n/SUPPRESSMSGBOXES\n/NORESTART\n" : "");
}

}  // namespace
}  // namespace zelk
