// The registry of Windows: the key is opened, its values read into the
// snapshot the interface promises, and the key closed again.
#include "base/registry.h"

#include <windows.h>

#include <vector>

namespace trivane {

uint32_t RegistryKey::open(RegistryRoot root, const String& subKey) {
    close();
    (void)root;  // the local machine is the only root
    String path = subKey.clone();
    HKEY key = nullptr;
    LONG rc = RegOpenKeyExA(HKEY_LOCAL_MACHINE, path.cStr(), 0, KEY_READ, &key);
    if (rc != ERROR_SUCCESS) return static_cast<uint32_t>(rc);

    DWORD count = 0, longestName = 0, longestData = 0;
    rc = RegQueryInfoKeyA(key, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, &count, &longestName,
                          &longestData, nullptr, nullptr);
    Strings names;
    Array<Memory> data;
    std::vector<char> name(longestName + 1);
    std::vector<BYTE> bytes(longestData + 1);
    for (DWORD i = 0; rc == ERROR_SUCCESS && i < count; ++i) {
        DWORD nameLength = static_cast<DWORD>(name.size());
        DWORD dataLength = static_cast<DWORD>(bytes.size());
        rc = RegEnumValueA(key, i, name.data(), &nameLength, nullptr, nullptr, bytes.data(), &dataLength);
        if (rc == ERROR_MORE_DATA) {
            // A value grew since the key was measured: measure again.
            RegQueryInfoKeyA(key, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, &longestName,
                             &longestData, nullptr, nullptr);
            name.resize(longestName + 1);
            bytes.resize(longestData + 1);
            rc = ERROR_SUCCESS;
            --i;
            continue;
        }
        if (rc != ERROR_SUCCESS) break;
        names.append(String(name.data(), nameLength).clone().toLower());
        data.append(Memory(reinterpret_cast<const char*>(bytes.data()), dataLength));
    }
    RegCloseKey(key);
    if (rc == ERROR_NO_MORE_ITEMS) rc = ERROR_SUCCESS;
    if (rc != ERROR_SUCCESS) return static_cast<uint32_t>(rc);
    m_names = names;
    m_data = data;
    m_open = true;
    return 0;
}

}  // namespace trivane
