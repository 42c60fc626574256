// Parses arbitrary bytes as request and response headers, reads attributes
// and writes changes back; only EBadHeader may be thrown.
#include "http/header.h"
#include "http/request.h"
#include "http/response.h"

#include <cstdint>
#include <cstdio>
#include <cstdlib>

using namespace trivane;
using namespace trivane::http;

namespace {

void readAll(Header& h) {
    h.getAttribute("content-length");
    h.contentLength();
    h.contentLengthState();
    for (int i = 0; i < knownAttributeCount; i += 7) h.knownAttribute(i);
    h.listAttribute(WwwAuthenticate);
}

}  // namespace

// Every log line also goes to standard output: keep the fuzzer's quiet.
extern "C" int LLVMFuzzerInitialize(int*, char***) {
    if (!std::freopen("/dev/null", "w", stdout)) return 1;
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size > 1 << 16) return 0;
    String input;
    input.append(reinterpret_cast<const char*>(data), static_cast<uint32_t>(size));
    const uint32_t start = size > 0 ? data[0] % 8 : 0;
    try {
        RequestHeader request;
        String in = input;
        if (request.parse(in, start)) {
            if (in.length() + request.text().length() != input.length()) std::abort();
            readAll(request);
            request.method();
            request.uri();
            request.cookies();
            request.setUri("/rpc"_s);
            request.setKnownAttribute(Host, "h"_s);
            request.setContentLength(12);
            request.removeAttribute("via");
            request.toString();
        }
    } catch (const EBadHeader&) {
    }
    try {
        ResponseHeader response;
        String in = input;
        if (response.parse(in)) {
            readAll(response);
            response.statusCode();
            response.cookies();
            response.entityTag();
            response.setStatusCode(200);
            response.setEntityTag("t"_s, true);
            response.toString();
        }
    } catch (const EBadHeader&) {
    }
    return 0;
}
