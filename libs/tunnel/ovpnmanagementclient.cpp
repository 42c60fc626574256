// The OpenVPN management-interface client: the line protocol, the stop
// procedure, and writing the client's configuration files.
#include "tunnel/ovpnmanagementclient.h"

#include "base/console.h"
#include "base/exception.h"
#include "base/socketio.h"
#include "regex/matcher.h"
#include "xmlrpc/client.h"

#include <cstring>

namespace trivane::tunnel {

namespace {

const char s_module[] = "OvpnManagementClient";
const char s_daemonPipe[] = "gate_admin_daemon";

bool startsWith(const String& line, const char* prefix, uint32_t length) {
    return line.length() >= length && std::memcmp(line.data(), prefix, length) == 0;
}

bool holdsLineBreak(const String& text) {
    return text.find('\r') != String::npos || text.find('\n') != String::npos;
}

}  // namespace

OvpnManagementClient::OvpnManagementClient(const OVpnManagementClientConfiguration& configuration)
    : m_thread("ovpnmngtclt"_s, true, this, &OvpnManagementClient::run),
      m_configuration(configuration),
      m_fallbackAddress("127.0.0.1:8070"_s) {
    m_patterns[Version] = regex::Pattern::compile(">INFO:OpenVPN Management Interface Version (\\d+)"_s).get();
    m_patterns[PasswordRequest] = regex::Pattern::compile(">PASSWORD:Need '([^']+)' username/password"_s).get();
    m_patterns[StateLine] = regex::Pattern::compile(">STATE:\\d+,([^,]*),([^,]*),([^,]*),([^\\n]*)"_s).get();
    reset();
}

OvpnManagementClient::~OvpnManagementClient() {
    {
        Locker<Mutex> locker(m_lock);
        m_listeners.clear();
    }
    if (m_running.load()) {
        log(LogError, s_module, "~OvpnManagementClient", "thread is running");
        m_running.store(false);
    }
    // Also a thread that ended its loop on its own is joined before the
    // members its body used go away.
    m_thread.join();
}

void OvpnManagementClient::reset() {
    Locker<Mutex> locker(m_lock);
    for (int slot = UserNameOk; slot <= PasswordRejected; ++slot) m_patterns[slot] = nullptr;
    m_authType = String();
    m_state.store(Idle);
    m_listeners.clear();
}

void OvpnManagementClient::connect(uint32_t timeoutMs) {
    connect(m_configuration.managedHost(), timeoutMs);
}

void OvpnManagementClient::connect(const String& text, uint32_t timeoutMs) {
    const SocketAddress address(text);
    gc::Pointer<IO> stream = createIO(IOClientSide, ProtocolTcp);
    stream->create();
    stream->connect(address, timeoutMs, NoMutex::instance(), String());
    stream->setReadTimeout(lineTimeoutMs);
    stream->setWriteTimeout(lineTimeoutMs);
    setStream(stream);
}

void OvpnManagementClient::setStream(const gc::Pointer<IO>& stream) {
    m_stream = stream;
}

bool OvpnManagementClient::setCredentials(const String& userName, const String& password) {
    if (holdsLineBreak(userName) || holdsLineBreak(password)) {
        log(LogError, s_module, "setCredentials", "user name or password holds a line break");
        return false;
    }
    m_userName = userName;
    m_password = password;
    return true;
}

void OvpnManagementClient::setSessionId(const String& sessionId) {
    m_sessionId = sessionId;
}

void OvpnManagementClient::setFallbackAddress(const String& address) {
    m_fallbackAddress = address;
}

void OvpnManagementClient::addListener(OvpnManagementClientListener* listener) {
    Locker<Mutex> locker(m_lock);
    m_listeners.append(listener);
}

void OvpnManagementClient::removeListener(OvpnManagementClientListener* listener) {
    Locker<Mutex> locker(m_lock);
    for (uint32_t i = 0; i < m_listeners.count(); ++i) {
        if (m_listeners[i] == listener) {
            m_listeners.removeAt(i);
            return;
        }
    }
}

String OvpnManagementClient::vpnAddress() {
    Locker<Mutex> locker(m_lock);
    return m_vpnAddress;
}

String OvpnManagementClient::authType() {
    Locker<Mutex> locker(m_lock);
    return m_authType;
}

template <class Call>
void OvpnManagementClient::notify(Call call) {
    Locker<Mutex> locker(m_lock);
    // A listener that adds or removes listeners changes the list, not this pass.
    const Array<OvpnManagementClientListener*> listeners = m_listeners;
    for (OvpnManagementClientListener* listener : listeners) {
        try {
            call(*listener);
        } catch (const Exception& e) {
            TRIVANE_LOG_CAUGHT(e);
        }
    }
}

void OvpnManagementClient::start() {
    m_stopDone.store(false);
    m_stopRequested.store(false);
    m_thread.run();
}

void OvpnManagementClient::run() {
    m_running.store(true);
    notify([](OvpnManagementClientListener& l) { l.onStarted(); });
    m_state.store(Started);
    try {
        for (;;) {
            if (!m_running.load() || m_stopRequested.load()) {
                stop();
                return;
            }
            if (!m_stream || !m_stream->isValid()) return;
            if (!m_stream->waitReadable(1000, NoMutex::instance())) continue;
            String line;
            m_stream->readLine(line, maxLineLength, NoMutex::instance());
            log(LogTrace, s_module, "main", line);
            if (!line.isEmpty() && line.charAt(0) == '>')
                treatCommand(line);
            else if (startsWith(line, "SUCCESS:", 8) || startsWith(line, "ERROR:", 6))
                treatReply(line);
        }
    } catch (const Exception& e) {
        TRIVANE_LOG_CAUGHT(e);
    }
    stop();
}

bool OvpnManagementClient::searches(const gc::Pointer<regex::Pattern>& pattern, const String& line, String* group1) {
    if (!pattern) return false;
    gc::Pointer<regex::Matcher> matcher = pattern->createMatcher(line);
    if (!matcher->search()) return false;
    if (group1) *group1 = matcher->group(1);
    return true;
}

bool OvpnManagementClient::matchesWhole(const gc::Pointer<regex::Pattern>& pattern, const String& line) {
    return pattern && pattern->createMatcher(line)->matches();
}

void OvpnManagementClient::treatCommand(const String& line) {
    if (line.length() > 6 && startsWith(line, ">STATE:", 7)) {
        treatState(line);
        return;
    }
    String version;
    if (searches(m_patterns[Version], line, &version)) {
        log(LogTrace, s_module, "treatCommand", "got version "_s + version);
        return;
    }
    if (startsWith(line, ">HOLD:Waiting for hold release", 30)) {
        send("hold release\n"_s);
        send("state on\n"_s);
        return;
    }
    gc::Pointer<regex::Matcher> request = m_patterns[PasswordRequest]->createMatcher(line);
    if (request->matches()) {
        m_state.store(UserNameSent);
        {
            Locker<Mutex> locker(m_lock);
            m_authType = request->group(1);
        }
        log(LogTrace, s_module, "treatCommand", "Auth: "_s + m_authType);
        send("username \""_s + escapeQuoted(m_authType) + "\" " + quoteArgument(m_userName) + "\n");
        m_patterns[UserNameOk] = authPattern("SUCCESS: '", "' username entered,").get();
        return;
    }
    if (matchesWhole(m_patterns[PasswordRejected], line)) {
        m_state.store(AuthFailed);
        m_running.store(false);
        notify([](OvpnManagementClientListener& l) { l.onAuthFailed(); });
        return;
    }
    log(LogTrace, "ManagementClient", "treatCommand", "Unhandled command line:"_s + line);
}

void OvpnManagementClient::treatState(const String& line) {
    gc::Pointer<regex::Matcher> matcher = m_patterns[StateLine]->createMatcher(line);
    if (!matcher->matches()) return;
    const String name = matcher->group(1);
    const String description = matcher->group(2);
    log(LogTrace, s_module, "treatCommand", "Message: "_s + name);
    if (name == "AUTH"_s) {
        notify([](OvpnManagementClientListener& l) { l.onAuthenticating(); });
    } else if (name == "CONNECTED"_s) {
        log(LogTrace, s_module, "treatCommand", "Status: "_s + description);
        if (description == "SUCCESS"_s) {
            m_state.store(Connected);
            String address = matcher->group(3);
            {
                Locker<Mutex> locker(m_lock);
                m_vpnAddress = address;
            }
            log(LogTrace, s_module, "treatCommand", "IP: "_s + address);
            notify([&](OvpnManagementClientListener& l) { l.onConnected(address); });
        }
    } else if (name == "RECONNECTING"_s) {
        notify([&](OvpnManagementClientListener& l) { l.onReconnecting(description); });
    }
}

void OvpnManagementClient::treatReply(const String& line) {
    if (startsWith(line, "SUCCESS: hold flag set to OFF", 29) || startsWith(line, "SUCCESS: hold release succeeded", 31))
        return;
    if (searches(m_patterns[UserNameOk], line)) {
        m_patterns[PasswordRejected] = authPattern(">PASSWORD:Verification Failed: '", "'").get();
        m_patterns[PasswordOk] = authPattern("SUCCESS: '", "' password entered,").get();
        send("password \""_s + escapeQuoted(m_authType) + "\" " + quoteArgument(m_password) + "\n");
        return;
    }
    if (searches(m_patterns[PasswordOk], line)) send("hold off\n"_s);
}

void OvpnManagementClient::send(const String& line) {
    m_stream->writeAll(line.data(), line.length(), NoMutex::instance());
}

gc::Pointer<regex::Pattern> OvpnManagementClient::authPattern(const char* prefix, const char* suffix) {
    // The auth type is the peer's text: quoted, so that characters such as
    // "(" or "." stand for themselves; inside the quote a backslash takes the
    // next character as it is, which also covers a "\E" in the text.
    String text = String(prefix) + "\\Q";
    for (uint32_t i = 0; i < m_authType.length(); ++i) {
        const char c = m_authType.charAt(i);
        if (c == '\\') text.append('\\');
        text.append(c);
    }
    text = text + "\\E" + suffix;
    gc::Pointer<regex::Pattern> pattern = regex::Pattern::compile(text);
    if (!pattern) log(LogTrace, s_module, "treatCommand", "unusable auth type: "_s + m_authType);
    return pattern;
}

String OvpnManagementClient::escapeQuoted(const String& value) {
    if (value.find('\\') == String::npos && value.find('"') == String::npos) return value;
    String escaped;
    for (uint32_t i = 0; i < value.length(); ++i) {
        const char c = value.charAt(i);
        if (c == '\\' || c == '"') escaped.append('\\');
        escaped.append(c);
    }
    return escaped;
}

String OvpnManagementClient::quoteArgument(const String& value) {
    bool plain = !value.isEmpty();
    for (uint32_t i = 0; plain && i < value.length(); ++i) {
        switch (value.charAt(i)) {
        case ' ':
        case '\t':
        case '\v':
        case '\f':
        case '"':
        case '\'':
        case '\\':
            plain = false;
            break;
        default:
            break;
        }
    }
    if (plain) return value;
    return "\""_s + escapeQuoted(value) + "\"";
}

void OvpnManagementClient::stop() {
    if (!m_thread.isMyThread()) {
        // The client's thread owns the stream while it runs: let it stop.
        m_running.store(false);
        m_thread.join();
    }
    if (m_stopDone.exchange(true)) return;
    try {
        if (m_stream && m_stream->isValid()) {
            send("signal SIGTERM\n"_s);
            log(LogTrace, s_module, "main", "send SIGTERM to VPN Process");
        }
    } catch (const Exception& e) {
        TRIVANE_LOG_CAUGHT(e);
    }
    try {
        Array<xmlrpc::Value> elements;
        elements.append(xmlrpc::Value(m_sessionId));
        elements.append(xmlrpc::Value(stopDelayMs));
        const xmlrpc::Value params(elements);
        xmlrpc::Value result = xmlrpc::NamedPipeClient(String(s_daemonPipe)).execute("stopVpn"_s, params, stopTimeoutMs);
        if (result.isFault())
            result = xmlrpc::Client(m_fallbackAddress, "/rpc"_s, ProtocolTcp).execute("stopVpn"_s, params, stopTimeoutMs);
        if (!result.isFault()) log(LogTrace, s_module, "main", "VPN stop request sent to admin daemon");
    } catch (const Exception& e) {
        TRIVANE_LOG_CAUGHT(e);
    }
    notify([](OvpnManagementClientListener& l) { l.onStopped(); });
    m_running.store(false);
    m_thread.join();
}

namespace {

bool report(uint32_t error, bool opened, const String& path) {
    if (error == 0) return true;
    if (!opened)
        log(LogError, "OvpnManagementClient", "writeConfFile", "Error opening file"_s + path);
    else
        log(LogError, "OvpnManagementClient", "writeConfFile",
            "Error writing file"_s + path + " (" + String::fromUInt(error) + ")");
    return false;
}

}  // namespace

bool OvpnManagementClient::writeConfFile(const String& path, const String& content) {
    try {
        bool opened = false;
        const uint32_t error = writePrivateFile(path, content, &opened);
        return report(error, opened, path);
    } catch (const Exception& e) {
        TRIVANE_LOG_CAUGHT(e);
        return false;
    }
}

bool OvpnManagementClient::writeConfFile(SecureDirectory& directory, const String& name, const String& content) {
    try {
        bool opened = false;
        const uint32_t error = directory.writeFile(name, content, &opened);
        return report(error, opened, directory.path() + name);
    } catch (const Exception& e) {
        TRIVANE_LOG_CAUGHT(e);
        return false;
    }
}

}  // namespace trivane::tunnel
