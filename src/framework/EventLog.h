#pragma once
// The event log: what happened while nobody watched, one line per event, in
// %LOCALAPPDATA%\Lumetra\lumetra.log (UTF-8, 1 MB a file; the nine full files before it are kept
// as lumetra.log.1, the newest, to lumetra.log.9). Lines are written by a thread of the log's own,
// so a slow or missing disk never holds up the caller; a line that cannot be written is dropped.

#include <string>

namespace lumetra {

// Queues one line: local time, the camera's name in brackets (left out when empty), the text.
// Both strings are in the ANSI code page, as the program keeps its text.
void LogEvent(const std::string& cameraName, const std::string& text);

// Waits until every queued line has been written or dropped (tests, and the end of the program).
void FlushEventLog();

// Where the log goes; tests may point it elsewhere before the first line (empty: the default).
std::wstring EventLogPath();
void SetEventLogPath(const std::wstring& path);

} // namespace lumetra
