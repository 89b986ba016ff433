#pragma once
// Starts a program for a test. Wine now and then refuses a process start with ERROR_INTERNAL_ERROR
// while its services are still coming up; such a start is tried again a few times.

#include <windows.h>

#include <string>

namespace lumetra::test {

// CreateProcessA with the command line; on success `process` holds both handles (the caller closes
// them). Returns false with the last error set when every try failed.
bool StartProcess(std::string commandLine, PROCESS_INFORMATION& process);

} // namespace lumetra::test
