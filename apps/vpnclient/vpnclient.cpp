// vpnclient: the desktop user's VPN connection from a shell. The admin
// daemon starts OpenVPN ("startVpn" over its pipe); this program logs in
// through OpenVPN's management interface, prints what happens, and on
// Ctrl+C or failure has OpenVPN terminate and the daemon stop the VPN.
#include "base/arch/host.h"
#include "base/console.h"
#include "base/consolecontrol.h"
#include "base/event.h"
#include "base/semaphore.h"
#include "base/exception.h"
#include "base/thread.h"
#include "tunnel/ovpnmanagementclient.h"
#include "xmlrpc/client.h"

#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iostream>
#include <string>
#include <vector>

using namespace trivane;

namespace {

const char s_usage[] =
    "Usage: vpnclient --remote HOST:PORT --user NAME [options]\n"
    "\n"
    "Asks the admin daemon to start OpenVPN towards HOST:PORT, logs in through\n"
    "OpenVPN's management interface with NAME and the password, and prints one\n"
    "line per event:\n"
    "  started | authenticating | connected ADDRESS | reconnecting REASON |\n"
    "  authentication failed | stopped\n"
    "Ctrl+C (or SIGTERM) ends the connection: OpenVPN is told to terminate and\n"
    "the daemon is asked to stop the VPN. A failed login or an OpenVPN that goes\n"
    "away ends it the same way.\n"
    "\n"
    "Options:\n"
    "  --remote HOST:PORT      the VPN server (required)\n"
    "  --user NAME             the user name (required)\n"
    "  --password-file FILE    the password is the file's first line; \"-\", the\n"
    "                          default, reads it from standard input\n"
    "  --session TEXT          the session named to the daemon (default:\n"
    "                          $XDG_SESSION_ID, otherwise \"default\")\n"
    "  --options TEXT          VPN options for the daemon, e.g. \"fulltunnel\"\n"
    "  --bypass HOST:PORT      an address kept off a full tunnel; at most twice\n"
    "                          (default: the remote address)\n"
    "  --management HOST:PORT  OpenVPN's management interface (default\n"
    "                          127.0.0.1:1195, the daemon's)\n"
    "  --wait SECONDS          how long OpenVPN may take to open its management\n"
    "                          interface (default 30)\n"
    "  --log FILE              write the trace log to FILE (default: none)\n"
    "  --help                  show this text\n"
    "\n"
    "Exit status: 0 when stopped by Ctrl+C or SIGTERM, 1 when the VPN could not\n"
    "be started or ended by itself, 2 for a wrong command line.\n";

struct Options {
    std::string remote;
    std::string user;
    std::string passwordFile = "-";
    std::string session;
    std::string vpnOptions;
    std::vector<std::string> bypass;
    std::string management;
    int waitSeconds = 30;
    std::string log;
};

int usageError(const std::string& message) {
    std::fprintf(stderr, "vpnclient: %s\nTry 'vpnclient --help'.\n", message.c_str());
    return 2;
}

String text(const std::string& s) { return String(s.data(), static_cast<uint32_t>(s.size())).clone(); }

// 0 when the options are complete, 2 after a message, -1 for --help.
int parse(int argc, char** argv, Options& options) {
    for (int i = 1; i < argc; ++i) {
        const std::string name = argv[i];
        if (name == "--help" || name == "-h") return -1;
        if (i + 1 >= argc) return usageError("missing value after " + name);
        const std::string value = argv[++i];
        if (name == "--remote") options.remote = value;
        else if (name == "--user") options.user = value;
        else if (name == "--password-file") options.passwordFile = value;
        else if (name == "--session") options.session = value;
        else if (name == "--options") options.vpnOptions = value;
        else if (name == "--management") options.management = value;
        else if (name == "--log") options.log = value;
        else if (name == "--bypass") {
            if (options.bypass.size() == 2) return usageError("--bypass is given twice at most");
            options.bypass.push_back(value);
        } else if (name == "--wait") {
            char* end = nullptr;
            const long seconds = std::strtol(value.c_str(), &end, 10);
            if (value.empty() || *end != 0 || seconds < 1 || seconds > 3600)
                return usageError("--wait takes a number of seconds from 1 to 3600");
            options.waitSeconds = static_cast<int>(seconds);
        } else {
            return usageError("unknown option " + name);
        }
    }
    if (options.remote.empty()) return usageError("--remote is required");
    if (options.user.empty()) return usageError("--user is required");
    if (options.session.empty()) {
        const char* session = std::getenv("XDG_SESSION_ID");
        options.session = session && *session ? session : "default";
    }
    while (options.bypass.size() < 2) options.bypass.push_back(options.remote);
    return 0;
}

// The first line of the file, or of standard input for "-"; false when
// there is none.
bool readPassword(const std::string& file, std::string& password) {
    bool read = false;
    if (file == "-") {
        // Typed at a terminal, the password is asked for and not shown.
        const bool hidden = sys::inputEchoOff();
        if (hidden) std::fputs("Password: ", stderr);
        read = static_cast<bool>(std::getline(std::cin, password));
        if (hidden) {
            sys::inputEchoOn();
            std::fputs("\n", stderr);
        }
    } else {
        std::ifstream in(file, std::ios::binary);
        read = in && static_cast<bool>(std::getline(in, password));
    }
    if (read && !password.empty() && password.back() == '\r') password.pop_back();
    return read;
}

void print(const char* line) {
    std::fputs(line, stdout);
    std::fputc('\n', stdout);
    std::fflush(stdout);
}

void printLine(const String& line) {
    String copy = line;
    print(copy.cStr());
}

class PrintingListener : public tunnel::OvpnManagementClientListener {
public:
    void onStarted() override { print("started"); }
    void onConnected(const String& ip) override { printLine("connected "_s + ip); }
    void onAuthenticating() override { print("authenticating"); }
    void onAuthFailed() override { print("authentication failed"); }
    void onReconnecting(const String& reason) override { printLine("reconnecting "_s + reason); }
    void onStopped() override { print("stopped"); }
};

// Posted behind the released client: once it runs, the recycle thread has
// destroyed the client.
class Drained : public Event {
public:
    explicit Drained(Semaphore& done) : m_done(done) {}
    void run() override { m_done.post(); }
    const char* className() const noexcept override { return "Drained"; }

private:
    Semaphore& m_done;
};

// The process's end would drop what the recycle thread has not run yet.
void waitForRecycling() {
    EventManager* recycle = EventManager::recycleManager();
    if (!recycle || recycle->isStopped()) return;
    Semaphore done;
    Drained* drained = new Drained(done);
    try {
        if (recycle->post("drained", drained)) done.wait(20000);
    } catch (const Exception& e) {
        // A full queue leaves the event with the caller.
        TRIVANE_LOG_CAUGHT(e);
        delete drained;
    }
}

std::atomic<bool> s_interrupted{false};

bool onControl(uint32_t) {
    s_interrupted.store(true);
    return true;
}

int run(const Options& options, const String& password) {
    tunnel::OVpnManagementClientConfiguration conf;
    const String management = options.management.empty() ? conf.managedHost() : text(options.management);
    if (!tunnel::isUsableManagementAddress(management)) {
        std::fprintf(stderr, "vpnclient: unusable management address %s\n", options.management.c_str());
        return 2;
    }
    gc::Pointer<tunnel::OvpnManagementClient> client = new tunnel::OvpnManagementClient(conf);
    if (!client->setCredentials(text(options.user), password)) {
        std::fprintf(stderr, "vpnclient: the user name and the password may not hold line breaks\n");
        return 2;
    }
    client->setSessionId(text(options.session));
    PrintingListener listener;
    client->addListener(&listener);

    Array<xmlrpc::Value> params;
    for (const std::string& p : {options.remote, options.session, options.vpnOptions, options.bypass[0], options.bypass[1]})
        params.append(xmlrpc::Value(text(p)));
    const xmlrpc::Value started =
        xmlrpc::NamedPipeClient("gate_admin_daemon"_s).execute("startVpn"_s, xmlrpc::Value(params), 10000);
    if (started.isFault()) {
        String message = started.asString();
        std::fprintf(stderr, "vpnclient: the daemon did not start the VPN: %s\n", message.cStr());
        return 1;
    }
    bool connected = false;
    for (int tries = 0; !connected && tries < options.waitSeconds * 4 && !s_interrupted.load(); ++tries) {
        try {
            client->connect(management, 250);
            connected = true;
        } catch (const Exception&) {
            Thread::sleep(250, NoMutex::instance());
        }
    }
    if (!connected) {
        if (!s_interrupted.load())
            std::fprintf(stderr, "vpnclient: OpenVPN's management interface at %s did not answer\n",
                         String(management).clone().cStr());
        client->stop();
        return s_interrupted.load() ? 0 : 1;
    }
    client->start();
    while (!client->wait(200))
        if (s_interrupted.load()) client->requestStop();
    // A stream that went away ends the thread without the stop procedure.
    client->stop();
    return s_interrupted.load() ? 0 : 1;
}

}  // namespace

int main(int argc, char** argv) {
    // Before any thread starts: the control signals go to the handler.
    setConsoleControlHandler(onControl);
    Options options;
    const int parsed = parse(argc, argv, options);
    if (parsed == -1) {
        std::fputs(s_usage, stdout);
        return 0;
    }
    if (parsed != 0) return parsed;
    std::string password;
    if (!readPassword(options.passwordFile, password)) {
        std::fprintf(stderr, "vpnclient: no password in %s\n",
                     options.passwordFile == "-" ? "standard input" : options.passwordFile.c_str());
        return 2;
    }
    Console* console = Console::instance();
    console->setStandardOutputCopy(false);
    for (int level = 0; level < Console::levels; ++level)
        console->setOutput(level, options.log.empty() ? "null"_s : text(options.log));
    int status = 1;
    try {
        status = run(options, text(password));
    } catch (const Exception& e) {
        String message = e.text();
        std::fprintf(stderr, "vpnclient: %s\n", message.cStr());
    }
    waitForRecycling();
    return status;
}
