// A connection whose thread cannot be started still closes its client and
// frees its place: the server runs in a child process whose uid may start
// no further thread.
#include "xmlrpc/namedpipeserver.h"

#include "base/console.h"
#include "pipeclient.h"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstring>

using namespace trivane;
using namespace trivane::xmlrpc;
using namespace pipetest;

namespace {

class NoValue : public ServerMethod {
public:
    NoValue() : ServerMethod("none"_s) {}
    using ServerMethod::execute;
    Value execute(const Value&) override { return Value(); }
};

TEST(ServerWithoutThreads, TheClientIsClosedAndTheConnectionReaped) {
    PipeDir dir;
    int ready[2];
    ASSERT_EQ(pipe(ready), 0);
    const pid_t pid = fork();
    if (pid == 0) {
        NoValue method;
        NamedPipeServer server;
        server.addMethod(&method);
        server.listen("nothreads"_s, 3, nullptr);
        // The failed start is logged; the log is opened while still root.
        const std::string logPath = dir.path("child.log");
        Console::instance()->setOutput(LogError, String(logPath.c_str()).clone());
        const int log = open(logPath.c_str(), O_RDONLY | O_CLOEXEC);
        // One process for the whole uid: this one. No thread can start.
        const rlimit one{1, 1};
        if (log < 0 || setrlimit(RLIMIT_NPROC, &one) != 0 || setresgid(nobody, nobody, nobody) != 0 ||
            setresuid(nobody, nobody, nobody) != 0)
            _exit(10);
        if (write(ready[1], "r", 1) != 1) _exit(11);
        for (int pass = 0; pass < 40; ++pass) server.work(50);
        char text[4096];
        const ssize_t n = read(log, text, sizeof text - 1);
        text[n > 0 ? n : 0] = 0;
        if (!std::strstr(text, "unable to create the Thread")) _exit(12);
        _exit(server.connectionCount() == 0 ? 0 : 1);
    }
    close(ready[1]);
    char byte;
    ASSERT_EQ(read(ready[0], &byte, 1), 1);
    close(ready[0]);
    EXPECT_EQ(exchange("nothreads"_s, {httpRequest(callXml("none"))}), "") << "closed, not left hanging";
    int status = 0;
    waitpid(pid, &status, 0);
    ASSERT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), 0) << "the connection was reaped";
}

}  // namespace
