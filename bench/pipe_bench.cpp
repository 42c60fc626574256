// Requests per second over the pipe's Unix socket with 1, 8 and 32
// concurrent clients: the toolkit's NamedPipeServer against Python's threaded
// XML-RPC server and against a minimal thread-per-connection server that
// writes a fixed reply (the ceiling of this design). All three serve the
// same request, a method returning the invalid value, in the same run.
#include "base/console.h"
#include "xmlrpc/namedpipeserver.h"
#include "xmlrpc/xml.h"

#include <benchmark/benchmark.h>

#include <signal.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <iostream>
#include <string>
#include <thread>

using namespace trivane;
using namespace trivane::xmlrpc;

namespace {

const std::string s_dir = (std::filesystem::temp_directory_path() / "trivane-pipe-bench").string();
const std::string s_body =
    "<?xml version=\"1.0\"?>\r\n<methodCall><methodName>none</methodName>\r\n<params></params></methodCall>\r\n";
const std::string s_request = "POST /RPC2 HTTP/1.1\r\nUser-Agent: Velnor-RPC v1.0\r\nHost: localhost\r\n"
                              "Content-Type: text/xml\r\nContent-length: " +
                              std::to_string(s_body.size()) + "\r\n\r\n" + s_body;

std::string path(const char* name) { return s_dir + "/" + name; }

sockaddr_un unixAddress(const std::string& file) {
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    std::strncpy(address.sun_path, file.c_str(), sizeof address.sun_path - 1);
    return address;
}

// One call as any client does it: open (waiting while the backlog is full,
// as a Windows client waits for a free instance), send, read to the end.
bool call(const sockaddr_un& address) {
    const int s = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (connect(s, reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0) {
        close(s);
        return false;
    }
    bool ok = send(s, s_request.data(), s_request.size(), MSG_NOSIGNAL) == static_cast<ssize_t>(s_request.size());
    char reply[4096];
    size_t got = 0;
    for (ssize_t n; ok && (n = recv(s, reply + got, sizeof reply - got, 0)) > 0;) got += static_cast<size_t>(n);
    close(s);
    return ok && got > 12 && std::memcmp(reply, "HTTP/1.", 7) == 0 && std::memcmp(reply + 9, "200", 3) == 0;
}

// ---- The toolkit's server

class NoValue : public ServerMethod {
public:
    NoValue() : ServerMethod("none"_s) {}
    using ServerMethod::execute;
    Value execute(const Value&) override { return Value(); }
};

struct Toolkit {
    NoValue method;
    NamedPipeServer server;
    std::atomic<bool> stop{false};
    std::thread worker;

    Toolkit() {
        server.addMethod(&method);
        server.listen("trivane"_s, 3, nullptr);
        worker = std::thread([this] {
            while (!stop) server.work(100);
        });
    }
    ~Toolkit() {
        stop = true;
        worker.join();
    }
};

// ---- The minimal server: accept, a thread per connection, a fixed reply

struct Minimal {
    int listener = -1;
    std::thread acceptor;
    std::string reply;

    Minimal() {
        const String body = responseXml(Value());
        reply = "HTTP/1.1 200 OK\r\nServer: Velnor-RPC v1.0\r\nConnection: close\r\nContent-Type: text/xml\r\n"
                "Content-length: " +
                std::to_string(body.length()) + "\r\n\r\n" + std::string(body.data(), body.length());
        listener = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
        const sockaddr_un address = unixAddress(path("minimal"));
        unlink(address.sun_path);
        if (bind(listener, reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0 || listen(listener, 3) != 0)
            std::abort();
        acceptor = std::thread([this] {
            for (;;) {
                const int s = accept4(listener, nullptr, nullptr, SOCK_CLOEXEC);
                if (s < 0) return;
                std::thread([this, s] { serve(s); }).detach();
            }
        });
    }
    ~Minimal() {
        shutdown(listener, SHUT_RDWR);
        acceptor.join();
        close(listener);
    }
    void serve(int s) {
        // The whole request first, as any server must before it answers.
        char buffer[4096];
        size_t got = 0;
        while (got < s_request.size()) {
            const ssize_t n = recv(s, buffer, sizeof buffer, 0);
            if (n <= 0) break;
            got += static_cast<size_t>(n);
        }
        send(s, reply.data(), reply.size(), MSG_NOSIGNAL);
        close(s);
    }
};

// ---- Python's threaded XML-RPC server on a Unix socket

const char* const s_python = R"(
import socketserver, sys
from xmlrpc.server import SimpleXMLRPCDispatcher, SimpleXMLRPCRequestHandler
class Handler(SimpleXMLRPCRequestHandler):
    disable_nagle_algorithm = False
    def address_string(self):
        return "local"
class Server(socketserver.ThreadingUnixStreamServer, SimpleXMLRPCDispatcher):
    daemon_threads = True
    request_queue_size = 3
    def __init__(self, path):
        self.logRequests = False
        SimpleXMLRPCDispatcher.__init__(self, allow_none=True)
        socketserver.ThreadingUnixStreamServer.__init__(self, path, Handler)
server = Server(sys.argv[1])
server.register_function(lambda: None, "none")
server.serve_forever()
)";

struct Python {
    pid_t pid = -1;
    Python() {
        const std::string socketPath = path("python");
        unlink(socketPath.c_str());
        pid = fork();
        if (pid == 0) {
            execlp("python3", "python3", "-c", s_python, socketPath.c_str(), static_cast<char*>(nullptr));
            _exit(127);
        }
        struct stat st;
        for (int i = 0; i < 1000 && stat(socketPath.c_str(), &st) != 0; ++i) usleep(10000);
    }
    ~Python() {
        kill(pid, SIGTERM);
        waitpid(pid, nullptr, 0);
    }
};

void run(benchmark::State& state, const char* name) {
    const sockaddr_un address = unixAddress(path(name));
    int64_t failed = 0;
    for (auto _ : state)
        if (!call(address)) ++failed;
    state.SetItemsProcessed(state.iterations());
    state.counters["failed"] = static_cast<double>(failed);
}

void pipe_trivane(benchmark::State& state) { run(state, "trivane"); }
void pipe_python(benchmark::State& state) { run(state, "python"); }
void pipe_minimal(benchmark::State& state) { run(state, "minimal"); }

#define PIPE_BENCH(goal, clients)                                                                 \
    BENCHMARK(pipe_trivane)->Name(goal "/trivane")->Threads(clients)->UseRealTime()->MinTime(1.0); \
    BENCHMARK(pipe_python)->Name(goal "/python")->Threads(clients)->UseRealTime()->MinTime(1.0);   \
    BENCHMARK(pipe_minimal)->Name(goal "/minimal")->Threads(clients)->UseRealTime()->MinTime(1.0)

PIPE_BENCH("Pipe1Client", 1);
PIPE_BENCH("Pipe8Clients", 8);
PIPE_BENCH("Pipe32Clients", 32);

}  // namespace

// The console prints every line on standard output as well: send that to
// /dev/null and report on standard error.
int main(int argc, char** argv) {
    benchmark::Initialize(&argc, argv);
    if (!std::freopen("/dev/null", "w", stdout)) return 1;
    for (int level = 0; level < Console::levels; ++level) Console::instance()->setOutput(level, "null"_s);
    std::filesystem::create_directories(s_dir);
    chmod(s_dir.c_str(), 0755);
    setenv("TRIVANE_PIPE_DIR", s_dir.c_str(), 1);
    {
        Toolkit toolkit;
        Minimal minimal;
        Python python;
        benchmark::ConsoleReporter reporter;
        reporter.SetOutputStream(&std::cerr);
        reporter.SetErrorStream(&std::cerr);
        benchmark::RunSpecifiedBenchmarks(&reporter);
    }
    benchmark::Shutdown();
    std::filesystem::remove_all(s_dir);
    return 0;
}
