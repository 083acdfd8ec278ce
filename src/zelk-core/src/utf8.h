#pragma once
/// UTF-8 validity, for texts the system reads from files and sockets.

#include <string_view>

namespace zelk {

/// True when the bytes are well-formed UTF-8 (no overlong forms, no surrogates, nothing
/// above U+10FFFF).
bool is_valid_utf8(std::string_view bytes);

/// The text after a UTF-8 byte-order mark, which some Windows editors put at the start of
/// every file they save; the text itself when it has none.
std::string_view without_byte_order_mark(std::string_view text);

}  // namespace zelk
