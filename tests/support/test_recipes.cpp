#include "test_recipes.h"

#include <gtest/gtest.h>

namespace zelk {

// One container with two secrets, a setting, a size on disk and a fallback image.
const char* const solo_recipe_text = R"(services:
  solo:
    image: localhost/zelk/solo:1.0
    environment:
      KEY: ${SOLO_KEY}
      TOKEN: ${SOLO_TOKEN}
      COLOUR: ${COLOUR:-blue}
    ports:
      - 127.0.0.1:${TORVO_PORT}:8080
    volumes:
      - data:/data
volumes:
  data:
    name: torvo-solo-data
x-zelk:
  format: 1
  id: solo
  name: Solo
  category: Tests
  summary: One container
  port: 40123
  ready: /health
  open: /app
  disk-mb: 1024
  fallback-image: mirror.example/zelk/solo:1.0
  secrets:
    SOLO_KEY: 16
    SOLO_TOKEN: 32
)";

// An app with a helper before it and one after it.
const char* const duo_recipe_text = R"(services:
  duo:
    image: localhost/zelk/duo:1.0
    command:
      - serve
    environment:
      DB_PASSWORD: ${DUO_SECRET}
    ports:
      - 127.0.0.1:${TORVO_PORT}:8080
    depends_on:
      - db
  db:
    image: localhost/zelk/db:1.0
    environment:
      PASSWORD: ${DUO_SECRET}
  tail:
    image: localhost/zelk/tail:1.0
    depends_on:
      - duo
x-zelk:
  format: 2
  id: duo
  name: Duo
  category: Tests
  summary: With helpers
  port: 40200
  ready: /
  secrets:
    DUO_SECRET: 16
)";

// An app that joins Solo's network.
std::string user_recipe_text(std::string_view starts_used) {
  std::string text = R"(services:
  user:
    image: localhost/zelk/user:1.0
    ports:
      - 127.0.0.1:${TORVO_PORT}:8080
    networks:
      - solo
      - ghost
networks:
  solo:
    name: torvo-solo
    external: true
  ghost:
    name: torvo-ghost
    external: true
x-zelk:
  format: 2
  id: user
  name: User
  category: Tests
  summary: Uses Solo
  port: 40300
  ready: /
)";
  if (!starts_used.empty()) text += "  starts-used: " + std::string(starts_used) + "\n";
  return text;
}

std::string plain_recipe_text(std::string_view id, std::string_view name) {
  return "services:\n  " + std::string(id) + ":\n    image: localhost/zelk/" + std::string(id) +
         ":1.0\n    ports:\n      - 127.0.0.1:${TORVO_PORT}:8080\nx-zelk:\n  format: 1\n  id: " + std::string(id) +
         "\n  name: " + std::string(name) + "\n  category: Tests\n  summary: Plain\n  port: 40400\n  ready: /\n";
}

Recipe read_test_recipe(std::string_view text) {
  auto recipe = read_recipe(text);
  EXPECT_TRUE(recipe) << recipe.error();
  return recipe.value_or(Recipe{});
}

Recipe recipe_named(std::string id, std::uint16_t port) {
  Recipe recipe;
  recipe.id = id;
  recipe.name = "App " + id;
  recipe.container = "torvo-" + id;
  recipe.port = port;
  recipe.ready = "/health";
  recipe.open = "/";
  return recipe;
}

}  // namespace zelk
