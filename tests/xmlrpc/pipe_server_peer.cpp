// A server on the named pipe for Python's XML-RPC client to call:
//   xmlrpc_pipe_server NAME    serves until standard input closes
// Methods: echo (its first parameter back), fault (the standard fault of
// the code given), whoami (the caller's account and elevation).
#include "base/console.h"
#include "base/namedpipeio.h"
#include "support/pipedir.h"
#include "xmlrpc/namedpipeserver.h"

#include <poll.h>
#include <unistd.h>

using namespace trivane;
using namespace trivane::xmlrpc;

namespace {

class Echo : public ServerMethod {
public:
    Echo() : ServerMethod("echo"_s) {}
    using ServerMethod::execute;
    Value execute(const Value& params) override { return params.get(0); }
};

class Fault : public ServerMethod {
public:
    Fault() : ServerMethod("fault"_s) {}
    using ServerMethod::execute;
    Value execute(const Value& params) override {
        switch (params.get(0).asInt()) {
            case 3: return faultBadParameter;
            case 4: return faultBadConfiguration;
            default: return faultInternalError;
        }
    }
};

class WhoAmI : public ServerMethod {
public:
    WhoAmI() : ServerMethod("whoami"_s) {}
    Value execute(const Value& params, IO* stream) override {
        auto* pipe = dynamic_cast<NamedPipeIO*>(stream);
        if (!pipe) return execute(params);
        Value who;
        who.set("user", Value(pipe->clientUserName()));
        who.set("elevated", Value::ofBool(pipe->isClientElevated()));
        return who;
    }
    Value execute(const Value&) override { return faultInternalError; }
};

bool inputOpen() {
    pollfd p{0, POLLIN, 0};
    if (poll(&p, 1, 0) <= 0) return true;
    char byte;
    return read(0, &byte, 1) > 0;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 2) return 2;
    for (int level = 0; level < Console::levels; ++level) Console::instance()->setOutput(level, "null"_s);
    Echo echo;
    Fault fault;
    WhoAmI whoami;
    NamedPipeServer server;
    server.addMethod(&echo);
    server.addMethod(&fault);
    server.addMethod(&whoami);
    server.listen(String(argv[1]), 3, pipetest::everyoneMayConnect());
    while (inputOpen()) server.work(100);
    return 0;
}
