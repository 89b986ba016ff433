#include "web/CameraPages.h"

#include "delivery/CameraRoster.h"
#include "web/CameraRosterReader.h"
#include "web/PublishedFile.h"
#include "web/WebPages.h"

#include <algorithm>

namespace lumetra::web {
namespace {

const char kCamerasStyle[] = R"PAGE(header{padding:10px 16px;background:#2a2f36}
main{display:grid;grid-template-columns:repeat(auto-fill,minmax(min(100%,400px),1fr));gap:16px;padding:16px;align-items:start}
figure{margin:0;background:#2a2f36;border-radius:6px;overflow:hidden}
figcaption{display:flex;flex-wrap:wrap;gap:2px 12px;align-items:baseline;padding:6px 10px;color:#b9c2ce}
.name{font-weight:600;color:#fff}
.picture{display:block;width:100%;height:auto;background:#000}
.note{margin:0;padding:10px;background:#5a3a1e;color:#fff}
)PAGE";

const char kPageEnd[] = R"PAGE(</main>
<script>
"use strict";
const grid = document.getElementById("cameras");
let sequence = Number(document.body.dataset.sequence);

function tileOf(camera) {
  for (const tile of grid.children)
    if (tile.dataset.name === camera.name) return tile;
  const tile = document.createElement("figure");
  tile.className = "camera";
  tile.dataset.name = camera.name;
  tile.dataset.image = "0";
  tile.innerHTML = '<figcaption><span class="name"></span> <time class="time"></time></figcaption>' +
    '<img class="picture" alt="" hidden><p class="note" hidden></p>';
  tile.querySelector(".name").textContent = camera.name;
  tile.querySelector(".picture").alt = "The newest image of " + camera.name;
  grid.appendChild(tile);
  return tile;
}
function showTime(tile, iso) {
  const when = new Date(iso), time = tile.querySelector(".time");
  time.dateTime = iso || "";
  time.textContent = iso && !isNaN(when) ? when.toLocaleString() : "";
}
function show(camera) {
  const tile = tileOf(camera), picture = tile.querySelector(".picture"), note = tile.querySelector(".note");
  note.textContent = camera.message;
  note.hidden = !camera.message;
  const image = camera.image;
  if (!image) {
    picture.hidden = true;
    showTime(tile, "");
    return;
  }
  if (Number(tile.dataset.image) === image.sequence && !picture.hidden) return;
  // Swap only when the next picture is loaded, so it never flickers.
  const next = new Image();
  next.onload = () => {
    if (image.sequence < Number(tile.dataset.image)) return;
    tile.dataset.image = String(image.sequence);
    picture.src = next.src;
    picture.hidden = false;
    showTime(tile, image.time);
  };
  next.src = camera.url + "?v=" + image.sequence;
}
async function follow() {
  for (;;) {
    try {
      const answer = await fetch("/status.json?after=" + sequence, {cache: "no-store"});
      if (!answer.ok) throw new Error(answer.statusText);
      const status = await answer.json();
      // Without cameras the single-image view is the one that says why.
      if (!status.cameras.length) { location.reload(); return; }
      sequence = status.sequence;
      const names = new Set(status.cameras.map(camera => camera.name));
      for (const tile of [...grid.children])
        if (!names.has(tile.dataset.name)) tile.remove();
      status.cameras.forEach(show);
    } catch (error) {
      await new Promise(resolve => setTimeout(resolve, 2000));
      sequence = 0;
    }
  }
}
for (const tile of grid.children) showTime(tile, tile.querySelector(".time").dateTime);
follow();
</script>
</body>
</html>
)PAGE";

std::optional<std::string> IsoSeconds(std::int64_t seconds) {
    if (seconds <= 0)
        return std::nullopt;
    constexpr std::uint64_t kFileTimeAt1970 = 11644473600ull, kTicksPerSecond = 10000000ull;
    return IsoTime((static_cast<std::uint64_t>(seconds) + kFileTimeAt1970) * kTicksPerSecond);
}

nlohmann::ordered_json TimeJson(std::int64_t seconds) {
    const auto iso = IsoSeconds(seconds);
    return iso ? nlohmann::ordered_json(*iso) : nlohmann::ordered_json(nullptr);
}

// RFC 3986's unreserved characters: never escaped.
bool IsUnreserved(char c) {
    return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '-' ||
           c == '.' || c == '_' || c == '~';
}

int HexValue(char c) {
    if (c >= '0' && c <= '9')
        return c - '0';
    if (c >= 'a' && c <= 'f')
        return c - 'a' + 10;
    if (c >= 'A' && c <= 'F')
        return c - 'A' + 10;
    return -1;
}

// Strict UTF-8: no overlong forms, no surrogates, nothing beyond U+10FFFF.
bool IsUtf8(std::string_view text) {
    for (std::size_t i = 0; i < text.size();) {
        const auto lead = static_cast<unsigned char>(text[i]);
        std::size_t length = lead < 0x80           ? 1
                             : (lead >> 5) == 0x6  ? 2
                             : (lead >> 4) == 0xE  ? 3
                             : (lead >> 3) == 0x1E ? 4
                                                   : 0;
        if (length == 0 || i + length > text.size())
            return false;
        std::uint32_t code = length == 1 ? lead : lead & (0xFF >> (length + 1));
        for (std::size_t k = 1; k < length; ++k) {
            const auto next = static_cast<unsigned char>(text[i + k]);
            if ((next & 0xC0) != 0x80)
                return false;
            code = (code << 6) | (next & 0x3F);
        }
        constexpr std::uint32_t kSmallest[] = {0, 0, 0x80, 0x800, 0x10000};
        if (code < kSmallest[length] || code > 0x10FFFF || (code >= 0xD800 && code <= 0xDFFF))
            return false;
        i += length;
    }
    return true;
}

} // namespace

std::string CameraNote(const CameraStatus& camera) {
    switch (camera.health) {
    case CameraHealth::Waiting:
        // Lumetra gives no reason for a lost camera; the service does when Lumetra has gone silent.
        return camera.reason.empty()
                   ? "Waiting for the camera: it is not connected, and Lumetra shows it again once it is."
                   : camera.reason;
    case CameraHealth::Failing:
        return "Saving fails: " +
               (camera.reason.empty() ? std::string("Lumetra gives no reason.") : camera.reason);
    case CameraHealth::Live:
        break;
    }
    // While a new image is being written the one before is shown: nothing to say.
    return camera.image ? std::string() : camera.message;
}

std::string CameraAddress(std::string_view name, std::string_view page) {
    std::string address(kCamerasPrefix);
    for (const char c : name) {
        const auto byte = static_cast<unsigned char>(c);
        if (IsUnreserved(c)) {
            address += c;
        } else {
            constexpr char kHex[] = "0123456789ABCDEF";
            address += '%';
            address += kHex[byte >> 4];
            address += kHex[byte & 0xF];
        }
    }
    return address + "/" + std::string(page);
}

std::optional<std::string> DecodeCameraName(std::string_view encoded) {
    std::string name;
    for (std::size_t i = 0; i < encoded.size(); ++i) {
        if (encoded[i] != '%') {
            // Anything but the characters a path segment may hold as they are must come escaped.
            if (!IsUnreserved(encoded[i]) &&
                std::string_view("!$&'()*+,;=:@").find(encoded[i]) == std::string_view::npos)
                return std::nullopt;
            name += encoded[i];
            continue;
        }
        const int high = i + 2 < encoded.size() ? HexValue(encoded[i + 1]) : -1;
        const int low = high >= 0 ? HexValue(encoded[i + 2]) : -1;
        if (low < 0)
            return std::nullopt;
        name += static_cast<char>(high * 16 + low);
        i += 2;
    }
    if (name.empty() || std::any_of(name.begin(), name.end(), IsForbiddenInCameraName) || !IsUtf8(name))
        return std::nullopt;
    return name;
}

nlohmann::ordered_json CamerasJson(const ServiceStatus& status) {
    auto list = nlohmann::ordered_json::array();
    for (const CameraStatus& camera : status.cameras) {
        nlohmann::ordered_json image = nullptr;
        if (const ServedImage* served = camera.image.get())
            image = {{"name", served->name},
                     {"size", served->bytes.size()},
                     {"time", served->modifiedIso},
                     {"sequence", served->sequence}};
        list.push_back({{"name", camera.name},
                        {"state", CameraHealthName(camera.health)},
                        {"reason", camera.reason},
                        {"imageState", StateName(camera.state)},
                        {"message", CameraNote(camera)},
                        {"lastSave", TimeJson(camera.lastSave)},
                        {"lastFailure", TimeJson(camera.lastFailure)},
                        {"lastFailureReason", camera.lastFailureReason},
                        {"url", CameraAddress(camera.name, "latest.jpg")},
                        {"stream", CameraAddress(camera.name, "stream.mjpg")},
                        {"image", std::move(image)}});
    }
    return list;
}

std::string RenderCamerasPage(const ServiceStatus& status) {
    std::string page = PageStart(kCamerasStyle);
    page += "<body data-sequence=\"" + std::to_string(status.sequence) +
            "\">\n<header><h1>Lumetra</h1></header>\n";
    page += "<main id=\"cameras\">\n";
    for (const CameraStatus& camera : status.cameras) {
        const std::string name = HtmlText(camera.name), note = CameraNote(camera);
        const ServedImage* image = camera.image.get();
        const std::string sequence = std::to_string(image ? image->sequence : 0);
        page += "<figure class=\"camera\" data-name=\"" + name + "\" data-image=\"" + sequence + "\">";
        page += "<figcaption><span class=\"name\">" + name + "</span> <time class=\"time\" datetime=\"" +
                (image ? image->modifiedIso : "") + "\"></time></figcaption>";
        page += "<img class=\"picture\" alt=\"The newest image of " + name + "\"";
        page +=
            image ? " src=\"" + HtmlText(CameraAddress(camera.name, "latest.jpg")) + "?v=" + sequence + "\">"
                  : std::string(" hidden>");
        page += "<p class=\"note\"" + std::string(note.empty() ? " hidden" : "") + ">" + HtmlText(note) +
                "</p></figure>\n";
    }
    return page + kPageEnd;
}

} // namespace lumetra::web
