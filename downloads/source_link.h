// Source links: the texts that name a download source.
//
// Location links of the overlay, and the bare form a file link's "s="
// carries:
//   "bcp://<a.b.c.d>:<port>"            a client reached at its address
//   "bcp://<32 hex digits>:<a.b.c.d>:<port>"
//                                       a low-ID client: its user hash and
//                                       its buddy's address and port
//   "<a.b.c.d>:<port>"                  the same as the first form
// Fields are separated by single ':'; ports are decimal, 1 to 65535;
// addresses are dotted quads other than 0.0.0.0. Other texts (such as
// "http://" URLs) are left to the link protocols.
#pragma once

class UserMeta;

// Longest link text looked at.
constexpr int kSourceLinkMax = 1024;

// When text begins with the scheme followed by ':', the scheme's length
// + 2; else 0.
int matchScheme(const char* scheme, const char* text);

// Fills a fresh user record (address and port, or user hash, buddy
// address and buddy port) from a location link; false, with the record
// untouched, for any other text.
bool parseSourceLinkText(const char* text, UserMeta& user);
