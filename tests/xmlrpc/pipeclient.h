// Test support: a raw client of the pipe that sends bytes and collects the
// whole reply, and waits on captured log text.
#pragma once

#include "base/namedpipeio.h"
#include "base/clock.h"
#include "support/pipedir.h"

#include <unistd.h>

#include <functional>
#include <string>
#include <vector>

namespace pipetest {

inline std::string str(const trivane::String& s) { return std::string(s.data(), s.length()); }

// Everything the server sends until it closes (or `timeoutMs` of silence).
inline std::string readToEnd(trivane::NamedPipeIO& pipe, uint32_t timeoutMs = 15000) {
    pipe.setReadTimeout(timeoutMs);
    std::string reply;
    char buffer[65536];
    try {
        for (;;) {
            const int32_t n = pipe.read(buffer, sizeof buffer, trivane::NoMutex::instance());
            if (n <= 0) break;
            reply.append(buffer, static_cast<size_t>(n));
        }
    } catch (const trivane::ENamedPipeIO&) {
        // The server closed its end.
    }
    return reply;
}

// Sends the pieces, `gapMs` apart, and returns the reply.
inline std::string exchange(const trivane::String& pipeName, const std::vector<std::string>& pieces, int gapMs = 0) {
    trivane::NamedPipeIO pipe;
    openRetrying(pipe, pipeName);
    try {
        for (size_t i = 0; i < pieces.size(); ++i) {
            if (i > 0 && gapMs > 0) usleep(static_cast<useconds_t>(gapMs) * 1000);
            pipe.writeAll(pieces[i].data(), static_cast<uint32_t>(pieces[i].size()), trivane::NoMutex::instance());
        }
    } catch (const trivane::ENamedPipeIO&) {
        // Refused before it was all sent: what came back is the answer.
    }
    return readToEnd(pipe);
}

inline std::string httpRequest(const std::string& body, const std::string& requestLine = "POST /rpc HTTP/1.1") {
    return requestLine + "\r\nUser-Agent: test\r\nContent-Type: text/xml\r\nContent-Length: " +
           std::to_string(body.size()) + "\r\n\r\n" + body;
}

inline std::string callXml(const std::string& method, const std::string& params = "") {
    return "<?xml version=\"1.0\"?>\r\n<methodCall><methodName>" + method + "</methodName>\r\n<params>" + params +
           "</params></methodCall>\r\n";
}

inline std::string replyOf(const trivane::String& body) {
    return "HTTP/1.1 200 OK\r\nServer: Velnor-RPC v1.0\r\nConnection: close\r\nContent-Type: text/xml\r\n"
           "Content-length: " +
           std::to_string(body.length()) + "\r\n\r\n" + str(body);
}

// True once `test` holds, polling for at most `timeoutMs`.
inline bool eventually(const std::function<bool()>& test, uint32_t timeoutMs = 5000) {
    const uint64_t deadline = trivane::steadyMilliseconds() + timeoutMs;
    while (!test()) {
        if (trivane::steadyMilliseconds() > deadline) return false;
        usleep(5000);
    }
    return true;
}

}  // namespace pipetest
