#pragma once
/// Every address on the maker's own host, in one place: the default shelf, the list of
/// versions, the download page and the help pages. The installer itself is fetched from the
/// list's host under "/downloads/", so it needs no entry here.

#include <string_view>

namespace zelk {

/// The maker's host, as the messages name it.
inline constexpr std::string_view maker_host = "zelk.app";

/// The shelf every Zelk remembers from the start.
inline constexpr std::string_view default_shelf_address = "https://zelk.app/shelf/shelf.yaml";

/// The list of versions, unless ZELK_UPDATE_ADDRESS names another.
inline constexpr std::string_view builtin_update_list_address =
    "https://zelk.app/releases/latest.txt";

/// Where a person gets the newest Zelk by hand.
inline constexpr std::string_view download_page_address = "https://zelk.app/download/";

/// The help pages; the first-steps page of a built-in app is this followed by "#first-<id>".
inline constexpr std::string_view help_address = "https://zelk.app/help/";

}  // namespace zelk
