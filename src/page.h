#pragma once
/// The page the window shows: page.html beside the sources, compiled into the program byte
/// for byte.
#include <string_view>

namespace zelk::embedded {

extern const std::string_view page_html;

}  // namespace zelk::embedded
