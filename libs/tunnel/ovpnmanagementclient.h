// The OpenVPN management-interface client: it releases OpenVPN from its
// start-up hold, answers the user name and password request, follows the
// connection state and reports it to listeners; when it stops it asks
// OpenVPN to terminate and the admin daemon to stop the VPN. Also the
// writer of the files OpenVPN reads.
#pragma once

#include "base/array.h"
#include "base/gcobject.h"
#include "base/io.h"
#include "base/mutex.h"
#include "base/securedir.h"
#include "base/serialize.h"
#include "base/string.h"
#include "base/task.h"
#include "regex/pattern.h"
#include "tunnel/ovpnmanagementclientconfiguration.h"

#include <atomic>
#include <cstdint>

namespace trivane::tunnel {

// Called on the client's thread with the client's lock held, one listener
// after the other in the order they were added. An Exception thrown by one
// is logged and the next one is still called.
class OvpnManagementClientListener {
public:
    virtual ~OvpnManagementClientListener() = default;
    virtual void onStarted() = 0;
    virtual void onConnected(const String& ip) = 0;
    virtual void onAuthenticating() = 0;
    virtual void onAuthFailed() = 0;
    virtual void onReconnecting(const String& reason) = 0;
    virtual void onStopped() = 0;
};

class OvpnManagementClient : public gc::ObjectDispose {
public:
    enum State : int32_t { Idle = -1, Started = 0, UserNameSent = 1, Connected = 2, AuthFailed = 3 };

    static constexpr uint32_t maxLineLength = 1048576;
    static constexpr int32_t stopDelayMs = 10000;
    static constexpr uint32_t stopTimeoutMs = 5000;
    // How long a line that has begun, or a command being sent, may take on
    // a stream made by connect(): a stalled peer must not keep the thread
    // from noticing a stop.
    static constexpr uint32_t lineTimeoutMs = 5000;

    explicit OvpnManagementClient(const OVpnManagementClientConfiguration& configuration);
    ~OvpnManagementClient() override;
    const char* className() const noexcept override { return "OvpnManagementClient"; }

    // Empties the per-exchange patterns and the auth type, goes back to the
    // idle state and removes every listener.
    void reset();

    // A TCP connection to the configuration's management address, with
    // read and write time-outs of lineTimeoutMs. Throws an IOException when
    // the address is unusable or nobody answers within `timeoutMs`. Like
    // the other setters, called before start().
    void connect(uint32_t timeoutMs);
    // The same to another host:port.
    void connect(const String& address, uint32_t timeoutMs);
    // Any stream; used by one thread at a time, the client's own once started.
    void setStream(const gc::Pointer<IO>& stream);
    // False, and nothing kept, when either text holds CR or LF: a line break
    // would end the command and start another one.
    bool setCredentials(const String& userName, const String& password);
    // The first parameter of "stopVpn".
    void setSessionId(const String& sessionId);
    // Where "stopVpn" goes when the daemon's pipe does not answer;
    // "127.0.0.1:8070" unless changed.
    void setFallbackAddress(const String& address);
    void addListener(OvpnManagementClientListener* listener);
    void removeListener(OvpnManagementClientListener* listener);

    // Starts the client's thread, which runs run().
    void start();
    // The thread body.
    void run();
    // Sends "signal SIGTERM" when the stream is usable, asks the daemon to
    // stop the VPN, tells the listeners and ends the thread. Done once per
    // start: called from another thread while the client's thread runs, it
    // lets that thread do it (within about a second) and waits for it.
    void stop();
    // Asks the client's thread to stop; it runs stop() at its next turn,
    // also when the request comes before the thread has begun.
    void requestStop() noexcept {
        m_stopRequested.store(true);
        m_running.store(false);
    }
    // True once the client's thread has ended (at once when it never ran);
    // -1 waits without limit.
    bool wait(int32_t timeoutMs) { return m_thread.join(timeoutMs); }

    int32_t state() const noexcept { return m_state.load(); }
    bool isRunning() const noexcept { return m_running.load(); }
    String vpnAddress();
    String authType();

    // The argument as OpenVPN's command parser reads it back: unchanged
    // unless it is empty or holds a blank, a quote or a backslash; then in
    // double quotes with backslash and double quote escaped.
    static String quoteArgument(const String& value);
    // The text to put between double quotes: backslash and double quote
    // escaped, anything else as it is.
    static String escapeQuoted(const String& value);

    // Creates or truncates the file at `path` (0600, no link followed) and
    // writes every byte of `content`. Never throws; a file that cannot be
    // opened or written completely is logged and gives false.
    static bool writeConfFile(const String& path, const String& content);
    // The same for the file `name` of an open checked directory.
    static bool writeConfFile(SecureDirectory& directory, const String& name, const String& content);

private:
    enum Slot { Version = 0, PasswordRequest = 1, UserNameOk = 2, PasswordOk = 4, PasswordRejected = 5, StateLine = 6 };
    static constexpr int slotCount = 7;

    void treatCommand(const String& line);
    void treatState(const String& line);
    void treatReply(const String& line);
    void send(const String& line);
    // "prefix" + the auth type taken literally + "suffix".
    gc::Pointer<regex::Pattern> authPattern(const char* prefix, const char* suffix);
    static bool searches(const gc::Pointer<regex::Pattern>& pattern, const String& line, String* group1 = nullptr);
    static bool matchesWhole(const gc::Pointer<regex::Pattern>& pattern, const String& line);

    // Calls `call` on every listener, holding the lock.
    template <class Call>
    void notify(Call call);

    Task<OvpnManagementClient> m_thread;
    gc::Pointer<IO> m_stream;
    String m_userName;
    String m_password;
    String m_authType;
    std::atomic<bool> m_running{false};
    std::atomic<int32_t> m_state{Idle};
    Mutex m_lock;
    Array<OvpnManagementClientListener*> m_listeners;
    gc::SerializePointer<regex::Pattern> m_patterns[slotCount];
    String m_sessionId;
    String m_vpnAddress;
    OVpnManagementClientConfiguration m_configuration;
    String m_fallbackAddress;
    std::atomic<bool> m_stopDone{false};
    std::atomic<bool> m_stopRequested{false};
};

}  // namespace trivane::tunnel
