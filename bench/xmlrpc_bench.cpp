// XML-RPC text: reading and writing a request of about 1 MB against Python's
// xmlrpc.client on the same bytes, and reading hostile bodies (elements
// without end tags, a large struct in reverse order) at several sizes: a
// steady rate in bytes per second is linear time.
#include "xmlrpc/objectvalue.h"
#include "xmlrpc/xml.h"

#include <benchmark/benchmark.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>

using namespace trivane;
using namespace trivane::xmlrpc;

namespace {

String fromStd(const std::string& s) {
    String t;
    t.append(s.data(), static_cast<uint32_t>(s.size()));
    return t;
}

// An array of 2,400 structs of five members: an integer, a short string, a
// double, a boolean and a string holding "&".
Value requestParams() {
    const String note = fromStd("Terms & conditions apply to this entry; see the attached notes for the details "
                                "of each account, its owner & its history, which the archive keeps for years.");
    Value list;
    for (int32_t i = 0; i < 2400; ++i) {
        Value& entry = list.item(i);
        entry.set("id", Value(i * 37));
        entry.set("name", Value(String::fromInt(i) + "-user"));
        entry.set("ratio", Value::ofDouble(i / 8.0));
        entry.set("active", Value::ofBool(i % 3 == 0));
        entry.set("note", Value(note));
    }
    Value params;
    params.append(list);
    return params;
}

String request() {
    static const String text = "<?xml version=\"1.0\"?>\r\n<methodCall><methodName>store</methodName>\r\n<params>"_s +
                               requestParams().toParamsXml() + "</params></methodCall>\r\n";
    return text;
}

Value readParams(const String& doc) {
    uint32_t pos = 0;
    Value params;
    skipPast("<params>", doc, pos);
    for (int32_t i = 0; skipPrefix("<param>", doc, pos); ++i) {
        Value v;
        if (!v.fromXml(doc, pos)) break;
        params.set(i, v);
        skipPrefix("</param>", doc, pos);
    }
    return params;
}

void parse1MB(benchmark::State& state) {
    const String doc = request();
    for (auto _ : state) {
        Value params = readParams(doc);
        if (params.get(0).size() != 2400) state.SkipWithError("the request did not read");
        benchmark::DoNotOptimize(params);
    }
    state.SetBytesProcessed(int64_t(state.iterations()) * doc.length());
}
BENCHMARK(parse1MB)->Name("XmlParse1MB/trivane");

void write1MB(benchmark::State& state) {
    const Value params = requestParams();
    const String doc = request();
    for (auto _ : state) {
        String text = "<?xml version=\"1.0\"?>\r\n<methodCall><methodName>store</methodName>\r\n<params>"_s +
                      params.toParamsXml() + "</params></methodCall>\r\n";
        benchmark::DoNotOptimize(text);
    }
    state.SetBytesProcessed(int64_t(state.iterations()) * doc.length());
}
BENCHMARK(write1MB)->Name("XmlWrite1MB/trivane");

// Python's figures, measured once by a child process on the same bytes and
// reported per iteration.
struct PythonTimes {
    double loads = 0, dumps = 0;
    bool measured = false;
};

PythonTimes& pythonTimes() {
    static PythonTimes times = [] {
        PythonTimes t;
        const auto dir = std::filesystem::temp_directory_path();
        const auto docPath = dir / "trivane_xmlrpc_bench.xml";
        const auto outPath = dir / "trivane_xmlrpc_bench.json";
        const String doc = request();
        std::ofstream(docPath, std::ios::binary).write(doc.data(), doc.length());
        const std::string command = "python3 " TRIVANE_BENCH_DIR "/xmlrpc_python.py '" + docPath.string() + "' > '" +
                                    outPath.string() + "'";
        if (std::system(command.c_str()) == 0) {
            std::ifstream in(outPath);
            std::stringstream json;
            json << in.rdbuf();
            t.measured = std::sscanf(json.str().c_str(), "{\"loads\": %lf, \"dumps\": %lf}", &t.loads, &t.dumps) == 2;
        }
        std::filesystem::remove(docPath);
        std::filesystem::remove(outPath);
        return t;
    }();
    return times;
}

void pythonLoads(benchmark::State& state) {
    const PythonTimes& t = pythonTimes();
    if (!t.measured) state.SkipWithError("python3 did not run");
    for (auto _ : state) state.SetIterationTime(t.loads);
    state.SetBytesProcessed(int64_t(state.iterations()) * request().length());
}
BENCHMARK(pythonLoads)->Name("XmlParse1MB/python")->UseManualTime()->Iterations(5);

void pythonDumps(benchmark::State& state) {
    const PythonTimes& t = pythonTimes();
    if (!t.measured) state.SkipWithError("python3 did not run");
    for (auto _ : state) state.SetIterationTime(t.dumps);
    state.SetBytesProcessed(int64_t(state.iterations()) * request().length());
}
BENCHMARK(pythonDumps)->Name("XmlWrite1MB/python")->UseManualTime()->Iterations(5);

// An array of integer elements without any end tag: every element would
// make a literal reading search the rest of the body for "</value>".
String unterminated(int64_t bytes) {
    std::string body = "<value><array><data>";
    while (static_cast<int64_t>(body.size()) < bytes) body += "<value><i4>1";
    return fromStd(body);
}

void hostileUnterminated(benchmark::State& state) {
    const String body = unterminated(state.range(0));
    for (auto _ : state) {
        uint32_t pos = 0;
        Value v;
        if (!v.fromXml(body, pos)) state.SkipWithError("the body did not read");
        benchmark::DoNotOptimize(v);
    }
    state.SetBytesProcessed(int64_t(state.iterations()) * body.length());
}
BENCHMARK(hostileUnterminated)
    ->Name("XmlHostileNoEndTags/trivane")
    ->Arg(256 << 10)
    ->Arg(1 << 20)
    ->Arg(4 << 20);

// One struct whose members arrive in reverse order of their names.
String reversedStruct(int64_t bytes) {
    std::string members;
    std::string body;
    int count = 0;
    for (int64_t size = 0; size < bytes; ++count) size += 64;
    body = "<value><struct>";
    for (int i = count; i > 0; --i)
        body += "<member><name>m" + std::to_string(i) + "</name><value><i4>1</i4></value></member>";
    body += "</struct></value>";
    return fromStd(body);
}

void hostileStruct(benchmark::State& state) {
    const String body = reversedStruct(state.range(0));
    for (auto _ : state) {
        uint32_t pos = 0;
        Value v;
        if (!v.fromXml(body, pos)) state.SkipWithError("the body did not read");
        benchmark::DoNotOptimize(v);
    }
    state.SetBytesProcessed(int64_t(state.iterations()) * body.length());
}
BENCHMARK(hostileStruct)
    ->Name("XmlHostileReversedStruct/trivane")
    ->Arg(256 << 10)
    ->Arg(1 << 20)
    ->Arg(4 << 20);

}  // namespace

BENCHMARK_MAIN();
