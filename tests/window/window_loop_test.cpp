#include "window_loop.h"

#include <gtest/gtest.h>

#include <atomic>
#include <condition_variable>
#include <functional>
#include <mutex>
#include <thread>

#include "catalogue_fixtures.h"
#include "command_ends.h"
#include "documents.h"
#include "event_queue.h"
#include "files.h"
#include "loop_rig.h"
#include "page_view.h"
#include "platform.h"
#include "scoped_env.h"
#include "shelf.h"
#include "tray_menu.h"
#include "zelk/backup.h"

namespace zelk {
namespace {

using namespace std::chrono_literals;

const std::string title = "Valdroven AI Zelk 0.2.0-alpha.15";
const std::string starting = "Starting what was running before ...";

MenuItem item(std::string id, std::string text, bool enabled = true) {
  return MenuItem{MenuItem::Kind::Item, std::move(id), std::move(text), enabled, {}};
}
MenuItem separator() { return MenuItem{MenuItem::Kind::Separator, {}, {}, true, {}}; }
MenuItem app_menu(std::string text, const std::string& id, std::string open, bool open_enabled, bool stop_enabled,
                  std::string address) {
  return MenuItem{MenuItem::Kind::Submenu,
                  {},
                  std::move(text),
                  true,
                  {item("open:" + id, std::move(open), open_enabled), item("stop:" + id, "Stop", stop_enabled),
                   separator(), item({}, std::move(address), false)}};
}

// ---- the start ----

TEST(WindowLoop, InitShowsTheIconWithTheWholeMenuAndStartsRefreshResumeAndUpdates) {
  LoopRig rig;
  EXPECT_EQ(rig.start(), ControlFlow::wait());
  EXPECT_EQ(rig.shell.calls, std::vector<std::string>{"add_tray_icon"});
  EXPECT_EQ(rig.shell.tooltip, title);
  const TrayMenu expected{{
      item({}, title, false),
      item("window", "Open the Zelk"),
      separator(),
      app_menu("n8n", "n8n", "Start and open", false, false, ""),
      app_menu("Gitea", "gitea", "Start and open", false, false, ""),
      app_menu("Open WebUI", "open-webui", "Start and open", false, false, ""),
      app_menu("Ollama", "ollama", "Start and open", false, false, ""),
      separator(),
      item({}, starting, false),
      item("refresh", "Refresh"),
      item("data", "Open the data folder"),
      item("update", "Look for a newer version"),
      separator(),
      item("quit", "Quit (apps keep running)"),
  }};
  EXPECT_EQ(rig.shell.menu, expected);
  EXPECT_EQ(rig.workers.started, 3u);
  ASSERT_TRUE(rig.update_thread);
  EXPECT_EQ(rig.app().status_line, starting);
  EXPECT_EQ(rig.app().runtime_name, "Podman");
  EXPECT_EQ(rig.app().runtime_ok, std::nullopt);
  EXPECT_TRUE(rig.app().resuming);
  EXPECT_TRUE(rig.shell.scripts.empty());  // no window, so nothing is rendered

  // The first refresh and the resume come back: the apps get their states and addresses.
  rig.settle();
  EXPECT_FALSE(rig.app().resuming);
  EXPECT_EQ(rig.app().status_line, "Podman is running");
  EXPECT_EQ(rig.item("open:gitea"), item("open:gitea", "Install and open"));
  EXPECT_EQ(rig.submenu("gitea").text, "Gitea  -  not installed");
  EXPECT_EQ(rig.submenu("gitea").items.at(3).text, "http://127.0.0.1:33009/");
  // With the window closed nothing reads the states again by itself.
  EXPECT_EQ(rig.app().refreshes_started, 2u);  // the first one, and the one after the resume
  EXPECT_TRUE(rig.workers.held.empty());
}

TEST(WindowLoop, WithoutItsIconTheProgramEndsWithCode1AndIgnoresEveryLaterEvent) {
  LoopRig rig;
  rig.shell.icon_error = "no notification area";
  EXPECT_EQ(rig.start(), ControlFlow::exit(1));
  EXPECT_EQ(rig.loop->app(), nullptr);
  EXPECT_EQ(rig.workers.started, 0u);
  EXPECT_EQ(rig.user(ShowWindow{}), ControlFlow::wait());
  EXPECT_EQ(rig.user(MenuClicked{"refresh"}), ControlFlow::wait());
  EXPECT_EQ(rig.shell.calls, std::vector<std::string>{"add_tray_icon"});
}

TEST(WindowLoop, UserEventsBeforeTheStartAreDropped) {
  LoopRig rig;
  rig.loop = make_window_loop(false, rig.shell, rig.proxy,
                              WindowServices{rig.world.services(), rig.workers.starter(), rig.clock, {}, {}, {}});
  EXPECT_EQ(rig.user(MenuClicked{"quit"}), ControlFlow::wait());
  EXPECT_TRUE(rig.shell.calls.empty());
}

TEST(WindowLoop, TheWindowSwitchOpensTheWindowAtTheStartAndRendersIt) {
  LoopRig rig;
  const ControlFlow flow = rig.start(true);
  EXPECT_EQ(rig.shell.calls, (std::vector<std::string>{"add_tray_icon", "open_window"}));
  EXPECT_EQ(rig.shell.scripts_of("render").size(), 1u);
  EXPECT_EQ(flow, ControlFlow::wait_until(rig.clock->now() + 10s));
}

TEST(WindowLoop, QuitEndsWithCode0WithoutWaitingForTheWorkersWhichNeedNothingOfTheLoop) {
  LoopRig rig;
  rig.world.runner->on("podman", {"stop"}, ScriptedRunner::ok());
  rig.world.runner->on("podman", {"ps"}, ScriptedRunner::ok("torvo-gitea\trunning\t\n"));
  rig.start();
  rig.settle();
  rig.page("stop:gitea");
  ASSERT_EQ(rig.workers.held.size(), 1u);
  const std::size_t runs = rig.world.runner->runs().size();
  EXPECT_EQ(rig.user(MenuClicked{"quit"}), ControlFlow::exit(0));
  EXPECT_EQ(rig.world.runner->runs().size(), runs);  // no app is stopped by quitting

  // The loop is gone; the command still runs to its end on what it shares.
  rig.loop.reset();
  rig.workers.run_all();
  const auto events = rig.proxy->events();
  ASSERT_FALSE(events.empty());
  EXPECT_TRUE(std::get<CommandDone>(events.back()).result);
  EXPECT_EQ(rig.world.runner->run_lines().back(), "podman stop torvo-gitea");
}

// ---- refreshes and wake-ups ----

TEST(WindowLoop, RefreshTicksStartARefreshOnlyAfterThreeSecondsAndNeverWhileAnAppIsBusy) {
  LoopRig rig;
  rig.start();
  rig.drop_workers();
  const std::size_t at_start = rig.workers.started;

  rig.clock->advance(2999ms);
  rig.user(RefreshTick{});
  EXPECT_EQ(rig.workers.started, at_start);
  rig.clock->advance(1ms);  // 3.000 s after the start's refresh
  rig.user(RefreshTick{});
  EXPECT_EQ(rig.workers.started, at_start + 1);
  rig.clock->advance(2999ms);
  rig.user(RefreshTick{});
  EXPECT_EQ(rig.workers.started, at_start + 1);
  rig.clock->advance(1ms);
  rig.handle(WaitDeadlineReached{});  // a passed deadline counts as a tick
  EXPECT_EQ(rig.workers.started, at_start + 2);
  EXPECT_EQ(rig.app().refreshes_started, 3u);

  rig.page("open:gitea");
  EXPECT_EQ(rig.workers.started, at_start + 3);  // the command
  rig.clock->advance(60s);
  rig.user(RefreshTick{});
  EXPECT_EQ(rig.workers.started, at_start + 3);
}

TEST(WindowLoop, TheLoopWakesToRefreshOnlyWhileTheWindowIsOpen) {
  LoopRig rig;
  EXPECT_EQ(rig.start(), ControlFlow::wait());
  EXPECT_EQ(rig.user(RefreshTick{}), ControlFlow::wait());
  const LoopClock::time_point refreshed = rig.app().last_refresh;

  EXPECT_EQ(rig.user(ShowWindow{}), ControlFlow::wait_until(refreshed + 10s));
  rig.clock->advance(8s);
  EXPECT_EQ(rig.page("nothing"), ControlFlow::wait_until(rig.clock->now() + 3s));  // never sooner than 3 s
  rig.handle(WindowCloseRequested{});
  EXPECT_FALSE(rig.shell.open);
  EXPECT_EQ(rig.page("nothing"), ControlFlow::wait());
  EXPECT_EQ(rig.shell.calls.back(), "close_window");
}

// ---- states reads ----

TEST(WindowLoop, TheTooltipNamesTheReadyAppsInCatalogueOrder) {
  LoopRig rig;
  rig.start();
  rig.drop_workers();
  rig.user(rig.read(1, {{"ollama", AppState::ready()}, {"gitea", AppState::ready()}, {"n8n", AppState::starting()}}));
  EXPECT_EQ(rig.shell.tooltip, title + ": Gitea, Ollama running");
  rig.user(rig.read(2, {{"n8n", AppState::ready()}}));
  EXPECT_EQ(rig.shell.tooltip, title + ": n8n running");
  rig.user(StatesRead{3, std::unexpected(std::string("podman broke"))});
  EXPECT_EQ(rig.shell.tooltip, title);
}

TEST(WindowLoop, AStaleReadArrivingLastChangesNothing) {
  LoopRig rig;
  rig.start();  // refresh 1
  rig.drop_workers();
  rig.user(RefreshTick{});  // too soon: no refresh
  rig.clock->advance(5s);
  rig.user(RefreshTick{});  // refresh 2
  rig.user(rig.read(2, {{"gitea", AppState::ready()}}, "Docker"));
  const TrayMenu menu = rig.shell.menu;
  const std::string tooltip = rig.shell.tooltip;
  rig.user(rig.read(1, {{"gitea", AppState::state("exited")}}));
  EXPECT_EQ(rig.entry("gitea").status, AppState::ready());
  EXPECT_EQ(rig.app().runtime_name, "Docker");
  EXPECT_EQ(rig.app().status_line, "Docker is running");
  EXPECT_EQ(rig.shell.menu, menu);
  EXPECT_EQ(rig.shell.tooltip, tooltip);
  rig.user(StatesRead{1, std::unexpected(std::string("late failure"))});
  EXPECT_EQ(rig.entry("gitea").status, AppState::ready());
  EXPECT_EQ(rig.app().runtime_ok, true);
}

TEST(WindowLoop, AFinishedCommandIsClearedOnlyByAReadStartedAfterIt) {
  LoopRig rig;
  rig.start();  // refresh 1 is still out
  rig.drop_workers();
  rig.page("open:gitea");
  rig.drop_workers();
  rig.user(CommandDone{{}, rig.entry("gitea").recipe});  // starts refresh 2
  EXPECT_TRUE(rig.entry("gitea").finished);
  EXPECT_EQ(rig.app().refreshes_started, 2u);

  // The read that began before the command ended knows nothing of it.
  rig.user(rig.read(1, {}));
  EXPECT_EQ(rig.entry("gitea").busy, "open");
  EXPECT_EQ(rig.submenu("gitea").text, "Gitea  -  starting ...");
  rig.user(rig.read(2, {{"gitea", AppState::ready()}}));
  EXPECT_EQ(rig.entry("gitea").busy, std::nullopt);
  EXPECT_FALSE(rig.entry("gitea").finished);
  EXPECT_EQ(rig.submenu("gitea").text, "Gitea  -  running");
}

TEST(WindowLoop, AFailedReadAlsoClearsAFinishedCommand) {
  LoopRig rig;
  rig.start();
  rig.settle();
  rig.page("open:gitea");
  rig.drop_workers();
  rig.user(CommandLine{"Pulling ...", rig.entry("gitea").recipe});
  rig.user(CommandDone{{}, rig.entry("gitea").recipe});
  rig.user(StatesRead{rig.app().refreshes_started, std::unexpected(std::string("gone"))});
  EXPECT_EQ(rig.entry("gitea").busy, std::nullopt);
  EXPECT_EQ(rig.entry("gitea").message, "");
  EXPECT_EQ(rig.entry("gitea").status, AppState::unknown());
}

TEST(WindowLoop, EveryEventFromManyThreadsArrivesAndTheCommandDoneAfterThemClearsTheBusyWord) {
  LoopRig rig;
  rig.start();
  rig.settle();
  for (const char* id : {"n8n", "gitea", "open-webui", "ollama"}) rig.page(std::string("open:") + id);
  rig.drop_workers();

  std::mutex mutex;
  std::condition_variable woken;
  auto queue = std::make_shared<EventQueue>([&] { woken.notify_one(); });
  constexpr int per_thread = 5000;
  std::vector<std::shared_ptr<const Recipe>> recipes;
  for (const AppEntry& e : rig.app().entries) recipes.push_back(e.recipe);
  std::vector<std::jthread> senders;
  for (std::size_t t = 0; t < recipes.size(); ++t) {
    senders.emplace_back([&, t] {
      for (int i = 0; i < per_thread; ++i) {
        ASSERT_TRUE(queue->send(CommandLine{std::to_string(i), recipes[t]}));
      }
      ASSERT_TRUE(queue->send(CommandDone{{}, recipes[t]}));
    });
  }

  std::map<std::string, int> next_line;
  std::size_t handled = 0;
  const std::size_t expected = recipes.size() * (per_thread + 1);
  while (handled < expected) {
    std::deque<UserEvent> events = queue->take_all();
    if (events.empty()) {
      std::unique_lock lock(mutex);
      woken.wait_for(lock, 10ms);
      continue;
    }
    for (UserEvent& event : events) {
      if (const auto* line = std::get_if<CommandLine>(&event)) {
        ASSERT_EQ(line->line, std::to_string(next_line[line->recipe->id]++)) << line->recipe->id;
        ASSERT_FALSE(rig.entry(line->recipe->id).finished);
      } else {
        ASSERT_EQ(next_line[std::get<CommandDone>(event).recipe->id], per_thread);
      }
      rig.user(std::move(event));
      ++handled;
    }
  }
  senders.clear();
  for (const AppEntry& e : rig.app().entries) {
    EXPECT_TRUE(e.finished) << e.recipe->id;
    EXPECT_EQ(e.message, std::to_string(per_thread - 1));
  }
  rig.drop_workers();
  rig.user(rig.read(rig.app().refreshes_started, {}));
  for (const AppEntry& e : rig.app().entries) {
    EXPECT_EQ(e.busy, std::nullopt) << e.recipe->id;
    EXPECT_EQ(e.message, "");
  }
}

TEST(WindowLoop, ProgressLinesShowShortenedOnlyWhileTheAppIsBusy) {
  LoopRig rig;
  rig.start();
  rig.settle();
  rig.user(CommandLine{"Pulling ...", rig.entry("gitea").recipe});
  EXPECT_EQ(rig.entry("gitea").message, "");
  rig.page("open:gitea");
  rig.drop_workers();
  const std::string long_line(95, 'x');
  rig.user(CommandLine{"\r\n" + long_line + "\r", rig.entry("gitea").recipe});
  EXPECT_EQ(rig.entry("gitea").message, std::string(90, 'x') + " ...");
  rig.user(CommandLine{std::string(90, 'y') + "\r", rig.entry("gitea").recipe});
  EXPECT_EQ(rig.entry("gitea").message, std::string(90, 'y'));
}

// ---- the status line and its note ----

TEST(WindowLoop, ACommandErrorHoldsTheStatusLineUntilTheNextPageWord) {
  LoopRig rig;
  rig.start();
  rig.settle();
  rig.page("open:gitea");
  rig.drop_workers();
  rig.user(CommandDone{std::unexpected(std::string("\n  Podman could not start torvo-gitea.\nIt said: no")),
                       rig.entry("gitea").recipe});
  const std::string note = "Gitea: Podman could not start torvo-gitea.\nIt said: no";
  EXPECT_EQ(rig.app().status_line, note);
  rig.user(rig.read(rig.app().refreshes_started));
  EXPECT_EQ(rig.app().status_line, note);
  EXPECT_EQ(rig.shell.menu.items.at(rig.app().status_item).text, "Gitea: Podman could not start torvo-gitea.");
  rig.user(MenuClicked{"window"});  // not a page word: the note stays
  rig.user(rig.read(rig.app().refreshes_started));
  EXPECT_EQ(rig.app().status_line, note);
  rig.page("nothing");
  rig.user(rig.read(rig.app().refreshes_started));
  EXPECT_EQ(rig.app().status_line, "Podman is running");
}

// The page shows the whole note: what failed, then what the program said, however long; the
// tray's status item shows the first line alone, shortened after a whole word.
TEST(WindowLoop, ACommandErrorNamesTheAppOnceAndGivesWhatTheProgramSaidALineOfItsOwn) {
  struct Case {
    std::string error;
    std::string note;
    std::string tray;
  };
  const std::string refused = "Gitea could not be started: \"podman run\" failed (exit code 126).";
  const std::string cause =
      "Error: cannot listen on the TCP port: listen tcp4 127.0.0.1:33009: bind: address already in use";
  const std::string long_first = "Gitea could not be started: \"podman start torvo-gitea-db torvo-gitea\" failed (exit "
                                 "code 125).";
  const std::string long_cause =
      "Error: unable to start container: initializing source docker://localhost:5000/gitea:1.21: pinging container "
      "registry localhost:5000: Get \"https://localhost:5000/v2/\": dial tcp 127.0.0.1:5000: connect: connection "
      "refused";
  const std::vector<Case> cases{
      {refused + "\n    It said: Error: no such image", refused + "\nIt said: Error: no such image", refused},
      {refused, refused, refused},
      {refused + "\n    It said: " + cause, refused + "\nIt said: " + cause, refused},
      {long_first + "\n    It said: " + long_cause, long_first + "\nIt said: " + long_cause,
       "Gitea could not be started: \"podman start torvo-gitea-db torvo-gitea\" failed (exit code ..."},
      {"No usable container runtime was found.\n  Podman is not installed.",
       "Gitea: No usable container runtime was found.", "Gitea: No usable container runtime was found."},
      {"The volume could not be saved.\n    It said: first\n    It said: last \r\n",
       "Gitea: The volume could not be saved.\nIt said: last", "Gitea: The volume could not be saved."},
      // A tab would start the menu item's shortcut column.
      {"The volume\tcould not be saved.", "Gitea: The volume\tcould not be saved.",
       "Gitea: The volume could not be saved."},
  };
  for (const Case& c : cases) {
    LoopRig rig;
    rig.start();
    rig.settle();
    rig.page("open:gitea");
    rig.drop_workers();
    rig.user(CommandDone{std::unexpected(c.error), rig.entry("gitea").recipe});
    EXPECT_EQ(rig.app().status_note, c.note) << c.error;
    EXPECT_EQ(rig.app().status_line, c.note) << c.error;
    EXPECT_EQ(rig.shell.menu.items.at(rig.app().status_item).text, c.tray) << c.error;
  }
}

// What an action came to holds the line over the refresh that follows it and every later read,
// in the page and the tray, until the user acts again; the next action clears it at once.
TEST(WindowLoop, EveryOutcomeHoldsTheLineUntilTheUserActsAgain) {
  ScopedEnv address("ZELK_UPDATE_ADDRESS", std::nullopt);
  struct Case {
    std::string label;
    std::function<void(LoopRig&)> act;
    std::string outcome;
  };
  const std::string pad = sample_recipe("pad", "Pad", 34569);
  const std::string pad_address = "https://example.org/a/pad.yaml";
  const std::vector<Case> cases{
      {"a backup",
       [](LoopRig& rig) {
         rig.page("backup:gitea");
         rig.drop_workers();
         rig.user(CommandDone{{}, rig.entry("gitea").recipe});
       },
       "Gitea is backed up in the folder \"Valdroven AI Zelk backups\" in your user folder."},
      {"a model",
       [](LoopRig& rig) {
         rig.page("model:ollama");
         rig.drop_workers();
         rig.user(CommandDone{{}, rig.entry("ollama").recipe});
       },
       "The model llama3.2:3b is ready. In Open WebUI, choose it at the top of a new chat."},
      {"a failed start",
       [](LoopRig& rig) {
         rig.page("open:gitea");
         rig.drop_workers();
         rig.user(CommandDone{std::unexpected(std::string("Podman could not start torvo-gitea.")),
                              rig.entry("gitea").recipe});
       },
       "Gitea: Podman could not start torvo-gitea."},
      {"a forget", [](LoopRig& rig) { rig.page("forget:notes"); }, "Notes is out of the list."},
      {"a shelf recipe taken",
       [&](LoopRig& rig) {
         const ShelfOffer offer{"pad.yaml", pad_address, pad, ShelfOffer::State::New, read_recipe(pad).value(), ""};
         const ShelfView shelf{"https://example.org/a/shelf.yaml", std::nullopt, "A", {offer}};
         rig.user(ShelvesRead{std::nullopt, {shelf}});
         rig.page("shelf-take:" + pad_address);
       },
       "Pad is in the list now."},
      {"a look from the page",
       [](LoopRig& rig) {
         rig.world.runner->on("curl", {}, ScriptedRunner::ok("format 1\n"));
         rig.page("update-look");
       },
       "This is the newest version (0.2.0-alpha.15)."},
      {"a look from the tray",
       [](LoopRig& rig) {
         rig.world.runner->on("curl", {}, ScriptedRunner::failed(6, "curl: (6) Could not resolve host: zelk.app\n"));
         rig.user(MenuClicked{"update"});
       },
       "https://zelk.app/releases/latest.txt could not be fetched."},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.label);
    LoopRig rig;
    put_file(rig.folder.path() / "recipes" / "notes.yaml", sample_recipe("notes", "Notes", 34567));
    rig.start();
    rig.settle();
    c.act(rig);
    rig.settle();  // the work, and the refresh that follows it
    rig.user(rig.read(rig.app().refreshes_started));
    EXPECT_EQ(rig.app().status_line, c.outcome);
    EXPECT_EQ(rig.shell.menu.items.at(rig.app().status_item).text, c.outcome);
    rig.page("open:n8n");
    EXPECT_EQ(rig.app().status_line, "Podman is running");
    EXPECT_EQ(rig.shell.menu.items.at(rig.app().status_item).text, "Podman is running");
  }
}

TEST(WindowLoop, TheBackupLineSaysUserFolderOnlyForTheDefaultDataFolder) {
  const std::filesystem::path home = path_from_utf8("/home/ana/.torvo");
  EXPECT_EQ(backup_done_line("Gitea", home, false),
            "Gitea is backed up in the folder \"Valdroven AI Zelk backups\" in your user folder.");
  EXPECT_EQ(backup_done_line("Gitea", home, true),
            "Gitea is backed up in the folder \"" +
                path_to_utf8(path_from_utf8("/home/ana") / "Valdroven AI Zelk backups") + "\".");
  EXPECT_EQ(backup_done_line("Gitea", std::nullopt, true),
            "Gitea is backed up in the folder \"Valdroven AI Zelk backups\" in your user folder.");
}

TEST(WindowLoop, TheModelsEndSaysWhereToChooseIt) {
  LoopRig rig;
  rig.start();
  rig.settle();
  rig.page("model:ollama");
  EXPECT_EQ(rig.submenu("ollama").text, "Ollama  -  fetching a model ...");
  rig.drop_workers();
  rig.user(CommandDone{{}, rig.entry("ollama").recipe});
  EXPECT_EQ(rig.app().status_line,
            "The model llama3.2:3b is ready. In Open WebUI, choose it at the top of a new chat.");
}

TEST(WindowLoop, AFailedReadWhileResumingKeepsTheStartingLineAndShowsItsErrorAfterwards) {
  LoopRig rig;
  rig.start();
  rig.drop_workers();
  rig.user(StatesRead{1, std::unexpected(std::string("No usable container runtime was found.\n  Podman ..."))});
  EXPECT_EQ(rig.app().status_line, starting);
  EXPECT_EQ(rig.app().runtime_ok, std::nullopt);
  rig.user(Resumed{});
  EXPECT_EQ(rig.app().status_line, starting);
  rig.drop_workers();
  rig.user(StatesRead{2, std::unexpected(std::string("No usable container runtime was found.\n  Podman ..."))});
  EXPECT_EQ(rig.app().status_line, "No usable container runtime was found.");
  EXPECT_EQ(rig.app().runtime_ok, false);
}

TEST(WindowLoop, ANoteSetWhileTheRuntimeFailedGoesWhenItComesBack) {
  LoopRig rig;
  rig.start();
  rig.drop_workers();
  rig.user(Resumed{std::unexpected(std::string("Not brought back: Gitea."))});
  EXPECT_EQ(rig.app().status_line, "Not brought back: Gitea.");
  rig.drop_workers();
  rig.user(StatesRead{2, std::unexpected(std::string("Podman is not running."))});
  EXPECT_EQ(rig.app().status_line, "Not brought back: Gitea.");
  rig.user(rig.read(3));
  EXPECT_EQ(rig.app().status_note, std::nullopt);
  EXPECT_EQ(rig.app().status_line, "Podman is running");
}

TEST(WindowLoop, TheFirstNoticeOfTheCatalogueIsKeptAsTheNote) {
  LoopRig rig;
  put_file(rig.folder.path() / "recipes" / "broken.yaml", "services: [\n");
  rig.start();
  ASSERT_TRUE(rig.app().status_note);
  EXPECT_TRUE(rig.app().status_note->starts_with("The recipe ")) << *rig.app().status_note;
  rig.settle();
  EXPECT_EQ(rig.app().status_line, *rig.app().status_note);
  EXPECT_EQ(rig.app().status_line, first_line(rig.app().catalogue->notices.at(0)));
}

TEST(WindowLoop, TheFirstNoticeHoldsAfterEveryReloadAsAtTheStart) {
  LoopRig rig;
  put_file(rig.folder.path() / "recipes" / "broken.yaml", "services: [\n");
  rig.start();
  rig.settle();
  const std::string notice = first_line(rig.app().catalogue->notices.at(0));
  ASSERT_EQ(rig.app().status_line, notice);

  rig.page("refresh");
  rig.settle();
  EXPECT_EQ(rig.app().status_line, notice);

  rig.page("add:" + sample_recipe("diary", "Diary", 34568));
  rig.settle();
  EXPECT_EQ(rig.app().status_line, notice);

  // What was done holds the line until the user acts again; the next reload shows the notice.
  rig.page("forget:diary");
  rig.settle();
  EXPECT_EQ(rig.app().status_line, "Diary is out of the list.");
  rig.page("refresh");
  EXPECT_EQ(rig.app().status_line, notice);

  const std::string text = sample_recipe("pad", "Pad", 34569);
  const std::string address = "https://example.org/a/pad.yaml";
  const ShelfOffer offer{"pad.yaml", address, text, ShelfOffer::State::New, read_recipe(text).value(), ""};
  rig.user(ShelvesRead{std::nullopt, {ShelfView{"https://example.org/a/shelf.yaml", std::nullopt, "A", {offer}}}});
  rig.page("shelf-take:" + address);
  rig.settle();
  EXPECT_EQ(rig.app().status_line, "Pad is in the list now.");
  rig.page("refresh");
  rig.settle();
  EXPECT_EQ(rig.app().status_line, notice);
  EXPECT_EQ(rig.app().status_note, notice);
}

// ---- a worker that cannot do its work ----

UpdateChecked found(std::string version, bool asked);

// Whether a worker throws or its thread cannot be made, what waited for it ends: the app's
// command, the resume, the shelf request the page shows as "Fetching ...", the install.
TEST(WindowLoop, AWorkerThatFailsComesBackAsItsOwnResultAndLeavesNothingWaiting) {
  for (const bool refused : {false, true}) {
    SCOPED_TRACE(refused ? "refused" : "thrown");
    LoopRig rig;
    put_file(rig.folder.path() / "apps" / "gitea" / "running", "");  // the resume has work to do
    if (refused) {
      rig.workers.refuse = "no more threads";
    } else {
      rig.world.runner->throws = "the runtime broke";
    }
    const std::string why = refused ? "The work could not be started: no more threads"
                                    : "The work stopped on an unexpected error: the runtime broke";
    rig.start();
    rig.settle();
    EXPECT_FALSE(rig.app().resuming);
    EXPECT_EQ(rig.app().status_line, why);

    rig.page("open:gitea");
    rig.settle();
    EXPECT_EQ(rig.entry("gitea").busy, std::nullopt);
    EXPECT_TRUE(rig.item("open:gitea").enabled);
    EXPECT_EQ(rig.app().status_line, "Gitea: " + why);

    rig.user(ShowWindow{});
    rig.page("shelves");
    rig.settle();
    EXPECT_EQ(rig.shell.scripts_of("shelves"),
              std::vector<std::string>{"shelves(" + shelves_document(why, {}, "shelves") + ")"});

    rig.page("update-look");
    rig.settle();
    EXPECT_EQ(rig.app().status_line, why);

    rig.user(found("9.1.0", false));
    rig.page("update");
    rig.settle();
    ASSERT_TRUE(rig.app().update);
    EXPECT_FALSE(rig.app().update->installing);
    EXPECT_EQ(rig.app().update->problem, why);
    EXPECT_EQ(rig.item("update"), item("update", "Update to version 9.1.0"));
  }
}

// ---- updates ----

UpdateChecked found(std::string version, bool asked) {
  return UpdateChecked{UpdateOffer{std::move(version), "zelk-setup.exe", std::string(64, 'a'), 7}, asked};
}

TEST(WindowLoop, AFoundVersionRetitlesTheUpdateItemAndAFailedInstallKeepsItWithItsProblem) {
  LoopRig rig;
  rig.start();
  rig.settle();
  rig.user(found("9.1.0", false));
  EXPECT_EQ(rig.item("update"), item("update", "Update to version 9.1.0"));
  EXPECT_EQ(rig.app().status_line, "Podman is running");  // a look nobody asked for says nothing

  rig.user(MenuClicked{"update"});
  EXPECT_EQ(rig.item("update"), item("update", "Updating ...", false));
  EXPECT_EQ(rig.app().status_line, "Fetching version 9.1.0 ...");
  ASSERT_EQ(rig.workers.held.size(), 1u);
  rig.user(MenuClicked{"update"});  // already under way
  EXPECT_EQ(rig.workers.held.size(), 1u);
  rig.user(found("9.2.0", false));  // dropped while installing
  EXPECT_EQ(rig.app().update->offer.version, "9.1.0");

  rig.drop_workers();
  rig.user(
      UpdateInstalled{std::unexpected(std::string("The fetched file has 3 bytes and should have 7. It was deleted; "
                                                  "nothing was changed."))});
  EXPECT_EQ(rig.item("update"), item("update", "Update to version 9.1.0"));
  ASSERT_TRUE(rig.app().update);
  EXPECT_FALSE(rig.app().update->installing);
  EXPECT_EQ(rig.app().update->problem,
            "The fetched file has 3 bytes and should have 7. It was deleted; nothing was changed.");
  EXPECT_EQ(rig.app().status_line,
            "The fetched file has 3 bytes and should have 7. It was deleted; nothing was changed.");

  rig.user(MenuClicked{"update"});
  EXPECT_EQ(rig.app().update->problem, std::nullopt);
  rig.drop_workers();
  rig.user(UpdateInstalled{});
  EXPECT_EQ(rig.app().status_line, "Putting the new version in place ...");
  EXPECT_EQ(rig.item("update"), item("update", "Updating ...", false));
}

TEST(WindowLoop, AnAskedLookSaysWhatItFound) {
  LoopRig rig;
  rig.start();
  rig.settle();
  rig.user(UpdateChecked{std::optional<UpdateOffer>{}, true});
  EXPECT_EQ(rig.app().status_line, "This is the newest version (0.2.0-alpha.15).");
  rig.user(UpdateChecked{std::unexpected(std::string("\nThe list could not be fetched.\nmore")), true});
  EXPECT_EQ(rig.app().status_line, "The list could not be fetched.");
  rig.user(found("9.1.0", true));
  EXPECT_EQ(rig.app().status_line, "Version 9.1.0 is out.");
  rig.user(UpdateChecked{std::optional<UpdateOffer>{}, false});  // a look nobody asked for says nothing
  EXPECT_EQ(rig.app().status_line, "Version 9.1.0 is out.");
}

TEST(WindowLoop, TheUpdateItemInstallsWithTheWindowsStateOrLooksFirst) {
  ScopedEnv address("ZELK_UPDATE_ADDRESS", std::nullopt);
  LoopRig rig;
  rig.start();
  rig.settle();
  rig.user(MenuClicked{"update"});  // nothing known yet: look
  EXPECT_EQ(rig.app().status_line, "Asking zelk.app for a newer version ...");
  ASSERT_EQ(rig.workers.held.size(), 1u);
  rig.world.runner->on("curl", {}, ScriptedRunner::ok("format 1\n"));
  rig.settle();
  EXPECT_EQ(rig.app().status_line, "This is the newest version (0.2.0-alpha.15).");

  rig.user(found("9.1.0", false));
  rig.user(ShowWindow{});
  rig.page("update");
  EXPECT_EQ(rig.app().status_line, "Fetching version 9.1.0 ...");
  rig.world.runner->on("curl", {}, ScriptedRunner::failed(7, "curl: (7) Failed to connect\n"));
  rig.settle();
  EXPECT_EQ(rig.app().status_line, "https://zelk.app/downloads/zelk-setup.exe could not be fetched.");
  EXPECT_EQ(
      rig.app().update->problem,
      "https://zelk.app/downloads/zelk-setup.exe could not be fetched.\n    It said: curl: (7) Failed to connect");
  EXPECT_TRUE(rig.world.records->installers.empty());
}

// ---- the window ----

TEST(WindowLoop, AWindowThatCouldNotBeOpenedSaysWhyUntilTheUserActs) {
  LoopRig rig;
  rig.start();
  rig.settle();
  rig.shell.window_error = "WebView2 could not be started (os error 5)";
  const std::string why = "The window could not be opened: WebView2 could not be started (os error 5)";
  // A click on the tray icon asks for a refresh and for the window.
  rig.clock->advance(5s);
  rig.user(RefreshTick{});
  rig.user(ShowWindow{});
  EXPECT_EQ(rig.app().status_line, why);
  rig.settle();  // the refresh the click started
  EXPECT_EQ(rig.app().status_line, why);
  EXPECT_EQ(rig.shell.menu.items.at(rig.app().status_item).text, why);

  // The same holds when the web view fails after the window was made.
  window_failed(rig.app(), "the web view's process ended");
  rig.user(rig.read(rig.app().refreshes_started));
  EXPECT_EQ(rig.app().status_line, "The window could not be opened: the web view's process ended");

  // A window made at last drops the note; so does any page word.
  rig.shell.window_error.reset();
  rig.user(ShowWindow{});
  rig.user(rig.read(rig.app().refreshes_started));
  EXPECT_EQ(rig.app().status_line, "Podman is running");
  window_failed(rig.app(), "gone");
  rig.page("nothing");
  rig.user(rig.read(rig.app().refreshes_started));
  EXPECT_EQ(rig.app().status_line, "Podman is running");
}

TEST(WindowLoop, AWindowAskedForAtTheStartThatCouldNotOpenStillSaysWhyAfterAFailedResume) {
  LoopRig rig;
  rig.shell.window_error = "WebView2 could not be started (os error 5)";
  const std::string why = "The window could not be opened: WebView2 could not be started (os error 5)";
  rig.start(true);
  rig.drop_workers();
  ASSERT_EQ(rig.app().status_line, why);
  rig.user(Resumed{std::unexpected(std::string("Not brought back: Gitea."))});
  rig.drop_workers();
  rig.user(rig.read(rig.app().refreshes_started));
  EXPECT_EQ(rig.app().status_line, why);
  EXPECT_EQ(rig.shell.menu.items.at(rig.app().status_item).text, why);
}

TEST(WindowLoop, TheWindowIsMadeOnceRaisedAfterwardsAndAFailureIsShownAndTriedAgain) {
  LoopRig rig;
  rig.start();
  rig.settle();
  rig.shell.window_error = "WebView2 is not installed on this computer, so the page cannot be shown here; install it";
  rig.user(ShowWindow{});
  EXPECT_EQ(rig.app().status_line,
            "The window could not be opened: WebView2 is not installed on this computer, so the page cannot be shown "
            "here; install it");
  EXPECT_EQ(rig.shell.menu.items.at(rig.app().status_item).text,
            "The window could not be opened: WebView2 is not installed on this computer, so the page ...");
  EXPECT_TRUE(rig.shell.scripts.empty());
  rig.shell.window_error.reset();
  rig.user(MenuClicked{"window"});  // made at last: the line no longer says it could not be
  rig.user(ShowWindow{});
  EXPECT_EQ(rig.shell.calls, (std::vector<std::string>{"add_tray_icon", "set_tray_menu", "open_window", "set_tray_menu",
                                                       "open_window", "set_tray_menu", "raise_window"}));
  EXPECT_EQ(rig.app().status_line, "Podman is running");
  EXPECT_EQ(rig.shell.scripts_of("render").size(), 2u);
}

TEST(WindowLoop, AWebViewThatFailsAfterTheWindowOpenedDropsTheWindowSaysWhyAndIsTriedAgain) {
  LoopRig rig;
  rig.start();
  rig.settle();
  rig.user(ShowWindow{});
  ASSERT_TRUE(rig.shell.open);
  rig.shell.calls.clear();
  rig.user(WebViewFailed{"WebView2 did not start (error 0x80070005)."});
  EXPECT_FALSE(rig.shell.open);
  EXPECT_EQ(rig.app().status_line, "The window could not be opened: WebView2 did not start (error 0x80070005).");
  EXPECT_EQ(rig.shell.menu.items.at(rig.app().status_item).text,
            "The window could not be opened: WebView2 did not start (error 0x80070005).");
  // The next ask starts from the beginning: a new window, not a raise of the dead one.
  rig.user(ShowWindow{});
  EXPECT_EQ(rig.shell.calls,
            (std::vector<std::string>{"close_window", "set_tray_menu", "open_window", "set_tray_menu"}));
  EXPECT_TRUE(rig.shell.open);
}

TEST(WindowLoop, ThePageIsRenderedAfterEveryEventWhileTheWindowIsOpen) {
  LoopRig rig;
  rig.start();
  rig.settle();
  rig.user(ShowWindow{});
  rig.user(CommandLine{"x", rig.entry("gitea").recipe});
  rig.user(RefreshTick{});
  ASSERT_EQ(rig.shell.scripts.size(), 3u);
  std::vector<AppRow> rows;
  for (const AppEntry& e : rig.app().entries)
    rows.push_back(AppRow{e.recipe.get(), e.message, e.address, e.status, e.busy});
  const RenderSnapshot snapshot{"Podman is running", "Podman", true, false, rows, 1, std::nullopt, std::nullopt};
  EXPECT_EQ(rig.shell.scripts.back(), "render(" + render_document(snapshot) + ")");
}

TEST(WindowLoop, ReadySendsTheShelvesAgainOnlyWhenSomeWereFetched) {
  LoopRig rig;
  rig.start();
  rig.settle();
  rig.user(ShowWindow{});
  rig.page("ready");
  EXPECT_TRUE(rig.shell.scripts_of("shelves").empty());
  std::vector<ShelfView> shelves{ShelfView{"https://example.org/s.yaml", std::string("gone"), "", {}}};
  rig.user(ShelvesRead{std::string("The shelf could not be fetched."), shelves});
  rig.page("ready");
  EXPECT_EQ(rig.shell.scripts_of("shelves"),
            (std::vector<std::string>{
                "shelves(" + shelves_document(std::string("The shelf could not be fetched."), shelves) + ")",
                "shelves(" + shelves_document(std::nullopt, shelves) + ")"}));
}

// ---- the menu follows the entries ----

TEST(WindowLoop, TheMenuShowsEachAppsStateAndWhatCanBeDone) {
  LoopRig rig;
  put_file(rig.folder.path() / "recipes" / "pair.yaml", sample_recipe_with_helper("pair", "db", "Pair", 34570));
  rig.start();
  rig.drop_workers();
  rig.user(rig.read(1, {{"gitea", AppState::ready()},
                        {"n8n", AppState::state("exited")},
                        {"pair", AppState::state("partly running")},
                        {"ollama", AppState::starting()}}));
  EXPECT_EQ(rig.submenu("gitea"),
            app_menu("Gitea  -  running", "gitea", "Open", true, true, "http://127.0.0.1:33009/"));
  EXPECT_EQ(rig.submenu("n8n"),
            app_menu("n8n  -  stopped", "n8n", "Start and open", true, false, "http://127.0.0.1:35678/"));
  EXPECT_EQ(rig.submenu("pair"),
            app_menu("Pair  -  partly running", "pair", "Start and open", true, true, "http://127.0.0.1:34570/"));
  EXPECT_EQ(rig.submenu("ollama"),
            app_menu("Ollama  -  starting ...", "ollama", "Start and open", true, true, "http://127.0.0.1:31434/"));
  EXPECT_EQ(rig.submenu("open-webui"), app_menu("Open WebUI  -  not installed", "open-webui", "Install and open", true,
                                                false, "http://127.0.0.1:33000/"));

  rig.page("backup:gitea");
  EXPECT_EQ(rig.submenu("gitea"),
            app_menu("Gitea  -  backing up ...", "gitea", "Open", false, false, "http://127.0.0.1:33009/"));
  rig.drop_workers();

  rig.user(StatesRead{2, std::unexpected(std::string("gone"))});
  EXPECT_EQ(rig.submenu("n8n"), app_menu("n8n", "n8n", "Start and open", true, false, "http://127.0.0.1:35678/"));
  EXPECT_EQ(rig.submenu("gitea"),
            app_menu("Gitea  -  backing up ...", "gitea", "Start and open", false, false, "http://127.0.0.1:33009/"));
}

TEST(WindowLoop, AReloadKeepsARunningCommandAndItsCatalogueLivesUntilTheCommandEnds) {
  LoopRig rig;
  put_file(rig.folder.path() / "recipes" / "notes.yaml", sample_recipe("notes", "Notes", 34567));
  rig.world.runner->on("podman", {"ps"}, ScriptedRunner::ok("torvo-notes\texited\t\n"));
  rig.world.runner->on("podman", {"rm"}, ScriptedRunner::ok());
  rig.start();
  rig.settle();
  const std::weak_ptr<const RecipeCatalogue> first = rig.app().catalogue;

  rig.page("remove:notes");
  ASSERT_EQ(rig.workers.held.size(), 1u);
  std::function<void()> command = std::move(rig.workers.held.front());
  rig.drop_workers();
  rig.user(CommandLine{"Removing ...", rig.entry("notes").recipe});

  // A second recipe arrives and the list is read again while the command runs.
  put_file(rig.folder.path() / "recipes" / "diary.yaml", sample_recipe("diary", "Diary", 34568));
  rig.page("refresh");
  EXPECT_NE(rig.app().catalogue, first.lock());
  EXPECT_EQ(rig.entry("notes").busy, "remove");
  EXPECT_EQ(rig.entry("notes").message, "Removing ...");
  EXPECT_EQ(rig.entry("notes").status, AppState::state("exited"));
  EXPECT_EQ(rig.submenu("notes").text, "Notes  -  removing ...");
  EXPECT_EQ(rig.submenu("diary").text, "Diary");
  EXPECT_FALSE(first.expired());  // the command still holds the catalogue it started with
  rig.settle();

  std::thread worker(std::move(command));
  worker.join();
  EXPECT_TRUE(first.expired() == false);  // its CommandDone still waits in the queue
  rig.settle();
  EXPECT_TRUE(first.expired());
  EXPECT_EQ(rig.entry("notes").busy, std::nullopt);
  const auto runs = rig.world.runner->run_lines();
  EXPECT_NE(std::find(runs.begin(), runs.end(), "podman rm -f -v torvo-notes"), runs.end());
}

TEST(WindowLoop, AWorkerThatCannotStartLeavesTheAppIdleAndSaysWhy) {
  LoopRig rig;
  rig.start();
  rig.settle();
  rig.workers.refuse = "Resource temporarily unavailable";
  rig.page("open:gitea");
  rig.settle();
  EXPECT_EQ(rig.entry("gitea").busy, std::nullopt);
  EXPECT_TRUE(rig.item("open:gitea").enabled);
  EXPECT_EQ(rig.app().status_line, "Gitea: The work could not be started: Resource temporarily unavailable");
}

// ---- shelves read ----

// Worker threads that can say how many still run; joined before they go.
class CountedThreads {
 public:
  ~CountedThreads() {
    for (std::thread& thread : threads_) thread.join();
  }
  StartWorker starter() {
    return [this](std::function<void()> work) -> std::expected<void, std::string> {
      std::lock_guard lock(mutex_);
      ++running_;
      threads_.emplace_back([this, work = std::move(work)] {
        work();
        std::lock_guard ended(mutex_);
        --running_;
      });
      return {};
    };
  }
  std::size_t running() const {
    std::lock_guard lock(mutex_);
    return running_;
  }

