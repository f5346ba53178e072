// HTTP on POSIX hosts through libcurl, made to behave like the Windows request object.
#include "os/http.h"
#include <curl/curl.h>
#include <cctype>
#include <cstring>

namespace tev::os {

namespace {

// Once per process: libcurl's global set-up is not safe to repeat per request.
bool curl_ready() {
    static const bool ready = curl_global_init(CURL_GLOBAL_DEFAULT) == CURLE_OK;
    return ready;
}

struct BodySink {
    CURL* curl;
    std::string* body;
};

// A body of announced length is received into room made once: growing by
// doubling would copy a large body several times over.
size_t collect_body(char* data, size_t size, size_t count, void* user) {
    auto* sink = static_cast<BodySink*>(user);
    if (sink->body->empty()) {
        curl_off_t length = -1;
        if (curl_easy_getinfo(sink->curl, CURLINFO_CONTENT_LENGTH_DOWNLOAD_T, &length) == CURLE_OK && length > 0 &&
            length < (curl_off_t(1) << 32))
            sink->body->reserve(size_t(length));
    }
    sink->body->append(data, size * count);
    return size * count;
}

// libcurl hands over every header line of every answer, redirects included,
// each status line first: keep only the last answer's lines, in the request
// object's form (no status line, no blank line).
size_t collect_header(char* data, size_t size, size_t count, void* user) {
    auto* headers = static_cast<std::string*>(user);
    size_t n = size * count;
    if (n >= 5 && std::memcmp(data, "HTTP/", 5) == 0) headers->clear();
    else if (!(n <= 2 && (n == 0 || data[0] == '\r' || data[0] == '\n'))) headers->append(data, n);
    return n;
}

bool has_header(const std::vector<HttpHeader>& headers, const char* name) {
    for (const HttpHeader& h : headers) {
        if (h.name.size() != std::strlen(name)) continue;
        bool same = true;
        for (size_t i = 0; i < h.name.size() && same; ++i)
            same = std::tolower(static_cast<unsigned char>(h.name[i])) == std::tolower(static_cast<unsigned char>(name[i]));
        if (same) return true;
    }
    return false;
}

struct Handles {
    CURL* curl = nullptr;
    curl_slist* headers = nullptr;
    ~Handles() {
        curl_slist_free_all(headers);
        if (curl) curl_easy_cleanup(curl);
    }
};

bool add_header(Handles& h, const std::string& line) {
    curl_slist* next = curl_slist_append(h.headers, line.c_str());
    if (!next) return false;
    h.headers = next;
    return true;
}

}  // namespace

bool http_send(const HttpRequest& request, HttpResponse* response) {
    if (!curl_ready()) return false;
    Handles h;
    h.curl = curl_easy_init();
    if (!h.curl) return false;
    CURL* c = h.curl;
    response->status = 0;
    response->headers.clear();
    response->body.clear();

    curl_easy_setopt(c, CURLOPT_URL, request.url.c_str());
    curl_easy_setopt(c, CURLOPT_NOSIGNAL, 1L);
    // The request object follows redirects and gives up on a silent server
    // after its own timeouts (60 s to connect, 30 s without data).
    curl_easy_setopt(c, CURLOPT_FOLLOWLOCATION, 1L);
    curl_easy_setopt(c, CURLOPT_CONNECTTIMEOUT, 60L);
    curl_easy_setopt(c, CURLOPT_LOW_SPEED_LIMIT, 1L);
    curl_easy_setopt(c, CURLOPT_LOW_SPEED_TIME, 30L);
    curl_easy_setopt(c, CURLOPT_WRITEFUNCTION, collect_body);
    BodySink sink = {c, &response->body};
    curl_easy_setopt(c, CURLOPT_WRITEDATA, &sink);
    curl_easy_setopt(c, CURLOPT_HEADERFUNCTION, collect_header);
    curl_easy_setopt(c, CURLOPT_HEADERDATA, &response->headers);

    if (request.method == "HEAD") curl_easy_setopt(c, CURLOPT_NOBODY, 1L);
    else curl_easy_setopt(c, CURLOPT_CUSTOMREQUEST, request.method.c_str());
    if (request.body_kind != HttpRequest::Body::none) {
        curl_easy_setopt(c, CURLOPT_POSTFIELDSIZE_LARGE, curl_off_t(request.body.size()));
        curl_easy_setopt(c, CURLOPT_POSTFIELDS, request.body.data());
        // POSTFIELDS turns the request into a POST: the method stays the caller's.
        curl_easy_setopt(c, CURLOPT_CUSTOMREQUEST, request.method.c_str());
    }

    for (const HttpHeader& header : request.headers)
        if (!add_header(h, header.name + ": " + header.value)) return false;
    // libcurl's own additions would be headers the caller did not give: a
    // body's form Content-Type and the 100-continue handshake.
    if (!has_header(request.headers, "Content-Type") && !add_header(h, "Content-Type:")) return false;
    if (!has_header(request.headers, "Expect") && !add_header(h, "Expect:")) return false;
    curl_easy_setopt(c, CURLOPT_HTTPHEADER, h.headers);

    if (curl_easy_perform(c) != CURLE_OK) return false;
    long status = 0;
    curl_easy_getinfo(c, CURLINFO_RESPONSE_CODE, &status);
    response->status = int(status);
    return true;
}

}  // namespace tev::os
