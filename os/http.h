// HTTP through the system's own client: one synchronous request, the whole answer held in memory.
//
// The Windows side uses the system's HTTP request object, the POSIX side
// libcurl. Both give the answer's headers in the one text form the system
// object gives ("Name: value" lines ended by CR LF, no status line), so that a
// single parser reads them whichever side made the request.
#pragma once
#include <string>
#include <vector>

namespace tev::os {

struct HttpHeader {
    std::string name, value;  // UTF-8
};

struct HttpRequest {
    std::string method;                // already upper case
    std::string url;                   // UTF-8
    std::vector<HttpHeader> headers;   // sent as given, and only these
    enum class Body { none, bytes, text } body_kind = Body::none;
    std::string body;                  // the bytes, or the text as UTF-8
};

struct HttpResponse {
    int status = 0;
    std::string headers;  // of the final answer when redirects were followed
    std::string body;
};

// False when the client cannot be made, the request cannot be opened or
// sending fails (a refused connection, an unknown host, a timeout); the
// caller decides what to report.
bool http_send(const HttpRequest& request, HttpResponse* response);

}  // namespace tev::os
