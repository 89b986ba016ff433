#pragma once
// Where an image may be written: the rule for a file name typed by the user, and plain words on why
// a folder or a path cannot take an image.

#include <windows.h>

#include <string>

namespace lumetra {

// Why an image path cannot be armed: the camera's slot holds a path of MAX_PATH - 1 bytes at most.
constexpr char PathTooLongReason[] = "the path is too long (259 characters at most)";

// A name for a file of its own in the chosen folder: no folder part (\ / :), no "..", none of the
// characters Windows refuses in names (< > " | ? * and control characters), no dot or space at its
// end, and no device name (con, prn, aux, nul, com1 to com9, lpt1 to lpt9, with or without an
// extension). An empty name passes: it stands for "image".
bool IsPlainFileName(const std::string& name);

// The folder part of a full path (before its last backslash; "." when there is none).
std::string FolderOf(const std::string& path);

// Why `directory` cannot take a new file now ("the folder does not exist", ...); empty when it is an
// existing folder. Looks at the file system only: nothing is created.
std::string FolderProblem(const std::string& directory);

// Why a file could not be written at `path`, found out after the write failed: the folder's
// problem, or what opening the file for writing says (access denied, in use, disk full ...); empty
// when nothing is found. A probe file made for this is gone when the call returns.
std::string WriteProblem(const std::string& path);

// The full path of `path` ("." and ".." resolved, relative to the current folder); empty when it is
// not a valid path.
std::wstring FullPathOf(const std::wstring& path);

// A folder as Windows tells folders apart, for comparing two of them: the full path, its "." and
// ".." parts resolved, spaces and dots at the ends of its parts dropped, short names made long (as
// far as the folder exists), no separator at the end, letters in upper case.
std::wstring FolderKey(const std::wstring& folder);

// The folder and file name an image is saved under, in the same form: two cameras with equal keys
// would write the same files. An empty file name stands for "image".
std::wstring SavePlaceKey(const std::string& directory, const std::string& fileName);

// A system error in the few words the messages use; the system's own text for the rest.
std::string FileErrorText(DWORD error);

} // namespace lumetra
