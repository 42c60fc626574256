// xmlrpc::Client against Python's standard SimpleXMLRPCServer on loopback
// TCP, and against a Python listener that never answers.
#include "xmlrpc/client.h"

#include "base/clock.h"
#include "base/logcapture.h"
#include "xmlrpc/server.h"

#include <gtest/gtest.h>

#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <string>

using namespace trivane;
using namespace trivane::xmlrpc;

namespace {

const char* const s_script = R"(
import socket, sys, threading, xmlrpc.client
from xmlrpc.server import SimpleXMLRPCServer
server = SimpleXMLRPCServer(("127.0.0.1", 0), logRequests=False)
server.register_function(lambda *args: list(args), "echo")
def fail(code):
    raise xmlrpc.client.Fault(code, "raised by python")
server.register_function(fail, "fail")
silent = socket.socket()
silent.bind(("127.0.0.1", 0))
silent.listen(8)
held = []
def hold():
    while True:
        held.append(silent.accept()[0])
threading.Thread(target=hold, daemon=True).start()
print(server.server_address[1], silent.getsockname()[1], flush=True)
server.serve_forever()
)";

// The Python peer process, killed when the object goes.
class PythonPeer {
public:
    PythonPeer() {
        int out[2];
        if (pipe(out) != 0) return;
        m_pid = fork();
        if (m_pid == 0) {
            dup2(out[1], 1);
            close(out[0]);
            execl(TRIVANE_PYTHON, TRIVANE_PYTHON, "-c", s_script, static_cast<char*>(nullptr));
            _exit(127);
        }
        close(out[1]);
        FILE* in = fdopen(out[0], "r");
        if (std::fscanf(in, "%d %d", &m_xmlPort, &m_silentPort) != 2) m_xmlPort = m_silentPort = 0;
        std::fclose(in);
    }
    ~PythonPeer() {
        if (m_pid > 0) {
            kill(m_pid, SIGKILL);
            waitpid(m_pid, nullptr, 0);
        }
    }
    String address(int port) const { return String("127.0.0.1:"_s + String::fromInt(port)); }
    int xmlPort() const { return m_xmlPort; }
    int silentPort() const { return m_silentPort; }

private:
    pid_t m_pid = -1;
    int m_xmlPort = 0;
    int m_silentPort = 0;
};

class ClientPython : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_NE(peer.xmlPort(), 0) << "the Python peer did not start"; }
    PythonPeer peer;
};

TEST_F(ClientPython, ValuesAndFaultsComeBack) {
    const Client client(peer.address(peer.xmlPort()), "/RPC2"_s);
    Value record;
    record.set("flag", Value::ofBool(true));
    record.set("text", Value("<a & b>"_s));
    Value params;
    params.append(Value(-5));
    params.append(Value::ofDouble(0.25));
    params.append(record);
    params.append(Value::ofBinary(Memory("\0\x01\xfe", 3)));
    EXPECT_EQ(client.execute("echo"_s, params, 10000), params);
    Value code;
    code.append(Value(5));
    EXPECT_EQ(client.execute("fail"_s, code, 10000), Value(5, "raised by python"_s));
}

TEST_F(ClientPython, APageThatIsNotAnRpcReplyIsTheBadConfigurationFault) {
    // Python serves only / and /RPC2: the default path gets its 404 page.
    test::LogCapture logs;
    const Client client(peer.address(peer.xmlPort()), String());
    EXPECT_EQ(client.execute("echo"_s, Value(), 10000), faultBadConfiguration);
    EXPECT_EQ(logs.lines("Invalid response - no methodResponse"), 1);
}

TEST_F(ClientPython, AServerThatNeverAnswersGivesTheTimeoutFault) {
    test::LogCapture logs;
    const Client client(peer.address(peer.silentPort()), String());
    const uint64_t before = steadyMilliseconds();
    EXPECT_EQ(client.execute("echo"_s, Value(), 500), faultNetworkTimeout);
    EXPECT_GE(steadyMilliseconds() - before, 500u);
    EXPECT_EQ(logs.lines("bad xmlrpc call"), 0);
}

}  // namespace
