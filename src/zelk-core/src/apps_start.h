#pragma once
/// Taking one app from whatever state it is in (never installed, stopped, made from an older
/// recipe or older settings, running) to answering on its port. Progress lines go out one by
/// one through the context's output; the failure is returned as the finished sentence.

#include <cstdint>
#include <expected>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "apps_run.h"
#include "recipe.h"
#include "runtime.h"
#include "zelk/context.h"

namespace zelk {

/// Makes the app's settings file (with its secrets; a TORVO_PORT that is no port is said and
/// replaced), refuses a first install of an app that the other runtime keeps, checks the disk
/// before a first install, refuses a port that another program or app holds before any
/// container changes, creates, re-creates or starts each container (helpers that come first,
/// the app, helpers that come after), waits until the ready path answers, writes the running
/// marker and gives the app's port. Nothing done before a failure is undone, except that an app
/// found stopped, or restarted twice, while it is awaited has its containers stopped (and kept,
/// with their logs), so that the runtime does not restart them for ever; with `quote_app_logs`
/// the message then ends with the "It said" line of the last line the app wrote.
std::expected<std::uint16_t, std::string> start_app(const CommandContext& ctx, const ContainerRuntime& runtime,
                                                    const Recipe& recipe, const ContainerMap& containers);

/// Starts first, one level deep, the apps this app uses (when its recipe says so and they are
/// not ready), then the app itself.
std::expected<std::uint16_t, std::string> start_app_with_used(const CommandContext& ctx,
                                                              const ContainerRuntime& runtime,
                                                              const Recipe& recipe,
                                                              const ContainerMap& containers);

/// The text before the first "/" of an image reference, or the whole reference.
std::string image_registry(std::string_view image);

/// How messages name a container: the app's name, or "<name>'s helper \"<helper>\"".
std::string container_label(const Recipe& recipe, const std::optional<std::string>& helper_name);

/// The arguments that ask the runtime whether an image or a volume ("image" or "volume") is
/// there: "<kind> exists <name>" for Podman; Docker has no "exists", so "<kind> inspect <name>",
/// which succeeds exactly when it is there.
std::vector<std::string> existence_query(std::string_view runtime_command, std::string_view kind,
                                         const std::string& name);

/// The free megabytes of the disk that holds the data folder, asked with PowerShell on
/// "windows" and df elsewhere; none when it cannot be told.
std::optional<std::uint64_t> free_megabytes(const CommandContext& ctx);

}  // namespace zelk
