#include "v4ada/net/http_connection.h"

int i4_HttpConnection::fetch(const char* /*url*/, OwnedString* /*output*/) { return 0; }
