#include <gtest/gtest.h>

#include <string>

#include "files.h"
#include "page.h"
#include "platform.h"

namespace zelk {
namespace {

TEST(PageText, IsTheFileBesideTheCodeByteForByte) {
  const auto source = read_file(path_from_utf8(ZELK_SOURCE_DIR) / "src" / "page.html");
  ASSERT_TRUE(source) << source.error();
  EXPECT_EQ(page_html(), *source);
}

TEST(PageText, EndsEveryLineWithCarriageReturnAndLineFeed) {
  const std::string_view text = page_html();
  ASSERT_TRUE(text.starts_with("<!DOCTYPE html>\r\n"));
  ASSERT_TRUE(text.ends_with("</html>\r\n"));
  std::size_t bare = 0;
  for (std::size_t i = 0; i < text.size(); ++i) {
    if (text[i] == '\n' && (i == 0 || text[i - 1] != '\r')) ++bare;
    if (text[i] == '\r' && (i + 1 == text.size() || text[i + 1] != '\n')) ++bare;
  }
  EXPECT_EQ(bare, 0u);
}

TEST(PageText, DeclaresItsContentPolicyAndLoadsNothingFromOutside) {
  const std::string_view text = page_html();
  EXPECT_NE(text.find("<meta http-equiv=\"Content-Security-Policy\" content=\"default-src 'none'; "
                      "style-src 'unsafe-inline'; script-src 'unsafe-inline'\">"),
            std::string_view::npos);
  for (std::string_view outside : {"src=\"http", "href=\"http", "url(", "@import", "<link", "<iframe"}) {
    EXPECT_EQ(text.find(outside), std::string_view::npos) << outside;
  }
  // One style block and one script; "ready" is the script's last word.
  const auto count = [&](std::string_view what) {
    std::size_t n = 0;
    for (auto at = text.find(what); at != std::string_view::npos; at = text.find(what, at + 1)) ++n;
    return n;
  };
  EXPECT_EQ(count("<style>"), 1u);
  EXPECT_EQ(count("<script>"), 1u);
  const std::string_view script = text.substr(text.find("<script>"));
  EXPECT_EQ(count("send(\"ready\")"), 1u);
  EXPECT_NE(script.find("send(\"ready\");\r\n</script>"), std::string_view::npos);
}

}  // namespace
}  // namespace zelk
