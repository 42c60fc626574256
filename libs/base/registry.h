// Read-only access to the machine's registry: keys opened by path, values
// queried as the system stores them.
#pragma once

#include "base/array.h"
#include "base/memory.h"
#include "base/string.h"

#include <cstdint>

namespace trivane {

enum class RegistryRoot { LocalMachine };

// One open key. Its values are read when it is opened, so a key open on one
// thread is a snapshot; key and value names compare without regard to case.
class RegistryKey {
public:
    RegistryKey() = default;
    RegistryKey(const RegistryKey&) = delete;
    RegistryKey& operator=(const RegistryKey&) = delete;

    // Opens `subKey` ("SOFTWARE\\VelnorVPN") of `root` for reading. Returns
    // 0, 2 when the key does not exist, 5 when the registry's store cannot be
    // trusted, 1009 when it is not a registry at all, or the error of
    // reading it.
    uint32_t open(RegistryRoot root, const String& subKey);
    bool isOpen() const noexcept { return m_open; }
    void close();

    // As the system's query: with a null buffer, sets `size` to the size of
    // the value's data; otherwise copies the data when `size` is enough
    // (else 234, with `size` set to what is needed). A string value's data
    // ends with its terminating NUL. Returns 0, 2 for a value that does not
    // exist, 6 when the key is not open.
    uint32_t queryValue(const String& name, void* buffer, uint32_t& size) const;
    // A string value without its terminating NUL. Data of size 0 has no
    // terminator to drop and gives 13 (invalid data); otherwise as queryValue.
    uint32_t queryString(const String& name, String& value) const;

    // The name of `root` as exports write it ("HKEY_LOCAL_MACHINE").
    static String rootName(RegistryRoot root);

    // Reads the values of `keyPath` ("HKEY_LOCAL_MACHINE\\SOFTWARE\\X") out
    // of the text of a registry export. Returns 0, 2 when the export does not
    // hold the key, or 1009 when the text is not an export.
    uint32_t load(const Memory& exportText, const String& keyPath);

private:
    bool m_open = false;
    // Lower-case names, and the data of each.
    Strings m_names;
    Array<Memory> m_data;
};

}  // namespace trivane
