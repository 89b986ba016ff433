#include "settings/SavePlaceClaims.h"

#include <map>

namespace lumetra {

namespace {
struct Claim {
    std::string cameraName;
    std::wstring placeKey;
};
std::map<const void*, Claim> claims;
} // namespace

std::optional<std::string> SavePlaceHolder(const void* owner, const std::wstring& placeKey) {
    if (placeKey.empty())
        return std::nullopt;
    for (const auto& [holder, claim] : claims)
        if (holder != owner && claim.placeKey == placeKey)
            return claim.cameraName;
    return std::nullopt;
}

std::optional<std::string> ClaimSavePlace(const void* owner, const std::string& cameraName,
                                          const std::wstring& placeKey) {
    if (std::optional<std::string> holder = SavePlaceHolder(owner, placeKey))
        return holder;
    if (placeKey.empty())
        claims.erase(owner);
    else
        claims[owner] = {cameraName, placeKey};
    return std::nullopt;
}

void ReleaseSavePlace(const void* owner) {
    claims.erase(owner);
}

} // namespace lumetra
