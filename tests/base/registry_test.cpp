#include "base/registry.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <fstream>
#include <string>
#include <vector>

#include <sys/stat.h>
#include <unistd.h>

using namespace trivane;

namespace {



Memory bytes(const std::string& s) { return Memory(s.data(), static_cast<uint32_t>(s.size())); }

// UTF-16LE with its byte-order mark, as the system's editor saves exports.
std::string utf16(const std::string& ascii) {
    std::string out = "\xFF\xFE";
    for (char c : ascii) out += std::string{c, '\0'};
    return out;
}

// Queries the way the daemon does: size first, then the data.
std::string valueOf(const RegistryKey& key, const char* name, uint32_t& error) {
    uint32_t size = 0;
    error = key.queryValue(String(name), nullptr, size);
    if (error != 0) return "";
    std::string data(size, '?');
    error = key.queryValue(String(name), data.data(), size);
    return data.substr(0, size);
}

const std::string velnor =
    "Windows Registry Editor Version 5.00\r\n\r\n[HKEY_LOCAL_MACHINE\\SOFTWARE\\VelnorVPN]\r\n"
    "\"exe_path\"=\"/usr/sbin/openvpn\"\r\n";

TEST(RegistryTest, ExportTexts) {
    struct Case {
        const char* name;
        std::string text;
        uint32_t openError;
        const char* value;
        uint32_t valueError;
        std::string data;
    };
    const std::vector<Case> cases = {
        {"utf-8 with CR LF", velnor, 0, "exe_path", 0, std::string("/usr/sbin/openvpn\0", 18)},
        {"utf-8 with LF and a mark",
         "\xEF\xBB\xBFWindows Registry Editor Version 5.00\n[HKEY_LOCAL_MACHINE\\SOFTWARE\\VelnorVPN]\n\"exe_path\"=\"/x\"\n",
         0, "exe_path", 0, std::string("/x\0", 3)},
        {"utf-16", utf16(velnor), 0, "exe_path", 0, std::string("/usr/sbin/openvpn\0", 18)},
        {"names ignore case",
         "REGEDIT4\n[hkey_local_machine\\software\\velnorvpn]\n\"EXE_Path\"=\"C:\\\\Program Files\\\\\\\"v\\\"\\\\openvpn.exe\"\n",
         0, "exe_path", 0, std::string("C:\\Program Files\\\"v\"\\openvpn.exe\0", 33)},
        {"later sections and values win",
         velnor + "[HKEY_LOCAL_MACHINE\\SOFTWARE\\Other]\n\"exe_path\"=\"/other\"\n"
                  "[HKEY_LOCAL_MACHINE\\SOFTWARE\\VelnorVPN]\n\"exe_path\"=\"/second\"\n",
         0, "exe_path", 0, std::string("/second\0", 8)},
        {"a deleted value", velnor + "\"exe_path\"=-\n", 0, "exe_path", 2, ""},
        {"an empty byte list has size 0", velnor + "\"empty\"=hex:\n", 0, "empty", 0, ""},
        {"byte lists run over lines", velnor + "\"bin\"=hex:41,42,\\\n  43,00\n", 0, "bin", 0, std::string("ABC\0", 4)},
        {"dword", velnor + "\"n\"=dword:00000102\n", 0, "n", 0, std::string("\x02\x01\0\0", 4)},
        {"missing value", velnor, 0, "other", 2, ""},
        {"missing key", "Windows Registry Editor Version 5.00\n[HKEY_LOCAL_MACHINE\\SOFTWARE\\Other]\n", 2, "", 0, ""},
        {"a subkey's section opens its parent",
         "Windows Registry Editor Version 5.00\n[HKEY_LOCAL_MACHINE\\SOFTWARE\\VelnorVPN\\Sub]\n\"x\"=\"y\"\n", 0, "x", 2,
         ""},
        {"not an export", "[HKEY_LOCAL_MACHINE\\SOFTWARE\\VelnorVPN]\n\"exe_path\"=\"/x\"\n", 1009, "", 0, ""},
        {"empty file", "", 1009, "", 0, ""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        RegistryKey key;
        ASSERT_EQ(key.load(bytes(c.text), "HKEY_LOCAL_MACHINE\\SOFTWARE\\VelnorVPN"_s), c.openError);
        EXPECT_EQ(key.isOpen(), c.openError == 0);
        if (c.openError != 0) continue;
        uint32_t error;
        const std::string data = valueOf(key, c.value, error);
        EXPECT_EQ(error, c.valueError);
        EXPECT_EQ(data, c.data);
    }
}

TEST(RegistryTest, QueryAsTheSystemDoes) {
    RegistryKey key;
    uint32_t size = 100;
    EXPECT_EQ(key.queryValue("exe_path"_s, nullptr, size), 6u);
    ASSERT_EQ(key.load(bytes(velnor), "HKEY_LOCAL_MACHINE\\SOFTWARE\\VelnorVPN"_s), 0u);
    char small[4];
    size = sizeof small;
    EXPECT_EQ(key.queryValue("exe_path"_s, small, size), 234u);
    EXPECT_EQ(size, 18u);
    key.close();
    EXPECT_EQ(key.queryValue("exe_path"_s, nullptr, size), 6u);
}

TEST(RegistryTest, StringValues) {
    RegistryKey key;
    ASSERT_EQ(key.load(bytes(velnor + "\"empty\"=hex:\n\"blank\"=\"\"\n"), "HKEY_LOCAL_MACHINE\\SOFTWARE\\VelnorVPN"_s), 0u);
    struct Case {
        const char* name;
        uint32_t error;
        std::string value;
    };
    for (const Case& c : {Case{"exe_path", 0, "/usr/sbin/openvpn"}, Case{"blank", 0, ""},
                          Case{"empty", 13, "unchanged"}, Case{"missing", 2, "unchanged"}}) {
        SCOPED_TRACE(c.name);
        String value = "unchanged"_s;
        EXPECT_EQ(key.queryString(String(c.name), value), c.error);
        EXPECT_EQ(std::string(value.data(), value.length()), c.value);
    }
}

// The export file named by TRIVANE_REGISTRY decides what runs as root: it
// is trusted only when no other user could have written it.
class RegistryFileTest : public ::testing::Test {
protected:
    void SetUp() override {
        char pattern[] = "/tmp/registry_test.XXXXXX";
        dir = mkdtemp(pattern);
        file = dir + "/etc/registry.reg";
        ASSERT_EQ(mkdir((dir + "/etc").c_str(), 0755), 0);
        std::ofstream(file) << velnor;
        ASSERT_EQ(chmod(file.c_str(), 0644), 0);
        setenv("TRIVANE_REGISTRY", file.c_str(), 1);
    }
    void TearDown() override {
        unsetenv("TRIVANE_REGISTRY");
        std::system(("rm -rf '" + dir + "'").c_str());
    }
    uint32_t openVelnor() {
        RegistryKey key;
        const uint32_t error = key.open(RegistryRoot::LocalMachine, "SOFTWARE\\VelnorVPN"_s);
        if (error == 0) {
            uint32_t valueError;
            EXPECT_EQ(valueOf(key, "exe_path", valueError), std::string("/usr/sbin/openvpn\0", 18));
        }
        return error;
    }
    std::string dir, file;
};

TEST_F(RegistryFileTest, TrustedFileIsRead) { EXPECT_EQ(openVelnor(), 0u); }

TEST_F(RegistryFileTest, ReadAfreshAtEveryOpen) {
    RegistryKey key;
    std::ofstream(file) << "Windows Registry Editor Version 5.00\n";
    EXPECT_EQ(key.open(RegistryRoot::LocalMachine, "SOFTWARE\\VelnorVPN"_s), 2u);
    std::ofstream(file) << velnor;
    EXPECT_EQ(key.open(RegistryRoot::LocalMachine, "SOFTWARE\\VelnorVPN"_s), 0u);
}

TEST_F(RegistryFileTest, UntrustedFilesAreRefused) {
    struct Case {
        const char* name;
        std::string setup;
        uint32_t error;
    };
    // {f} is the file, {etc} its directory.
    const std::vector<Case> cases = {
        {"owned by another user", "chown 65534 {f}", 5},
        {"owned by another group only", "chgrp 65534 {f}", 0},
        {"group-writable", "chmod 0664 {f}", 5},
        {"writable by others", "chmod 0646 {f}", 5},
        {"a link to a good file", "mv {f} {f}.real && ln -s registry.reg.real {f}", 5},
        {"a directory on the way is a link", "mv {etc} {etc}.real && ln -s etc.real {etc}", 5},
        {"a directory on the way is writable by others", "chmod 0757 {etc}", 5},
        {"a directory on the way belongs to another user", "chown 65534 {etc}", 5},
        {"a directory", "rm {f} && mkdir {f}", 5},
        {"missing", "rm {f}", 2},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        TearDown();
        SetUp();
        std::string command = c.setup;
        for (size_t at; (at = command.find("{f}")) != std::string::npos;) command.replace(at, 3, file);
        for (size_t at; (at = command.find("{etc}")) != std::string::npos;) command.replace(at, 5, dir + "/etc");
        ASSERT_EQ(std::system(command.c_str()), 0);
        EXPECT_EQ(openVelnor(), c.error);
    }
}

}  // namespace