 private:
  mutable std::mutex mutex_;
  std::size_t running_ = 0;
  std::vector<std::thread> threads_;
};

// Hands the loop what the workers sent until the condition holds (60 seconds at most).
bool deliver_until(LoopRig& rig, const std::function<bool()>& done) {
  const auto deadline = std::chrono::steady_clock::now() + 60s;
  while (!done()) {
    if (std::chrono::steady_clock::now() > deadline) return false;
    rig.deliver();
    std::this_thread::sleep_for(2ms);
  }
  return true;
}

// Every fetch fails but the shelf at `slow`, which comes, and only once the runner lets it go.
void hold_slow_shelf_fetch(LoopRig& rig, const std::string& slow) {
  const std::vector<std::string> slow_fetch = curl_arguments(slow, fetch_size_limit, fetch_curl_seconds);
  rig.world.runner->on("curl", {}, ScriptedRunner::failed(6, "curl: (6) Could not resolve host\n"));
  rig.world.runner->on("curl", slow_fetch, ScriptedRunner::ok("shelf: 1\nname: Slow\nrecipes:\n  - notes.yaml\n"));
  rig.world.runner->hold("curl", slow_fetch);
}

TEST(WindowLoop, ShelfChangesApplyInTheOrderTheyWereAskedFor) {
  LoopRig rig;
  const std::string kept = "https://example.org/kept/shelf.yaml";
  const std::string slow = "https://example.org/slow/shelf.yaml";
  write_shelf_addresses(rig.folder.path(), std::vector<std::string>{kept}).value();
  hold_slow_shelf_fetch(rig, slow);
  rig.start();
  rig.settle();
  CountedThreads threads;
  rig.workers.elsewhere = threads.starter();

  // The user adds a shelf whose fetch takes long, and takes it out again before it came.
  rig.page("shelf-add:" + slow);
  ASSERT_TRUE(deliver_until(rig, [&] { return rig.world.runner->held_runs() == 1; }));
  rig.page("shelf-forget:" + slow);
  // Whatever else could run has run while the fetch waits.
  ASSERT_TRUE(deliver_until(rig, [&] { return threads.running() == 1; }));
  rig.world.runner->release_held();
  ASSERT_TRUE(deliver_until(rig, [&] { return threads.running() == 0 && rig.proxy->events().empty(); }));

  EXPECT_EQ(read_file(shelves_path(rig.folder.path())).value_or(""), kept + "\n");
  ASSERT_EQ(rig.app().shelves.size(), 1u);
  EXPECT_EQ(rig.app().shelves[0].address, kept);
}

TEST(WindowLoop, ShelfRequestsWaitTheirTurnInTheProgramOverAWindowOpenedAgainAndLeaveTheNote) {
  LoopRig rig;
  const std::string slow = "https://example.org/slow/shelf.yaml";
  const std::string next = "https://example.org/next/shelf.yaml";
  put_file(rig.folder.path() / "recipes" / "notes.yaml", sample_recipe("notes", "Notes", 34567));
  hold_slow_shelf_fetch(rig, slow);
  rig.start();
  rig.settle();
  CountedThreads threads;
  rig.workers.elsewhere = threads.starter();
  rig.user(ShowWindow{});

  // A shelf is added, a second one asked for while the first is fetched.
  rig.page("shelf-add:" + slow);
  ASSERT_TRUE(deliver_until(rig, [&] { return rig.world.runner->held_runs() == 1; }));
  rig.page("shelf-add:" + next);
  // The window is closed and opened again: its new page hears what is under way and what waits.
  rig.handle(WindowCloseRequested{});
  rig.user(ShowWindow{});
  rig.page("ready");
  const std::string work = R"("shelfWork":{"working":"shelf-add:)" + slow + R"(","waiting":["shelf-add:)" + next +
                           R"("]})";
  const std::string reopened = rig.shell.scripts_of("render").back();
  EXPECT_NE(reopened.find(work), std::string::npos) << reopened;

  // What the user did meanwhile holds the line while the requests end, one after the other.
  rig.page("forget:notes");
  rig.world.runner->release_held();
  ASSERT_TRUE(deliver_until(rig, [&] { return threads.running() == 0 && rig.proxy->events().empty(); }));
  EXPECT_EQ(rig.app().status_line, "Notes is out of the list.");
  const std::vector<std::string> answers = rig.shell.scripts_of("shelves");
  ASSERT_EQ(answers.size(), 2u);
  EXPECT_NE(answers[0].find(R"("answers":"shelf-add:)" + slow + R"("})"), std::string::npos) << answers[0];
  EXPECT_NE(answers[1].find(R"("answers":"shelf-add:)" + next + R"("})"), std::string::npos) << answers[1];
  EXPECT_NE(rig.shell.scripts_of("render").back().find(R"("shelfWork":null)"), std::string::npos);
}

