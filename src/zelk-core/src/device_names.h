#pragma once
/// The names Windows keeps for its devices: a file or folder of such a name cannot be made,
/// whatever its case or extension, so no id, helper or downloaded file may take one.

#include <string_view>

namespace zelk {

/// True for CON, PRN, AUX, NUL, COM1-COM9 and LPT1-LPT9 (also COM¹-COM³ and LPT¹-LPT³), in any
/// case, alone or followed by an extension, and with blanks or dots before it.
bool is_device_name(std::string_view name);

}  // namespace zelk
