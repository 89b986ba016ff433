#include "web/WebPages.h"

#include "web/CameraPages.h"
#include "web/WebOptions.h"

namespace lumetra::web {
namespace {

// No outside scripts, fonts or styles: every page works on a machine without internet access.
const char kPageHead[] = R"PAGE(<!DOCTYPE html>
<html lang="en">
<head>
<meta charset="utf-8">
<meta name="viewport" content="width=device-width, initial-scale=1">
<title>Lumetra</title>
<style>
body{margin:0;font:15px/1.4 system-ui,-apple-system,"Segoe UI",Tahoma,sans-serif;background:#1c1f24;color:#e6e6e6}
h1{margin:0;font-size:19px;font-weight:600}
[hidden]{display:none!important}
)PAGE";

const char kSingleImageStyle[] =
    R"PAGE(header{display:flex;flex-wrap:wrap;gap:4px 18px;align-items:baseline;padding:10px 16px;background:#2a2f36}
#caption{color:#b9c2ce}
#name{font-weight:600;color:#fff}
main{padding:16px;text-align:center}
#picture{max-width:100%;height:auto;background:#000;box-shadow:0 2px 14px #000b}
#message{display:inline-block;margin:40px 0;padding:14px 18px;border-radius:6px;background:#373d46;max-width:40em}
)PAGE";

const char kPage[] = R"PAGE(<body data-sequence="@SEQUENCE@" data-image="@IMAGE@"@UNTIL_CAMERAS@>
<header><h1>Lumetra</h1><span id="caption"><span id="name">@NAME@</span> <time id="time" datetime="@TIME@">@TIME@</time></span></header>
<main>
<p id="message"@MESSAGE_HIDDEN@>@MESSAGE@</p>
<img id="picture" alt="The newest image from Lumetra" src="@SRC@"@PICTURE_HIDDEN@>
</main>
<script>
"use strict";
const picture = document.getElementById("picture"), message = document.getElementById("message");
const nameText = document.getElementById("name"), timeText = document.getElementById("time");
let sequence = Number(document.body.dataset.sequence), shown = Number(document.body.dataset.image);

function showTime(iso) {
  const when = new Date(iso);
  timeText.dateTime = iso;
  timeText.textContent = iso && !isNaN(when) ? when.toLocaleString() : "";
}
function say(text) {
  message.textContent = text;
  message.hidden = false;
  picture.hidden = true;
}
function show(status) {
  const image = status.image;
  if (!image) {
    say(status.message);
    nameText.textContent = "";
    showTime("");
    return;
  }
  if (image.sequence === shown && !picture.hidden) return;
  // Swap only when the next picture is loaded, so it never flickers.
  const next = new Image();
  next.onload = () => {
    if (image.sequence < shown) return;
    shown = image.sequence;
    picture.src = next.src;
    picture.hidden = false;
    message.hidden = true;
    nameText.textContent = image.name;
    showTime(image.time);
  };
  next.src = "/latest.jpg?v=" + image.sequence;
}
async function follow() {
  for (;;) {
    try {
      const answer = await fetch("/status.json?after=" + sequence, {cache: "no-store"});
      if (!answer.ok) throw new Error(answer.statusText);
      const status = await answer.json();
      if (document.body.dataset.untilCameras && status.cameras.length) { location.reload(); return; }
      sequence = status.sequence;
      show(status);
    } catch (error) {
      say("The Lumetra web service does not answer; trying again.");
      sequence = 0;
      await new Promise(resolve => setTimeout(resolve, 2000));
    }
  }
}
showTime(timeText.dateTime);
follow();
</script>
</body>
</html>
)PAGE";

void Replace(std::string& text, std::string_view placeholder, const std::string& value) {
    for (std::size_t at; (at = text.find(placeholder)) != std::string::npos;)
        text.replace(at, placeholder.size(), value);
}

std::string Trim(std::string_view text) {
    const std::size_t first = text.find_first_not_of(" \t");
    if (first == std::string_view::npos)
        return {};
    return std::string(text.substr(first, text.find_last_not_of(" \t") - first + 1));
}

int Base64Value(char c) {
    if (c >= 'A' && c <= 'Z')
        return c - 'A';
    if (c >= 'a' && c <= 'z')
        return c - 'a' + 26;
    if (c >= '0' && c <= '9')
        return c - '0' + 52;
    return c == '+' ? 62 : c == '/' ? 63 : -1;
}

bool DecodeBase64(std::string_view text, std::string& decoded) {
    unsigned bits = 0;
    int count = 0;
    for (const char c : text) {
        if (c == '=')
            break;
        const int value = Base64Value(c);
        if (value < 0)
            return false;
        bits = (bits << 6) | static_cast<unsigned>(value);
        count += 6;
        if (count >= 8) {
            count -= 8;
            decoded += static_cast<char>((bits >> count) & 0xFF);
        }
    }
    return true;
}

} // namespace

