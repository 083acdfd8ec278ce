#include <gtest/gtest.h>

#include <array>
#include <fstream>
#include <string_view>

#include "platform.h"
#include "scoped_env.h"
#include "test_folder.h"

namespace zelk {
namespace {

using Parts = std::vector<std::string_view>;

TEST(EnvPathJoin, AppendsEachPartToTheVariablesValueAsItIs) {
  const TestFolder folder;
  const std::string base = path_to_utf8(folder.path() / "Lokal \u00c4pp D\u00e4ta");
  const struct {
    const char* label;
    std::optional<std::string> value;
    Parts parts;
    std::optional<std::filesystem::path> expected;
  } cases[] = {
      {"unset", std::nullopt, {"Programs", "x.exe"}, std::nullopt},
      {"unset without parts", std::nullopt, {}, std::nullopt},
      {"set", base, {"Programs", "Podman Desktop", "Podman Desktop.exe"},
       path_from_utf8(base) / "Programs" / "Podman Desktop" / "Podman Desktop.exe"},
      {"set without parts", base, {}, path_from_utf8(base)},
      {"parts beyond ASCII", base, {"\u00e9t\u00e9", "\xF0\x9F\x98\x80.exe"},
       path_from_utf8(base) / path_from_utf8("\u00e9t\u00e9") / path_from_utf8("\xF0\x9F\x98\x80.exe")},
      {"empty: a relative path of the parts", "", {"Programs", "a.exe"},
       std::filesystem::path("Programs") / "a.exe"},
      {"not trimmed", " x ", {"a"}, std::filesystem::path(" x ") / "a"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.label);
    const ScopedEnv variable("ZELK_TEST_FOLDER", c.value);
    EXPECT_EQ(env_path_join("ZELK_TEST_FOLDER", c.parts), c.expected);
  }
}

// The working folder for one scope, for the candidates an empty variable makes relative.
class ScopedWorkingFolder {
 public:
  explicit ScopedWorkingFolder(const std::filesystem::path& folder) : before_(std::filesystem::current_path()) {
    std::filesystem::current_path(folder);
  }
  ~ScopedWorkingFolder() {
    std::error_code ignored;
    std::filesystem::current_path(before_, ignored);
  }
  ScopedWorkingFolder(const ScopedWorkingFolder&) = delete;
  ScopedWorkingFolder& operator=(const ScopedWorkingFolder&) = delete;

 private:
  std::filesystem::path before_;
};

enum Candidate { UserFolder, OlderUserFolder, MachineFolder, Nowhere };
enum class Variable { Unset, Empty, Set };

void make_entry(const std::filesystem::path& path, bool as_folder) {
  std::filesystem::create_directories(as_folder ? path : path.parent_path());
  if (!as_folder) std::ofstream(path, std::ios::binary) << "MZ";
}

TEST(FindPodmanDesktop, TakesTheFirstCandidateThatExists) {
  const struct {
    const char* label;
    Variable local;
    Variable program_files;
    std::array<bool, 3> present;  // user folder, older user folder, machine folder
    Candidate found;
    bool as_folder = false;
  } cases[] = {
      {"nothing set", Variable::Unset, Variable::Unset, {true, true, true}, Nowhere},
      {"nothing installed", Variable::Set, Variable::Set, {false, false, false}, Nowhere},
      {"all three: the user folder wins", Variable::Set, Variable::Set, {true, true, true}, UserFolder},
      {"both user folders: Podman Desktop wins", Variable::Set, Variable::Unset, {true, true, false}, UserFolder},
      {"the older user folder", Variable::Set, Variable::Set, {false, true, true}, OlderUserFolder},
      {"below Program Files", Variable::Set, Variable::Set, {false, false, true}, MachineFolder},
      {"LOCALAPPDATA unset", Variable::Unset, Variable::Set, {true, true, true}, MachineFolder},
      {"ProgramFiles unset", Variable::Set, Variable::Unset, {false, false, true}, Nowhere},
      {"a folder of that name counts", Variable::Set, Variable::Set, {false, true, false}, OlderUserFolder, true},
      {"empty LOCALAPPDATA: relative to the working folder", Variable::Empty, Variable::Set, {true, false, true},
       UserFolder},
      {"empty LOCALAPPDATA, nothing in the working folder", Variable::Empty, Variable::Set, {false, false, true},
       MachineFolder},
      {"both empty: the older folder in the working folder", Variable::Empty, Variable::Empty, {false, true, false},
       OlderUserFolder},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.label);
    const TestFolder folder;
    const std::filesystem::path work = folder.path() / "work";
    std::filesystem::create_directories(work);
    const ScopedWorkingFolder working(work);
    const auto base = [&](Variable v, std::string_view name) -> std::optional<std::string> {
      if (v == Variable::Unset) return std::nullopt;
      if (v == Variable::Empty) return std::string();
      return path_to_utf8(folder.path() / path_from_utf8(name));
    };
    const std::optional<std::string> local = base(c.local, "Users\\J\u00f6rg\\AppData\\Local");
    const std::optional<std::string> program_files = base(c.program_files, "Program Files");
    const ScopedEnv local_env("LOCALAPPDATA", local);
    const ScopedEnv program_files_env("ProgramFiles", program_files);
    // Where each candidate lies; an empty variable's candidate is relative to the working folder.
    const auto folder_of = [&](const std::optional<std::string>& value) {
      return value && !value->empty() ? path_from_utf8(*value) : std::filesystem::path();
    };
    const std::array<std::filesystem::path, 3> candidates = {
        folder_of(local) / "Programs" / "Podman Desktop" / "Podman Desktop.exe",
        folder_of(local) / "Programs" / "podman-desktop" / "Podman Desktop.exe",
        folder_of(program_files) / "Podman Desktop" / "Podman Desktop.exe",
    };
    for (std::size_t i = 0; i < 3; ++i) {
      if (c.present[i]) make_entry(candidates[i].is_relative() ? work / candidates[i] : candidates[i], c.as_folder);
    }
    const std::optional<std::filesystem::path> found = find_podman_desktop();
    if (c.found == Nowhere) {
      EXPECT_EQ(found, std::nullopt);
    } else {
      EXPECT_EQ(found, candidates[c.found]);
    }
  }
}

}  // namespace
}  // namespace zelk
