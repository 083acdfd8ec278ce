#pragma once
/// The window's whole interface: one HTML document with its style and script, compiled into the
/// program byte for byte (CRLF line ends kept) and handed to the web view as it is.

#include <string_view>

namespace zelk {

/// The page's text, valid for the life of the program.
std::string_view page_html();

}  // namespace zelk