TEST(WindowLoop, AShelvesReadOlderThanTheOneShownIsDropped) {
  LoopRig rig;
  rig.start();
  rig.settle();
  rig.user(ShowWindow{});
  const std::vector<ShelfView> newer{ShelfView{"https://example.org/new.yaml", std::string("gone"), "", {}}};
  const std::vector<ShelfView> older{ShelfView{"https://example.org/old.yaml", std::string("gone"), "", {}}};
  rig.user(ShelvesRead{std::nullopt, newer, 2});
  rig.user(ShelvesRead{std::nullopt, older, 1});
  EXPECT_EQ(rig.app().shelves.at(0).address, "https://example.org/new.yaml");
  EXPECT_EQ(rig.shell.scripts_of("shelves"),
            std::vector<std::string>{"shelves(" + shelves_document(std::nullopt, newer) + ")"});
}

TEST(WindowLoop, AnAddedShelfRecipeWithoutOriginGetsOneAndTheAppsAreReadAgain) {
  LoopRig rig;
  const std::string text = sample_recipe("notes", "Notes", 34567, "\r\n");
  put_file(rig.folder.path() / "recipes" / "notes.yaml", text);
  rig.start();
  rig.settle();
  EXPECT_EQ(rig.entry("notes").recipe->from, "");

  ShelfOffer offer{"notes.yaml",
                   "https://example.org/s/notes.yaml",
                   sample_recipe("notes", "Notes", 34567),
                   ShelfOffer::State::Added,
                   read_recipe(text).value(),
                   ""};
  ShelfView view{"https://example.org/s/shelf.yaml", std::nullopt, "Course", {offer}};
  rig.user(ShelvesRead{std::nullopt, {view}});
  EXPECT_EQ(read_file(origin_path(rig.folder.path(), "notes")).value_or(""),
            "https://example.org/s/notes.yaml\n" + recipe_hash_line(text) + "\n");
  EXPECT_EQ(rig.entry("notes").recipe->from, "https://example.org/s/notes.yaml");
  EXPECT_EQ(rig.workers.held.size(), 1u);  // the reload's refresh

  // With the origin in place nothing is written or read again.
  rig.drop_workers();
  rig.user(ShelvesRead{std::nullopt, {view}});
  EXPECT_TRUE(rig.workers.held.empty());
}

}  // namespace
}  // namespace zelk
