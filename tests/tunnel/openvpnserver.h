// Debian's OpenVPN as the VPN server on loopback: the test server
// certificate of the built-in CA, a tun device, an address pool, and a
// script that accepts one user name and password.
#pragma once

#include "base/process.h"
#include "standindaemon.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <linux/if_tun.h>
#include <net/if.h>
#include <netinet/in.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <random>

namespace mgmttest {

// Empty when a tun device can be made here, otherwise why not.
inline std::string tunUnusable() {
    const int fd = ::open("/dev/net/tun", O_RDWR);
    if (fd < 0) return std::string("/dev/net/tun cannot be opened: ") + std::strerror(errno);
    ifreq request{};
    request.ifr_flags = IFF_TUN | IFF_NO_PI;
    const int result = ioctl(fd, TUNSETIFF, &request);
    const int error = errno;
    ::close(fd);
    if (result != 0) return std::string("no tun device can be created: ") + std::strerror(error);
    return std::string();
}

// A loopback port nobody listens on at the moment.
inline int freePort() {
    const int s = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    bind(s, reinterpret_cast<sockaddr*>(&a), sizeof a);
    socklen_t length = sizeof a;
    getsockname(s, reinterpret_cast<sockaddr*>(&a), &length);
    ::close(s);
    return ntohs(a.sin_port);
}

inline bool waitForText(const std::string& path, const std::string& text, int seconds) {
    const auto end = Clock::now() + std::chrono::seconds(seconds);
    while (Clock::now() < end) {
        if (readFile(path).find(text) != std::string::npos) return true;
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    return false;
}

class OpenVpnServer {
public:
    // Writes the configuration and the verify script into `temp` (ending
    // with '/'); `password` is the only one the script accepts for "tester".
    OpenVpnServer(const std::string& temp, const std::string& password) : m_temp(temp) {
        std::random_device random;
        const unsigned r = random();
        m_subnet = "10." + std::to_string(100 + r % 100) + "." + std::to_string((r / 100) % 250) + ".";
        m_port = freePort();
        std::ofstream(temp + "expected") << password;
        const std::string script = temp + "verify.sh";
        std::ofstream(script) << "#!/bin/sh\n{ IFS= read -r user; IFS= read -r pass; } < \"$1\"\n"
                              << "[ \"$user\" = tester ] && [ \"$pass\" = \"$(cat '" << temp << "expected')\" ]\n";
        chmod(script.c_str(), 0700);
        const std::string data = TRIVANE_TUNNEL_TEST_DATA;
        std::ofstream(temp + "server.conf")
            << "dev tun\nproto tcp-server\nlocal 127.0.0.1\nport " << m_port << "\ntopology subnet\nserver "
            << m_subnet << "0 255.255.255.0\nca " << data << "/ca.crt\ncert " << data << "/server.crt\nkey " << data
            << "/server.key\ndh " << data << "/dh.pem\nverify-client-cert require\nscript-security 2\n"
            << "auth-user-pass-verify " << script << " via-file\nverb 3\nlog " << temp << "server.log\n";
    }
    ~OpenVpnServer() { m_process.terminate(); }

    // True once it serves; false, with its log, when it did not start.
    bool start(std::string& log) {
        if (m_process.start(String(openvpnPath), String(("openvpn --config \"" + m_temp + "server.conf\"").c_str())) != 0) {
            log = "openvpn could not be started";
            return false;
        }
        const bool ready = waitForText(m_temp + "server.log", "Initialization Sequence Completed", 30);
        log = readFile(m_temp + "server.log");
        return ready;
    }
    std::string remote() const { return "127.0.0.1:" + std::to_string(m_port); }
    // The address the pool gives the first client.
    std::string firstClientAddress() const { return m_subnet + "2"; }
    std::string log() const { return readFile(m_temp + "server.log"); }

private:
    std::string m_temp;
    std::string m_subnet;
    int m_port;
    Process m_process;
};

}  // namespace mgmttest
