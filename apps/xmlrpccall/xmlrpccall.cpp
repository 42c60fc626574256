// xmlrpccall: calls one XML-RPC method of the admin daemon over its pipe, or
// of any XML-RPC server over TCP, and prints the result or the fault.
#include "base/console.h"
#include "base/string.h"
#include "xmlrpc/client.h"
#include "xmlrpc/objectvalue.h"
#include "xmlrpc/value.h"

#include <cstdio>
#include <cstring>

using namespace trivane;

namespace {

const char usage[] =
    "usage: xmlrpccall [--pipe NAME | --tcp HOST:PORT [--path PATH]] [--timeout MS] METHOD [PARAM...]\n"
    "\n"
    "Calls METHOD with the parameters in order and prints its result, or\n"
    "\"fault CODE: MESSAGE\" for a fault.\n"
    "\n"
    "  --pipe NAME      the named pipe to call (default gate_admin_daemon, the\n"
    "                   admin daemon's; on Linux a socket in $TRIVANE_PIPE_DIR,\n"
    "                   default /run/trivane/pipe)\n"
    "  --tcp HOST:PORT  call an XML-RPC server over TCP instead\n"
    "  --path PATH      the HTTP path of a TCP call (default /rpc)\n"
    "  --timeout MS     how long the call may take (default 30000)\n"
    "  --help           this text\n"
    "\n"
    "PARAM is i:NUMBER for an integer, s:TEXT for a string; any other text\n"
    "is passed as a string.\n"
    "\n"
    "Exit status: 0 for a result, 1 for a fault (a transport failure is the\n"
    "fault 2 \"network timeout\"), 2 for a usage error.\n"
    "\n"
    "Example: xmlrpccall stopVpn s:my-session i:10000\n";

int usageError(const char* message) {
    std::fprintf(stderr, "xmlrpccall: %s\n%s", message, usage);
    return 2;
}

// False for an "i:" parameter that is not a whole 32-bit number.
bool parseParam(const char* text, xmlrpc::Value& value) {
    if (std::strncmp(text, "i:", 2) == 0) {
        const char* digits = text + 2;
        const char* p = *digits == '-' || *digits == '+' ? digits + 1 : digits;
        if (!*p) return false;
        for (; *p; ++p)
            if (*p < '0' || *p > '9') return false;
        const int64_t number = String::toInt64(digits);
        if (number < INT32_MIN || number > INT32_MAX) return false;
        value = xmlrpc::Value(static_cast<int32_t>(number));
        return true;
    }
    value = xmlrpc::Value(String(std::strncmp(text, "s:", 2) == 0 ? text + 2 : text));
    return true;
}

void print(const xmlrpc::Value& result) {
    String text;
    switch (result.type()) {
        case xmlrpc::TypeInvalid: text = "(no value)"_s; break;
        case xmlrpc::TypeInteger:
        case xmlrpc::TypeString: text = result.asString(); break;
        default: text = result.toXml(); break;
    }
    std::fwrite(text.data(), 1, text.length(), stdout);
    std::fputc('\n', stdout);
}

}  // namespace

int main(int argc, char** argv) {
    String pipe("gate_admin_daemon");
    String tcp;
    String path;
    uint32_t timeoutMs = 30000;
    int i = 1;
    for (; i < argc && std::strncmp(argv[i], "--", 2) == 0; ++i) {
        const char* option = argv[i];
        if (std::strcmp(option, "--help") == 0) {
            std::fputs(usage, stdout);
            return 0;
        }
        if (i + 1 >= argc) return usageError("an option lacks its value");
        const char* value = argv[++i];
        if (std::strcmp(option, "--pipe") == 0) {
            pipe = String(value);
        } else if (std::strcmp(option, "--tcp") == 0) {
            tcp = String(value);
        } else if (std::strcmp(option, "--path") == 0) {
            path = String(value);
        } else if (std::strcmp(option, "--timeout") == 0) {
            const int64_t ms = String::toInt64(value);
            if (ms <= 0 || ms > INT32_MAX) return usageError("--timeout takes a positive number of milliseconds");
            timeoutMs = static_cast<uint32_t>(ms);
        } else {
            return usageError("unknown option");
        }
    }
    if (i >= argc) return usageError("no method named");
    const String method(argv[i++]);
    Array<xmlrpc::Value> elements;
    for (; i < argc; ++i) {
        xmlrpc::Value value;
        if (!parseParam(argv[i], value)) return usageError("an i: parameter is not a 32-bit integer");
        elements.append(value);
    }
    // The toolkit's own log lines would mix with the result on standard output.
    Console* console = Console::instance();
    console->setStandardOutputCopy(false);
    for (int level = 0; level < Console::levels; ++level) console->setOutput(level, "null"_s);

    const xmlrpc::Value params(elements);
    const xmlrpc::Value result = tcp.isEmpty() ? xmlrpc::NamedPipeClient(pipe).execute(method, params, timeoutMs)
                                               : xmlrpc::Client(tcp, path).execute(method, params, timeoutMs);
    if (result.isFault()) {
        const auto* fault = static_cast<const xmlrpc::FaultValue*>(result.object());
        std::printf("fault %d: %.*s\n", fault->code(), static_cast<int>(fault->message().length()),
                    fault->message().data());
        return 1;
    }
    print(result);
    return 0;
}
