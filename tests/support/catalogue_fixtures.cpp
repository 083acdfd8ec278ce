#include "catalogue_fixtures.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <fstream>

namespace zelk {

namespace {

std::string with_line_ends(std::string_view lines, std::string_view line_end) {
  std::string text;
  for (char c : lines) {
    if (c == '\n') {
      text += line_end;
    } else {
      text += c;
    }
  }
  return text;
}

std::string replaced(std::string text, std::string_view from, std::string_view to) {
  for (std::size_t at = text.find(from); at != std::string::npos;
       at = text.find(from, at + to.size())) {
    text.replace(at, from.size(), to);
  }
  return text;
}

}  // namespace

std::string sample_recipe_with_volume(std::string_view id, std::string_view volume,
                                      std::string_view name, unsigned port) {
  std::string text =
      "services:\n"
      "  @ID@:\n"
      "    image: docker.io/library/nginx:1.27.3\n"
      "    ports:\n"
      "      - \"127.0.0.1:${TORVO_PORT}:80\"\n"
      "    volumes:\n"
      "      - data:/data\n"
      "volumes:\n"
      "  data:\n"
      "    name: @VOLUME@\n"
      "x-zelk:\n"
      "  format: 1\n"
      "  id: @ID@\n"
      "  name: @NAME@\n"
      "  category: Test\n"
      "  summary: An app for tests.\n"
      "  port: @PORT@\n"
      "  ready: /\n";
  text = replaced(std::move(text), "@VOLUME@", volume);
  text = replaced(std::move(text), "@ID@", id);
  text = replaced(std::move(text), "@NAME@", name);
  return replaced(std::move(text), "@PORT@", std::to_string(port));
}

std::string sample_recipe(std::string_view id, std::string_view name, unsigned port,
                          std::string_view line_end) {
  return with_line_ends(
      sample_recipe_with_volume(id, "torvo-" + std::string(id) + "-data", name, port), line_end);
}

std::string sample_recipe_with_helper(std::string_view id, std::string_view helper,
                                      std::string_view name, unsigned port) {
  std::string text =
      "services:\n"
      "  @ID@:\n"
      "    image: docker.io/library/nginx:1.27.3\n"
      "    ports:\n"
      "      - \"127.0.0.1:${TORVO_PORT}:80\"\n"
      "    depends_on:\n"
      "      - @HELPER@\n"
      "  @HELPER@:\n"
      "    image: docker.io/library/postgres:17.2\n"
      "    volumes:\n"
      "      - store:/var/lib/postgresql/data\n"
      "volumes:\n"
      "  store:\n"
      "    name: torvo-@ID@-@HELPER@\n"
      "x-zelk:\n"
      "  format: 2\n"
      "  id: @ID@\n"
      "  name: @NAME@\n"
      "  category: Test\n"
      "  summary: An app with a helper, for tests.\n"
      "  port: @PORT@\n"
      "  ready: /\n";
  text = replaced(std::move(text), "@HELPER@", helper);
  text = replaced(std::move(text), "@ID@", id);
  text = replaced(std::move(text), "@NAME@", name);
  return replaced(std::move(text), "@PORT@", std::to_string(port));
}

std::string padded_to(std::string text, std::size_t size) {
  if (text.size() + 3 >= size) std::abort();
  const std::size_t missing = size - text.size();
  // "#" + filler + "\n" inserted before the final line: exactly `missing` bytes.
  text.insert(0, "#" + std::string(missing - 2, 'x') + "\n");
  return text;
}

void put_file(const std::filesystem::path& path, std::string_view bytes) {
  std::filesystem::create_directories(path.parent_path());
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
  out.close();
  ASSERT_TRUE(out) << "could not write " << path;
}

}  // namespace zelk
