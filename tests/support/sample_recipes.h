#pragma once
/// Recipe texts the tests start from: each passes every rule, and a test changes one thing.

#include <string>
#include <string_view>

namespace zelk::samples {

/// One container, format 1: a secret, a setting, a port reference, a "$$", a volume, and the
/// network of another app that it does not start.
inline constexpr std::string_view notes_recipe = R"(# Notes: a small app to keep notes in.
name: torvo-notes
services:
  notes:
    image: docker.io/example/notes:1.4.2
    container_name: torvo-notes
    restart: unless-stopped
    ports:
      - "127.0.0.1:${TORVO_PORT}:8080"
    environment:
      NOTES_PORT: "8080"
      NOTES_URL: http://localhost:${TORVO_PORT}/
      NOTES_KEY: ${NOTES_KEY}
      NOTES_ZONE: ${NOTES_ZONE:-Europe/Berlin}
      NOTES_PRICE: a$$b
      NOTES_EMPTY:
    volumes:
      - data:/var/lib/notes
    networks:
      - models
volumes:
  data:
    name: torvo-notes-data
networks:
  models:
    name: torvo-ollama
    external: true
x-zelk:
  format: 1
  id: notes
  name: Notes
  category: Writing
  summary: Keep notes in your browser.
  port: 34567
  ready: /health
  secrets:
    NOTES_KEY: 32
  lesson: https://example.org/notes
  disk-mb: 300
  starts-used: false
)";

/// Format 2 with helpers: the app depends on "db", "indexer" depends on the app, "cache"
/// depends on "indexer"; values made of several parts; the app's own network.
inline constexpr std::string_view wiki_recipe = R"(name: torvo-wiki
services:
  indexer:
    image: docker.io/example/indexer@sha256:0123456789abcdef0123456789abcdef0123456789abcdef0123456789abcdef
    depends_on:
      - wiki
    environment:
      WIKI_TITLE: ${WIKI_TITLE:-Other title}
      INDEX_TOKEN: ${INDEX_TOKEN}
    volumes:
      - index:/index
  wiki:
    image: ghcr.io/example/wiki:2.0.1
    command:
      - wiki
      - --serve
    depends_on:
      - db
    ports:
      - 127.0.0.1:${TORVO_PORT}:3000
    environment:
      DB_URL: postgres://wiki:${DB_PASSWORD}@db:5432/${WIKI_DB:-wiki}
      WIKI_TITLE: ${WIKI_TITLE:-My wiki}
      WIKI_ADDRESS: http://127.0.0.1:${TORVO_PORT}${WIKI_BASE:-/}
    volumes:
      - files:/srv/files
      - files:/srv/backup
    networks:
      - own
  db:
    image: registry.example.org:5000/library/postgres:16.4
    environment:
      POSTGRES_PASSWORD: ${DB_PASSWORD}
      POSTGRES_DB: ${WIKI_DB:-other}
      PGDATA: /var/lib/postgresql/data/pg
    volumes:
      - db:/var/lib/postgresql/data
  cache:
    image: docker.io/library/redis:7.4
    command:
      - redis-server
    depends_on:
      - indexer
volumes:
  files:
    name: torvo-wiki-files
  db:
    name: torvo-wiki-db
  index:
    name: torvo-wiki-index-2
networks:
  own:
    name: torvo-wiki
x-zelk:
  format: 2
  id: wiki
  name: Wiki café
  category: Knowledge
  summary: A wiki for your own notes.
  port: "+33100"
  ready: /api/health
  open: /start
  fallback-image: docker.io/example/wiki:2.0.1
  secrets:
    DB_PASSWORD: 24
    INDEX_TOKEN: 16
)";

}  // namespace zelk::samples
