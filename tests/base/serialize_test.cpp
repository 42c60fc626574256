#include "base/serialize.h"

#include "base/array.h"
#include "base/dict.h"
#include "base/exception.h"

#include <gtest/gtest.h>

#include <cstring>
#include <deque>
#include <map>
#include <memory>
#include <string>
#include <vector>

using namespace trivane;

namespace {

// A positional archive over bytes in memory.
class BufferArchive : public IArchive {
public:
    void write(const void* bytes, uint32_t count) override {
        bytesWritten.append(static_cast<const char*>(bytes), count);
    }
    void read(void* buffer, uint32_t count) override {
        if (count > bytesWritten.size() - position) TRIVANE_THROW(EFile);
        std::memcpy(buffer, bytesWritten.data() + position, count);
        position += count;
    }
    std::string bytesWritten;
    size_t position = 0;
};

// A tree of named members: a value, or members whose names may repeat.
struct Tree {
    std::string value;
    std::vector<std::pair<std::string, std::unique_ptr<Tree>>> children;
};

std::string key(const String& s) { return std::string(s.data(), s.length()); }

class TreeReader : public IConfReader {
public:
    explicit TreeReader(Tree& tree) : m_tree(tree) {}
    bool hasMember(const String& name) override { return memberCount(name) > 0; }
    IConfReader& member(const String& name) override { return member(name, 0); }
    uint32_t memberCount(const String& name) override {
        uint32_t n = 0;
        for (auto& child : m_tree.children) n += child.first == key(name);
        return n;
    }
    IConfReader& member(const String& name, uint32_t index) override {
        for (auto& child : m_tree.children)
            if (child.first == key(name) && index-- == 0) return m_readers.emplace_back(*child.second);
        TRIVANE_THROW(EConfMissingKey);
    }
    int32_t readInt() override { return std::stoi(m_tree.value); }
    bool readBool() override { return m_tree.value == "1"; }
    String readString() override { return String(m_tree.value.c_str()); }

private:
    Tree& m_tree;
    std::deque<TreeReader> m_readers;
};

class TreeWriter : public IConfWriter {
public:
    explicit TreeWriter(Tree& tree) : m_tree(tree) {}
    IConfWriter& member(const String& name) override {
        m_tree.children.emplace_back(key(name), std::make_unique<Tree>());
        return m_writers.emplace_back(*m_tree.children.back().second);
    }
    void writeInt(int32_t v) override { m_tree.value = std::to_string(v); }
    void writeBool(bool v) override { m_tree.value = v ? "1" : "0"; }
    void writeString(const String& v) override { m_tree.value = key(v); }

private:
    Tree& m_tree;
    std::deque<TreeWriter> m_writers;
};

TEST(SerializeTest, PositionalEncodingIsLittleEndianWithCounts) {
    BufferArchive a;
    a.writeUInt8(0xAB);
    a.writeUInt16(0x1234);
    a.writeUInt32(0x01020304);
    a.writeBool(true);
    a.writeString("hi"_s);
    EXPECT_EQ(a.bytesWritten, std::string("\xAB\x34\x12\x04\x03\x02\x01\x01\x00\x02\x00\x00\x00hi", 15));
    EXPECT_EQ(a.readUInt8(), 0xAB);
    EXPECT_EQ(a.readUInt16(), 0x1234);
    EXPECT_EQ(a.readUInt32(), 0x01020304u);
    EXPECT_TRUE(a.readBool());
    EXPECT_TRUE(a.readString() == "hi"_s);
}

TEST(SerializeTest, ContainersRoundTripThroughAStream) {
    BufferArchive a;
    Strings strings;
    strings.append("one"_s);
    strings.append(""_s);
    strings.saveStream(a);
    SerializeStringDict<int> dict;
    dict.insert("b"_s, 2);
    dict.insert("a"_s, 1);
    dict.saveStream(a);
    Vector<String> vector;
    vector.push_back("v"_s);
    vector.saveStream(a);

    Strings strings2;
    strings2.loadStream(a);
    ASSERT_EQ(strings2.count(), 2u);
    EXPECT_TRUE(strings2[0] == "one"_s);
    SerializeStringDict<int> dict2;
    dict2.loadStream(a);
    EXPECT_EQ(dict2.get("a"_s), 1);
    EXPECT_EQ(dict2.get("b"_s), 2);
    List<String> list;
    list.loadStream(a);
    ASSERT_EQ(list.size(), 1u);
    EXPECT_TRUE(list.front() == "v"_s);
    EXPECT_EQ(a.position, a.bytesWritten.size());
}

TEST(SerializeTest, ContainersRoundTripThroughNamedMembers) {
    SerializeStringDict<String> dict;
    dict.insert("k1"_s, "v1"_s);
    dict.insert("k2"_s, "v2"_s);
    Tree tree;
    TreeWriter writer(tree);
    dict.saveConf(writer);
    ASSERT_EQ(tree.children.size(), 2u);
    EXPECT_EQ(tree.children[0].first, "element");
    EXPECT_EQ(tree.children[0].second->children[0].first, "key");
    EXPECT_EQ(tree.children[0].second->children[1].second->value, "v1");
    SerializeStringDict<String> loaded;
    TreeReader reader(tree);
    loaded.loadConf(reader);
    EXPECT_TRUE(loaded.get("k2"_s) == "v2"_s);

    SerializeArray<int> numbers;
    numbers.append(4);
    numbers.append(-5);
    Tree tree2;
    TreeWriter writer2(tree2);
    numbers.saveConf(writer2);
    SerializeArray<int> numbers2;
    TreeReader reader2(tree2);
    numbers2.loadConf(reader2);
    ASSERT_EQ(numbers2.count(), 2u);
    EXPECT_EQ(numbers2[1], -5);
}

}  // namespace
