#pragma once
/// The loop's side of the workers: each starter gives the worker what it needs (a proxy, the
/// shared services, the catalogue in use) and returns at once. A worker that cannot do its
/// work, because its thread cannot be started or because it stopped on an error, reports that
/// as its own result event with a plain sentence, so the loop clears whatever waited for it.
#include <functional>
#include <optional>
#include <string>
#include <string_view>

#include "window_app.h"
#include "workers.h"

namespace zelk {

/// "The work could not be started: <error>"
std::string worker_start_failure(std::string_view error);

/// "The work stopped on an unexpected error: <error>"
std::string worker_failure(std::string_view error);

/// Runs the work; gives none, or the sentence worker_failure makes of an error it threw.
std::optional<std::string> failure_of(const std::function<void()>& work);

/// Numbers a new refresh, sets the last refresh to now and starts `refresh_states` with the
/// catalogue in use.
void start_refresh(WindowApp& app, WindowSeams& seams);

/// Starts `resume_apps_in_window` with the catalogue in use.
void start_resume(WindowApp& app, WindowSeams& seams);

/// Starts the update thread, `check_updates_periodically`.
void start_update_thread(WindowApp& app, WindowSeams& seams);

/// Starts `run_app_command` for the entry, which is already marked busy with the word.
void spawn_app_command(WindowApp& app, WindowSeams& seams, AppEntry& entry, std::string_view word);

/// Asks for `run_shelf_work` with the word, if any. Shelf work runs one request at a time, in
/// the order asked, so no change to the remembered shelves is lost or undone by one asked
/// before it: a request made while another is at work waits for it. A fetch without a word is
/// dropped while another request waits, since that one fetches the shelves afterwards anyway.
void spawn_shelf_work(WindowApp& app, WindowSeams& seams, std::optional<ShelfWord> word);

/// The shelf request numbered `number` has ended: the next waiting one starts.
void shelf_work_ended(WindowApp& app, WindowSeams& seams, std::uint64_t number);

/// Starts `check_update_now`.
void spawn_update_check(WindowApp& app, WindowSeams& seams);

/// Starts `install_update_in_window` with the offer and whether the window is open.
void spawn_update_install(WindowApp& app, WindowSeams& seams, const UpdateOffer& offer, bool window_open);

}  // namespace zelk
