// HTTP on POSIX hosts through libcurl, made to behave like the Windows request object.
#include "os/http.h"
#include <curl/curl.h>
#include <dlfcn.h>
#include <cctype>
#include <cstring>
#include <type_traits>

namespace tev::os {

namespace {

// libcurl is opened at the first request: linked in, it and the thirty-odd
// libraries it needs were loaded and relocated at every start-up, a large part
// of the time a short script takes.
struct CurlLibrary {
    CURLcode (*global_init)(long flags);
    CURL* (*easy_init)();
    CURLcode (*easy_setopt)(CURL* curl, CURLoption option, ...);
    CURLcode (*easy_getinfo)(CURL* curl, CURLINFO info, ...);
    CURLcode (*easy_perform)(CURL* curl);
    void (*easy_cleanup)(CURL* curl);
    curl_slist* (*slist_append)(curl_slist* list, const char* line);
    void (*slist_free_all)(curl_slist* list);
};
CurlLibrary lib;

bool curl_open() {
    void* so = nullptr;
    for (const char* name : {"libcurl.so.4", "libcurl.so", "libcurl-gnutls.so.4"})
        if ((so = dlopen(name, RTLD_NOW | RTLD_LOCAL))) break;
    if (!so) return false;
    auto find = [so](auto& fn, const char* name) {
        fn = reinterpret_cast<std::remove_reference_t<decltype(fn)>>(dlsym(so, name));
        return fn != nullptr;
    };
    return find(lib.global_init, "curl_global_init") && find(lib.easy_init, "curl_easy_init") &&
           find(lib.easy_setopt, "curl_easy_setopt") && find(lib.easy_getinfo, "curl_easy_getinfo") &&
           find(lib.easy_perform, "curl_easy_perform") && find(lib.easy_cleanup, "curl_easy_cleanup") &&
           find(lib.slist_append, "curl_slist_append") && find(lib.slist_free_all, "curl_slist_free_all");
}

// Once per process: libcurl's global set-up is not safe to repeat per request.
bool curl_ready() {
    static const bool ready = curl_open() && lib.global_init(CURL_GLOBAL_DEFAULT) == CURLE_OK;
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
        if (lib.easy_getinfo(sink->curl, CURLINFO_CONTENT_LENGTH_DOWNLOAD_T, &length) == CURLE_OK && length > 0 &&
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
        lib.slist_free_all(headers);
        if (curl) lib.easy_cleanup(curl);
    }
};

bool add_header(Handles& h, const std::string& line) {
    curl_slist* next = lib.slist_append(h.headers, line.c_str());
    if (!next) return false;
    h.headers = next;
    return true;
}

}  // namespace

bool http_send(const HttpRequest& request, HttpResponse* response) {
    if (!curl_ready()) return false;
    Handles h;
    h.curl = lib.easy_init();
    if (!h.curl) return false;
    CURL* c = h.curl;
    response->status = 0;
    response->headers.clear();
    response->body.clear();

    lib.easy_setopt(c, CURLOPT_URL, request.url.c_str());
    lib.easy_setopt(c, CURLOPT_NOSIGNAL, 1L);
    // The request object follows redirects and gives up on a silent server
    // after its own timeouts (60 s to connect, 30 s without data).
    lib.easy_setopt(c, CURLOPT_FOLLOWLOCATION, 1L);
    lib.easy_setopt(c, CURLOPT_CONNECTTIMEOUT, 60L);
    lib.easy_setopt(c, CURLOPT_LOW_SPEED_LIMIT, 1L);
    lib.easy_setopt(c, CURLOPT_LOW_SPEED_TIME, 30L);
    lib.easy_setopt(c, CURLOPT_WRITEFUNCTION, collect_body);
    BodySink sink = {c, &response->body};
    lib.easy_setopt(c, CURLOPT_WRITEDATA, &sink);
    lib.easy_setopt(c, CURLOPT_HEADERFUNCTION, collect_header);
    lib.easy_setopt(c, CURLOPT_HEADERDATA, &response->headers);

    if (request.method == "HEAD") lib.easy_setopt(c, CURLOPT_NOBODY, 1L);
    else lib.easy_setopt(c, CURLOPT_CUSTOMREQUEST, request.method.c_str());
    if (request.body_kind != HttpRequest::Body::none) {
        lib.easy_setopt(c, CURLOPT_POSTFIELDSIZE_LARGE, curl_off_t(request.body.size()));
        lib.easy_setopt(c, CURLOPT_POSTFIELDS, request.body.data());
        // POSTFIELDS turns the request into a POST: the method stays the caller's.
        lib.easy_setopt(c, CURLOPT_CUSTOMREQUEST, request.method.c_str());
    }

    for (const HttpHeader& header : request.headers)
        if (!add_header(h, header.name + ": " + header.value)) return false;
    // libcurl's own additions would be headers the caller did not give: a
    // body's form Content-Type and the 100-continue handshake.
    if (!has_header(request.headers, "Content-Type") && !add_header(h, "Content-Type:")) return false;
    if (!has_header(request.headers, "Expect") && !add_header(h, "Expect:")) return false;
    lib.easy_setopt(c, CURLOPT_HTTPHEADER, h.headers);

    if (lib.easy_perform(c) != CURLE_OK) return false;
    long status = 0;
    lib.easy_getinfo(c, CURLINFO_RESPONSE_CODE, &status);
    response->status = int(status);
    return true;
}

}  // namespace tev::os
