#include "tar_check.h"

#include <gtest/gtest.h>

#include <string>

#include "files.h"
#include "platform.h"
#include "test_folder.h"
#include "test_tar.h"

namespace zelk {
namespace {

struct TarCase {
  const char* what;
  std::string bytes;
  std::string detail;  // empty: the archive is taken
};

std::string refusal(const std::filesystem::path& file, const std::string& detail) {
  return path_to_utf8(file) + " cannot be put back: " + detail +
         ". The backup is damaged or unsafe, so nothing was restored. Restore from another copy of it, or from a "
         "backup you made yourself with \"zelk backup\".";
}

TEST(CheckVolumeTar, RefusesWhatWouldLeaveTheVolumeOrIsCutOrDamaged) {
  const std::string body(2000, 'b');
  const std::string big = tar_header({"big", '0', body.size(), {}}) + body.substr(0, 600);
  const std::string deep = std::string(110, 'd') + "/../../x";
  const TarCase cases[] = {
      {"a good archive", tar_entry("sub/", '5', {}, 0755) + tar_file("sub/f", "hi") +
                             tar_entry("sub/l", '2', "../sub/f") + tar_entry("h", '1', "sub/f") +
                             tar_pax({{"path", std::string(150, 'n')}}) + tar_file("n", "long") +
                             tar_gnu_long('L', std::string(120, 'g')) + tar_file("g", "") +
                             tar_header({"huge", '0', 3, {}, 0644, true}) + std::string(512, 'h') + tar_end() +
                             std::string(8192, '\0'),
       ""},
      {"a link to an absolute path", tar_entry("abs", '2', "/etc") + tar_end(),
       "the entry \"abs\" is a link to \"/etc\", outside the volume"},
      {"a link that climbs out", tar_entry("sub/up", '2', "../../etc") + tar_end(),
       "the entry \"sub/up\" is a link to \"../../etc\", outside the volume"},
      {"a file beneath a link", tar_entry("data", '2', "sub") + tar_file("data/x", "hi") + tar_end(),
       "the entry \"data/x\" would be written through the link \"data\" made before it"},
      {"a name with \"..\"", tar_file("a/../../x", "") + tar_end(),
       "the entry \"a/../../x\" leads out of the volume with \"..\""},
      {"an absolute name", tar_file("/etc/cron.d/x", "") + tar_end(),
       "the entry \"/etc/cron.d/x\" has an absolute name"},
      {"a hard link out", tar_entry("h", '1', "../outside") + tar_end(),
       "the entry \"h\" is a hard link to \"../outside\", outside the volume"},
      {"a device", tar_entry("dev\x1b]0;x\a", '3') + tar_end(), "the entry \"dev\\x1b]0;x\\x07\" is a device"},
      {"a fifo", tar_entry("ff", '6') + tar_end(), "the entry \"ff\" is a named pipe (fifo)"},
      {"a set-user bit", tar_file("run", "x", 04755) + tar_end(),
       "the entry \"run\" has the set-user or set-group bit"},
      {"a set-group folder", tar_entry("shared/", '5', {}, 02775) + tar_end(),
       "the entry \"shared/\" has the set-user or set-group bit"},
      {"a cut at a header", tar_file("a", "hi") + tar_entry("b", '5').substr(0, 300),
       "it ends before the archive's end"},
      {"no end", tar_file("a", "hi"), "it ends before the archive's end"},
      {"a cut inside a file", big, "it ends inside the entry \"big\""},
      {"a wrong checksum", tar_header({"f", '0', 0, {}, 0644, false, true}) + tar_end(),
       "the header of the entry \"f\" has a wrong checksum"},
      {"a pax path to \"../x\"", tar_pax({{"path", "../x"}}) + tar_file("x", "") + tar_end(),
       "the entry \"../x\" leads out of the volume with \"..\""},
      {"a GNU long name", tar_gnu_long('L', deep) + tar_file("x", "") + tar_end(),
       "the entry \"" + deep + "\" leads out of the volume with \"..\""},
  };
  TestFolder folder;
  for (const TarCase& c : cases) {
    const std::filesystem::path file = folder.path() / "torvo-keep-files.tar";
    ASSERT_TRUE(write_file_atomically(file, c.bytes));
    auto checked = check_volume_tar(file);
    if (c.detail.empty()) {
      EXPECT_TRUE(checked) << c.what << ": " << checked.error();
    } else {
      EXPECT_EQ(checked ? std::string("<taken>") : checked.error(), refusal(file, c.detail)) << c.what;
    }
  }
}

}  // namespace
}  // namespace zelk
