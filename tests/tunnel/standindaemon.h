// A stand-in for the admin daemon on its pipe: "startVpn" writes the VPN
// files under a temporary directory and starts the real OpenVPN on them,
// "stopVpn" records the call and terminates that process.
#pragma once

#include "base/process.h"
#include "base/securedir.h"
#include "confreader.h"
#include "managementsupport.h"
#include "support/pipedir.h"
#include "tunnel/ovpnconf.h"

#include <unistd.h>

#include <fstream>
#include <memory>
#include <sstream>

namespace mgmttest {

inline const char* const openvpnPath = "/usr/sbin/openvpn";

inline std::string readFile(const std::string& path) {
    std::ifstream in(path);
    std::stringstream s;
    s << in.rdbuf();
    return s.str();
}

class StandInDaemon {
public:
    // `temp` ends with '/'; OpenVPN's management interface goes to
    // `managementAddress`.
    StandInDaemon(const std::string& temp, const std::string& managementAddress)
        : m_temp(temp), m_managementAddress(managementAddress), m_start(*this), m_stop(*this) {
        m_server.addMethod(&m_start);
        m_server.addMethod(&m_stop);
        m_server.listen("gate_admin_daemon"_s, 3, pipetest::everyoneMayConnect());
        m_runner = std::make_unique<ServerRunner>(m_server);
    }
    ~StandInDaemon() {
        m_runner.reset();
        std::lock_guard<std::mutex> lock(m_mutex);
        m_process.terminate();
    }

    // "startVpn" and "stopVpn" as "session,..." texts, in order.
    std::vector<std::string> calls() {
        std::lock_guard<std::mutex> lock(m_mutex);
        return m_calls;
    }
    bool waitForCall(const std::string& call, int seconds = 20) {
        const auto end = Clock::now() + std::chrono::seconds(seconds);
        while (Clock::now() < end) {
            for (const std::string& c : calls())
                if (c == call) return true;
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
        }
        return false;
    }
    // True once the started OpenVPN has ended, within `ms`.
    bool waitForExit(int ms) {
        std::lock_guard<std::mutex> lock(m_mutex);
        return m_process.isValid() && m_process.wait(ms);
    }
    std::string logPath() {
        std::lock_guard<std::mutex> lock(m_mutex);
        return m_logPath;
    }

private:
    class StartVpn : public xmlrpc::ServerMethod {
    public:
        explicit StartVpn(StandInDaemon& daemon) : ServerMethod("startVpn"_s), m_daemon(daemon) {}
        using ServerMethod::execute;
        xmlrpc::Value execute(const xmlrpc::Value& params) override { return m_daemon.start(params); }

    private:
        StandInDaemon& m_daemon;
    };
    class StopVpn : public xmlrpc::ServerMethod {
    public:
        explicit StopVpn(StandInDaemon& daemon) : ServerMethod("stopVpn"_s), m_daemon(daemon) {}
        using ServerMethod::execute;
        xmlrpc::Value execute(const xmlrpc::Value& params) override { return m_daemon.stop(params); }

    private:
        StandInDaemon& m_daemon;
    };

    xmlrpc::Value start(const xmlrpc::Value& params) {
        if (params.size() != 5) return xmlrpc::faultBadParameter;
        String text[5];
        for (int i = 0; i < 5; ++i) {
            if (params.get(i).type() != xmlrpc::TypeString) return xmlrpc::faultBadParameter;
            text[i] = params.get(i).asString();
        }
        std::lock_guard<std::mutex> lock(m_mutex);
        m_calls.push_back("start " + str(text[1]) + "," + str(text[0]) + "," + str(text[2]) + "," + str(text[3]) +
                          "," + str(text[4]));
        tunnel::OVpnManagementClientConfiguration conf;
        trivane::testing::MapReader reader(trivane::testing::Members{{"managedhost", m_managementAddress}});
        conf.loadConf(reader);
        const String temp(m_temp.c_str());
        conf.setVpnDir(tunnel::vpnDirectory(temp, "tester"_s));
        bool converted = false;
        const String conftext = tunnel::buildConfText(conf, text[0], text[2], text[3], text[4], converted);
        SecureDirectory directory;
        if (!converted || directory.open(temp, tunnel::vpnSubdirectory("tester"_s)) != 0 ||
            !tunnel::writeVpnFiles(directory, conf, conftext))
            return xmlrpc::faultBadConfiguration;
        m_process.terminate();
        m_logPath = str(conf.logFilePath());
        if (m_process.start(String(openvpnPath), "openvpn --config \""_s + conf.confFilePath() + "\"") != 0)
            return xmlrpc::faultInternalError;
        return xmlrpc::Value();
    }

    xmlrpc::Value stop(const xmlrpc::Value& params) {
        std::lock_guard<std::mutex> lock(m_mutex);
        if (params.size() == 2)
            m_calls.push_back("stop " + str(params.get(0).asString()) + "," + std::to_string(params.get(1).asInt()));
        m_process.terminate();
        return xmlrpc::Value();
    }

    std::string m_temp;
    std::string m_managementAddress;
    StartVpn m_start;
    StopVpn m_stop;
    xmlrpc::NamedPipeServer m_server;
    std::unique_ptr<ServerRunner> m_runner;
    std::mutex m_mutex;
    std::vector<std::string> m_calls;
    Process m_process;
    std::string m_logPath;
};

}  // namespace mgmttest
