// HTTP on Windows through the system's HTTP request object (COM), called by name through IDispatch.
//
// Calling by name needs no interface header, and every call's result is
// checked: a failed call leaves its output untouched, never half-filled.
#include "os/http.h"
#include "os/win32/wide.h"
#include <windows.h>
#include <oleauto.h>
#include <algorithm>
#include <vector>

namespace tev::os {

namespace {

struct Variant {
    VARIANT v;
    Variant() { VariantInit(&v); }
    ~Variant() { VariantClear(&v); }
    Variant(const Variant&) = delete;
    Variant& operator=(const Variant&) = delete;
};

void set_text(Variant& var, const std::string& utf8) {
    std::wstring w = widen(utf8);
    var.v.vt = VT_BSTR;
    var.v.bstrVal = SysAllocStringLen(w.data(), UINT(w.size()));
}

// A one-dimensional byte array, owned by the variant from then on.
bool set_bytes(Variant& var, const std::string& bytes) {
    SAFEARRAY* array = SafeArrayCreateVector(VT_UI1, 0, ULONG(bytes.size()));
    if (!array) return false;
    void* data = nullptr;
    if (FAILED(SafeArrayAccessData(array, &data))) {
        SafeArrayDestroy(array);
        return false;
    }
    if (!bytes.empty()) std::copy(bytes.begin(), bytes.end(), static_cast<char*>(data));
    SafeArrayUnaccessData(array);
    var.v.vt = VT_ARRAY | VT_UI1;
    var.v.parray = array;
    return true;
}

HRESULT invoke(IDispatch* object, const wchar_t* name, WORD kind, std::vector<VARIANT> args, VARIANT* result) {
    DISPID id = 0;
    LPOLESTR member = const_cast<LPOLESTR>(name);
    HRESULT hr = object->GetIDsOfNames(IID_NULL, &member, 1, LOCALE_USER_DEFAULT, &id);
    if (FAILED(hr)) return hr;
    std::reverse(args.begin(), args.end());  // IDispatch takes the last argument first
    DISPPARAMS params = {args.empty() ? nullptr : args.data(), nullptr, UINT(args.size()), 0};
    return object->Invoke(id, IID_NULL, LOCALE_USER_DEFAULT, kind, &params, result, nullptr, nullptr);
}

bool call_method(IDispatch* object, const wchar_t* name, std::vector<VARIANT> args, VARIANT* result = nullptr) {
    return SUCCEEDED(invoke(object, name, DISPATCH_METHOD, std::move(args), result));
}

bool get_property(IDispatch* object, const wchar_t* name, VARIANT* result) {
    return SUCCEEDED(invoke(object, name, DISPATCH_PROPERTYGET, {}, result));
}

struct Released {
    IDispatch* object = nullptr;
    ~Released() {
        if (object) object->Release();
    }
};

bool read_bytes(const VARIANT& v, std::string* out) {
    out->clear();
    if (v.vt == VT_EMPTY) return true;
    if (v.vt != (VT_ARRAY | VT_UI1) || !v.parray || SafeArrayGetDim(v.parray) != 1) return false;
    LONG low = 0, high = -1;
    if (FAILED(SafeArrayGetLBound(v.parray, 1, &low)) || FAILED(SafeArrayGetUBound(v.parray, 1, &high)))
        return false;
    if (high < low) return true;
    void* data = nullptr;
    if (FAILED(SafeArrayAccessData(v.parray, &data))) return false;
    out->assign(static_cast<const char*>(data), size_t(high - low) + 1);
    SafeArrayUnaccessData(v.parray);
    return true;
}

}  // namespace

bool http_send(const HttpRequest& request, HttpResponse* response) {
    CLSID clsid;
    if (FAILED(CLSIDFromProgID(L"WinHttp.WinHttpRequest.5.1", &clsid))) return false;
    Released request_object;
    if (FAILED(CoCreateInstance(clsid, nullptr, CLSCTX_INPROC_SERVER, IID_IDispatch,
                                reinterpret_cast<void**>(&request_object.object))))
        return false;
    IDispatch* http = request_object.object;

    {
        Variant method, url;
        set_text(method, request.method);
        set_text(url, request.url);
        if (!call_method(http, L"Open", {method.v, url.v})) return false;
    }
    for (const HttpHeader& header : request.headers) {
        Variant name, value;
        set_text(name, header.name);
        set_text(value, header.value);
        if (!call_method(http, L"SetRequestHeader", {name.v, value.v})) return false;
    }
    {
        Variant body;
        if (request.body_kind == HttpRequest::Body::bytes) {
            if (!set_bytes(body, request.body)) return false;
        } else if (request.body_kind == HttpRequest::Body::text) {
            set_text(body, request.body);
        }
        if (!call_method(http, L"Send", {body.v})) return false;
    }

    Variant status, headers, body;
    if (!get_property(http, L"Status", &status.v) || FAILED(VariantChangeType(&status.v, &status.v, 0, VT_I4)))
        return false;
    if (!call_method(http, L"GetAllResponseHeaders", {}, &headers.v) || headers.v.vt != VT_BSTR) return false;
    if (!get_property(http, L"ResponseBody", &body.v)) return false;
    std::string bytes;
    if (!read_bytes(body.v, &bytes)) return false;
    response->status = int(status.v.lVal);
    response->headers = headers.v.bstrVal ? narrow(headers.v.bstrVal, SysStringLen(headers.v.bstrVal)) : std::string();
    response->body = std::move(bytes);
    return true;
}

}  // namespace tev::os
