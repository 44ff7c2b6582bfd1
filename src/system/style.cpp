#include "system/style.hpp"

namespace sys {

const Style Style::posix{false, true, false, true, false};
const Style Style::windows{true, false, true, false, true};

} // namespace sys
