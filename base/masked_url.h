// A profile URL as it may be shown: on the console, in cron mail, in logs.
#pragma once

#include <string>
#include <string_view>

// `url` with the password of its user information replaced by "***"; the
// scheme, the user name, the host, the port, the path and the query stay as
// written. The URL is cut up as the fetch reads it, with or without a
// scheme: "bob:pw@host/fb" shows as "bob:***@host/fb". Everything between the
// first ':' of the user information and the authority's last '@' is hidden,
// so a password holding an unencoded '@' is hidden whole. A URL without a
// password comes back unchanged. Does not escape: print the result through
// EscapeUntrusted where the URL's bytes are not known to be plain.
std::string MaskUrlPassword(std::string_view url);