std::string HtmlText(std::string_view text) {
    std::string result;
    for (const char c : text) {
        switch (c) {
        case '&':
            result += "&amp;";
            break;
        case '<':
            result += "&lt;";
            break;
        case '>':
            result += "&gt;";
            break;
        case '"':
            result += "&quot;";
            break;
        case '\'':
            result += "&#39;";
            break;
        default:
            result += c;
        }
    }
    return result;
}

std::string PageStart(std::string_view style) {
    return kPageHead + std::string(style) + "</style>\n</head>\n";
}

std::string RenderPage(const ServiceStatus& status, bool untilCameras) {
    std::string page = PageStart(kSingleImageStyle) + kPage;
    Replace(page, "@UNTIL_CAMERAS@", untilCameras ? " data-until-cameras=\"1\"" : "");
    const ServedImage* image = status.image.get();
    Replace(page, "@SEQUENCE@", std::to_string(status.sequence));
    Replace(page, "@IMAGE@", std::to_string(image ? image->sequence : 0));
    Replace(page, "@NAME@", HtmlText(image ? image->name : ""));
    Replace(page, "@TIME@", image ? image->modifiedIso : "");
    Replace(page, "@MESSAGE@", HtmlText(image ? "" : status.message));
    Replace(page, "@MESSAGE_HIDDEN@", image ? " hidden" : "");
    Replace(page, "@SRC@", image ? "/latest.jpg?v=" + std::to_string(image->sequence) : "");
    Replace(page, "@PICTURE_HIDDEN@", image ? "" : " hidden");
    return page;
}

std::string RenderStatusJson(const ServiceStatus& status, long long uptimeSeconds) {
    using Json = nlohmann::ordered_json;
    Json image = nullptr;
    if (const ServedImage* served = status.image.get())
        image = {{"path", served->path},
                 {"name", served->name},
                 {"size", served->bytes.size()},
                 {"time", served->modifiedIso},
                 {"sequence", served->sequence}};
    const Json json = {{"state", StateName(status.state)},
                       {"message", status.message},
                       {"published", status.published.empty() ? Json(nullptr) : Json(status.published)},
                       {"image", std::move(image)},
                       {"cameras", CamerasJson(status)},
                       {"sequence", status.sequence},
                       {"uptime", uptimeSeconds}};
    // Text from the blocks is UTF-8 already; anything broken is replaced rather than refused.
    return json.dump(-1, ' ', false, Json::error_handler_t::replace) + "\n";
}

bool EntityTagMatches(std::string_view ifNoneMatch, std::string_view etag) {
    std::size_t start = 0;
    while (start <= ifNoneMatch.size()) {
        std::size_t end = ifNoneMatch.find(',', start);
        if (end == std::string_view::npos)
            end = ifNoneMatch.size();
        std::string tag = Trim(ifNoneMatch.substr(start, end - start));
        if (tag.rfind("W/", 0) == 0)
            tag.erase(0, 2);
        if (tag == "*" || tag == etag)
            return true;
        start = end + 1;
    }
    return false;
}

bool BasicAuthorizationCarries(std::string_view authorization, const std::string& password) {
    const std::string value = Trim(authorization);
    if (value.size() < 6 || (value.compare(0, 6, "Basic ") != 0 && value.compare(0, 6, "basic ") != 0))
        return false;
    std::string decoded;
    if (!DecodeBase64(Trim(std::string_view(value).substr(6)), decoded))
        return false;
    const std::size_t colon = decoded.find(':');
    if (colon == std::string::npos)
        return false;
    const std::string_view given = std::string_view(decoded).substr(colon + 1);
    // Compared in full every time, so the time taken tells nothing about the password.
    unsigned difference = given.size() != password.size();
    for (std::size_t i = 0; i < password.size(); ++i)
        difference |= static_cast<unsigned char>(password[i]) ^
                      static_cast<unsigned char>(i < given.size() ? given[i] : 0);
    return difference == 0;
}

bool HostIsLoopback(std::string_view host) {
    std::string name = Trim(host);
    if (!name.empty() && name.front() == '[') {
        name = name.substr(0, name.find(']') + 1);
    } else if (const std::size_t colon = name.rfind(':'); colon != std::string::npos) {
        name.erase(colon);
    }
    for (char& c : name)
        c = static_cast<char>(c >= 'A' && c <= 'Z' ? c - 'A' + 'a' : c);
    return IsLoopbackAddress(name);
}

} // namespace lumetra::web
