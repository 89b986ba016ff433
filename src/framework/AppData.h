#pragma once
// Where the program keeps what it writes for itself: %LOCALAPPDATA%\Lumetra (the event log, the
// records of the cameras' images). Empty when the variable is missing or too long.

#include <string>

namespace lumetra {

std::wstring LumetraDataFolder();

} // namespace lumetra
