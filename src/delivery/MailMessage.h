#pragma once
// The message an SMTP mailer sends (RFC 5322 and MIME): headers, the text and, for a saved image,
// the JPEG as an attachment. Texts arrive in the program's ANSI code page and leave as UTF-8, in
// encoded words where a header needs them; every line ends in CRLF and stays within 998 bytes.

#include "delivery/Delivery.h"

#include <string>
#include <string_view>
#include <vector>

namespace lumetra {

// The mail field's addresses as SplitRecipients finds them, blanks trimmed, empty ones left out.
std::vector<std::string> MailRecipients(const std::string& emailAddresses);

// A plain address "local@domain" of printable ASCII, nothing that could end an SMTP command.
bool IsPlainMailAddress(const std::string& address);

// The whole message for `sender` to `recipients`. False, with `failure` set, when the image to
// attach cannot be read.
bool ComposeMailMessage(const std::string& sender, const std::vector<std::string>& recipients,
                        const MailRequest& request, std::string& message, std::string& failure);

// The message as SMTP's DATA carries it: a "." doubled at the start of a line, and the closing ".".
std::string DotStuffed(const std::string& message);

std::string Base64(std::string_view bytes);

} // namespace lumetra
