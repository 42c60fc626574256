// The toolkit's side of the tests against an independent XML-RPC peer:
//   xmlrpc_peer write NAME OUT   writes the document of a named fixture
//   xmlrpc_peer echo IN OUT      reads a call or response and writes it back
// Files, not standard output: log lines also go to standard output.
// Exit status 3: the document did not read.
#include "xmlrpc/objectvalue.h"
#include "xmlrpc/xml.h"

#include <fstream>
#include <iostream>
#include <sstream>
#include <string>

using namespace trivane;
using namespace trivane::xmlrpc;

namespace {

String call(const String& name, const Value& params) {
    return "<?xml version=\"1.0\"?>\r\n<methodCall><methodName>"_s + name + "</methodName>\r\n<params>" +
           params.toParamsXml() + "</params></methodCall>\r\n";
}

bool fixture(const std::string& name, String& document) {
    Value v;
    if (name == "integers") {
        for (int32_t i : {0, 7, -2147483647 - 1, 2147483647}) v.append(Value(i));
    } else if (name == "doubles") {
        v.append(Value::ofDouble(0.5));
        v.append(Value::ofDouble(-1.25));
        v.append(Value::ofDouble(1e308));
        v.append(Value::ofDouble(-1e-7));
    } else if (name == "booleans") {
        v.append(Value::ofBool(true));
        v.append(Value::ofBool(false));
    } else if (name == "strings") {
        for (const char* s : {"<>&'\"", "caf\xC3\xA9 \xE2\x82\xAC", "", "  spaced  ", "a&amp;b", "line\nbreak"})
            v.append(Value(String(s)));
    } else if (name == "base64") {
        v = Value::ofBinary(Memory("\0\xFF" "abc", 5));
    } else if (name == "datetime") {
        DateTimeFields t;
        t.year = 2026, t.month = 1, t.day = 8, t.hours = 1, t.minutes = 2, t.seconds = 3;
        v = Value::ofDateTime(t);
    } else if (name == "nested") {
        v.set("list", Value());
        v["list"].append(Value(1));
        v["list"][1].set("inner", Value("x&y"_s));
        v.set("a<b", Value::ofBool(true));
        v.set("empty", Value(Array<Value>()));
    } else if (name == "fault") {
        document = faultResponseXml(Value(4, "bad configuration & <more>"_s));
        return true;
    } else if (name == "params") {
        v.append(Value(1));
        v.append(Value("two"_s));
        document = call("method.name"_s, v);
        return true;
    } else {
        return false;
    }
    document = responseXml(v);
    return true;
}

// Reads what a peer wrote and writes the same thing back.
bool echo(const String& doc, String& out) {
    uint32_t pos = 0;
    if (doc.find("<methodCall>") != String::npos) {
        const String name = textBetween("<methodName>", doc, pos);
        if (!skipPast("<params>", doc, pos)) return false;
        Value params;
        params.asArray();
        while (skipPrefix("<param>", doc, pos)) {
            Value v;
            if (!v.fromXml(doc, pos)) return false;
            params.append(v);
            skipPrefix("</param>", doc, pos);
        }
        out = call(name, params);
        return true;
    }
    if (!skipPast("<methodResponse>", doc, pos)) return false;
    Value v;
    if (skipPrefix("<params>", doc, pos) && skipPrefix("<param>", doc, pos)) {
        if (!v.fromXml(doc, pos)) return false;
        out = responseXml(v);
        return true;
    }
    if (skipPrefix("<fault>", doc, pos)) {
        if (!v.faultFromXml(doc, pos)) return false;
        out = faultResponseXml(v);
        return true;
    }
    return false;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 4) {
        std::cerr << "usage: xmlrpc_peer write NAME OUT | echo IN OUT\n";
        return 2;
    }
    const std::string mode = argv[1];
    String out;
    if (mode == "write") {
        if (!fixture(argv[2], out)) return 2;
    } else if (mode == "echo") {
        std::ifstream in(argv[2], std::ios::binary);
        std::stringstream bytes;
        bytes << in.rdbuf();
        const std::string s = bytes.str();
        String doc;
        doc.append(s.data(), static_cast<uint32_t>(s.size()));
        if (!echo(doc, out)) return 3;
    } else {
        return 2;
    }
    std::ofstream file(argv[3], std::ios::binary);
    file.write(out.data(), out.length());
    return file ? 0 : 1;
}
