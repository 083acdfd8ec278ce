#pragma once
/// A page's posted text as the web view hands it over: in its JSON form, a quoted string in
/// UTF-16. That form carries every character, a NUL included, where the plain form is read up
/// to its first NUL and would cut the text short.
#include <optional>
#include <string>
#include <string_view>

namespace zelk {

/// The UTF-8 text of a JSON string (blanks around it allowed), every escape decoded; an
/// unpaired surrogate becomes U+FFFD. None when the JSON is anything but one whole string:
/// the text is then refused whole, never taken in part.
std::optional<std::string> page_message_from_json(std::u16string_view json);

}  // namespace zelk
