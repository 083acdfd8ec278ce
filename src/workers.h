#pragma once
/// The window program's slow work: reading the app states, running app commands, fetching
/// shelves, looking for and installing updates. Each worker is a plain function that runs on a
/// thread of its own, does its work with the same core and commands the console program uses,
/// and reports only by sending UserEvents through the proxy (results of the sends are ignored,
/// except by the update thread, which ends when the loop is gone). Workers never touch the
/// loop's state; what they read is shared and read-only.
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

#include "apps.h"
#include "lines.h"
#include "loop_seams.h"
#include "window_services.h"
#include "zelk/context.h"

namespace zelk {

/// A recipe catalogue as the window keeps it: shared by the loop, its entries and every worker
/// that started with it, and freed when the last of them lets go.
using SharedCatalogue = std::shared_ptr<const RecipeCatalogue>;

/// The recipe at `index` of the catalogue, sharing the catalogue's ownership.
std::shared_ptr<const Recipe> shared_recipe(const SharedCatalogue& catalogue, std::size_t index);

/// The output writer of an app command: cuts the bytes at line feeds and sends each line that
/// is not empty as CommandLine, decoded as UTF-8 (invalid bytes as U+FFFD), carriage returns
/// kept. A last line without a line feed is dropped with the writer. Writes never fail.
class LineWriter final : public OutputWriter {
 public:
  LineWriter(std::shared_ptr<const LoopProxy> proxy, std::shared_ptr<const Recipe> recipe);
  void write(std::string_view bytes) override;

 private:
  std::shared_ptr<const LoopProxy> proxy_;
  LineCutter lines_;
  std::shared_ptr<const Recipe> recipe_;
};

/// The output writer of the resume and refresh workers: keeps nothing.
class DiscardingWriter final : public OutputWriter {
 public:
  void write(std::string_view) override {}
};

/// The message of every worker that needs the data folder when there is none.
inline constexpr std::string_view no_home_message = "No home directory was found.";

/// The update thread: after 5 s it removes what an earlier download left in <home>/update,
/// after 25 s more it looks for a newer version and sends UpdateChecked (asked false), then
/// looks again every 86,400 s. Ends when a send fails (the loop is gone). A look that stops on
/// an error sends that error (worker_failure) as shown (asked true), and the looks go on.
void check_updates_periodically(const LoopProxy& proxy, const WorkerServices& services);

/// Runs "resume" with a discarding writer; sends Resumed.
void resume_apps_in_window(const LoopProxy& proxy, const WorkerServices& services, const RecipeCatalogue& catalogue);

/// Reads every app's state and address through the runtime that answers; sends StatesRead
/// with the refresh's number.
void refresh_states(const LoopProxy& proxy, const WorkerServices& services, const RecipeCatalogue& catalogue,
                    std::uint64_t number);

/// A change to the remembered shelves that a shelf fetch carries out first.
struct ShelfWord {
  std::string word;     ///< "add" or "forget"
  std::string address;  ///< the shelf's address
};

/// Carries out the word (adding a fetched shelf, or forgetting one), then gathers every
/// remembered shelf; sends ShelvesRead with the word's problem, if any, the shelves and the
/// request's number. The loop runs one at a time, so the changes keep their order.
void run_shelf_work(const LoopProxy& proxy, const WorkerServices& services, const RecipeCatalogue& catalogue,
                    const std::optional<ShelfWord>& word, std::uint64_t number);

/// Looks for a newer version; sends UpdateChecked (asked true).
void check_update_now(const LoopProxy& proxy, const WorkerServices& services);

/// Fetches and checks the offer's installer and starts it (with "/TRAY=window" when the
/// window is open); sends UpdateInstalled.
void install_update_in_window(const LoopProxy& proxy, const WorkerServices& services, const UpdateOffer& offer,
                              bool window_open);

/// Runs the app command ("model" with its default model; "open", "stop", "remove" or
/// "backup" with the recipe's id) in-process with a LineWriter; sends a CommandLine per output
/// line, then CommandDone.
void run_app_command(const std::shared_ptr<const LoopProxy>& proxy, const WorkerServices& services,
                     const RecipeCatalogue& catalogue, std::string_view word,
                     const std::shared_ptr<const Recipe>& recipe);

}  // namespace zelk
