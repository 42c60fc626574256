// A small named-member reader over texts, for loading configurations in tests.
#pragma once

#include "base/exception.h"
#include "base/serialize.h"

#include <map>
#include <memory>
#include <string>
#include <vector>

namespace trivane::testing {

inline std::string str(const String& s) { return std::string(s.data(), s.length()); }

// The value of one member: a text, or a member that throws when read.
class ValueReader : public IConfReader {
public:
    ValueReader(std::string text, bool broken) : m_text(std::move(text)), m_broken(broken) {}
    bool hasMember(const String&) override { return false; }
    IConfReader& member(const String&) override { TRIVANE_THROW(EConfMissingKey); }
    uint32_t memberCount(const String&) override { return 0; }
    IConfReader& member(const String&, uint32_t) override { TRIVANE_THROW(EConfMissingKey); }
    int32_t readInt() override { TRIVANE_THROW(EConfBadValue); }
    bool readBool() override { TRIVANE_THROW(EConfBadValue); }
    String readString() override {
        if (m_broken) TRIVANE_THROW(EBadItem);
        return String(m_text.c_str());
    }

private:
    std::string m_text;
    bool m_broken;
};

using Members = std::map<std::string, std::string>;

// Named members holding texts; the member named `broken` throws when read.
class MapReader : public IConfReader {
public:
    explicit MapReader(Members members, std::string broken = "")
        : m_members(std::move(members)), m_broken(std::move(broken)) {}
    bool hasMember(const String& name) override { return m_members.count(str(name)) > 0; }
    IConfReader& member(const String& name) override {
        auto found = m_members.find(str(name));
        if (found == m_members.end()) TRIVANE_THROW(EConfMissingKey);
        fetched.push_back(found->first);
        m_values.push_back(std::make_unique<ValueReader>(found->second, found->first == m_broken));
        return *m_values.back();
    }
    uint32_t memberCount(const String& name) override { return hasMember(name) ? 1 : 0; }
    IConfReader& member(const String& name, uint32_t) override { return member(name); }
    int32_t readInt() override { TRIVANE_THROW(EConfBadValue); }
    bool readBool() override { TRIVANE_THROW(EConfBadValue); }
    String readString() override { TRIVANE_THROW(EConfBadValue); }

    std::vector<std::string> fetched;

private:
    Members m_members;
    std::string m_broken;
    std::vector<std::unique_ptr<ValueReader>> m_values;
};

}  // namespace trivane::testing
