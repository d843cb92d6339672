// The location link: where this client's files can be fetched, published
// as the "loc" tag of location services and read by the download-source
// search.
//
//   open form:      "bcp://%s:%d"     dotted own address, TCP door port
//   firewalled:     "bcp://%s:%s:%d"  own identifier as 32 lower-case hex
//                                     digits, the buddy's dotted address,
//                                     the buddy's UDP port
//
// Reading skips the first 6 characters (the scheme, not compared) and
// splits the rest at ':' (runs of ':' are one separator, empty fields do
// not count).
#pragma once

#include <cstdint>

#include "v4ada/containers/unique_id.h"
#include "v4ada/string/owned_string.h"

constexpr int kLinkSchemeLength = 6;

OwnedString openLocationLink(uint32_t ip, int port);
OwnedString buddyLocationLink(const UniqueID& id, uint32_t buddyIp, int buddyPort);

struct LocationLink {
    bool buddyForm = false;
    UniqueID userId;  // the firewalled user (buddy form)
    uint32_t ip = 0;  // the user's address, or its buddy's
    int port = 0;     // the user's TCP port, or its buddy's UDP port
};

// False for a text shorter than the scheme, with fewer than two fields,
// an identifier that is not 32 hex digits, an address that does not read
// or is 0, or a port outside 1-65535. With three fields or more the first
// three are read.
bool parseLocationLink(const char* text, LocationLink* out);
