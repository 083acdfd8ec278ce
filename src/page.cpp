#include "page.h"

namespace zelk {

namespace embedded {
// Made by the build from src/page.html (cmake/embed_texts.cmake).
extern const std::string_view page_html;
}  // namespace embedded

std::string_view page_html() { return embedded::page_html; }

}  // namespace zelk
