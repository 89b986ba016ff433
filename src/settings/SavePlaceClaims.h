#pragma once
// Which open camera saves under which folder and file name. Two cameras writing the same files
// would replace each other's images without a word, so a place is held by the first camera that
// takes it until that camera leaves it or closes. User-interface thread only.

#include <optional>
#include <string>

namespace lumetra {

// Holds `placeKey` (SavePlaceKey) for `owner`, named `cameraName` in messages, giving up what it
// held before. When another camera holds it, nothing changes and that camera's name is returned.
// An empty key (no folder) holds nothing.
std::optional<std::string> ClaimSavePlace(const void* owner, const std::string& cameraName,
                                          const std::wstring& placeKey);
// The camera that holds `placeKey`, when it is not `owner`.
std::optional<std::string> SavePlaceHolder(const void* owner, const std::wstring& placeKey);
void ReleaseSavePlace(const void* owner);

} // namespace lumetra
