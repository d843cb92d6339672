// Splitting of URLs of the form scheme://host[:port]/path.
#pragma once

#include "v4ada/string/owned_string.h"

// scheme: the text before the first ':'; host: after "//" up to the next
// ':' or '/'; port: the decimal number after ':' (left unchanged when there
// is none); path: from the '/' after host and port to the end; rest: the
// text after that '/'. False when the text has no ':', nothing follows the
// scheme, the text does not continue with "//", no path follows the host,
// or the port is not a number from 0 to 65535.
bool split_url(const char* url, OwnedString* scheme, OwnedString* host, OwnedString* path, OwnedString* rest,
               int* port);
