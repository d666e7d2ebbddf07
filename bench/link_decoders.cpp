// The router protocol readers beside their floors: a 1,000-destination
// routing dump (Videohub text; SW-P-08 connected messages; an Ember+
// connection update of 1,000 targets in S101 packets) read by the reader,
// and the same bytes only scanned for line ends or frame marks.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "allocation_counter.h"
#include "component_host.h"
#include "quon/routers/emberplus/emberplus_glow.h"
#include "quon/routers/emberplus/emberplus_s101.h"
#include "quon/routers/swp08/swp08_protocol.h"
#include "quon/routers/videohub/videohub_protocol.h"

namespace vh = quon::routers::videohub;
namespace sw = quon::routers::swp08;

namespace {

constexpr int destinations = 1000;
constexpr std::size_t read_size = 8192;  // what one socket read hands the link

std::string videohubDump() {
    std::string text = "VIDEO OUTPUT ROUTING:\n";
    for (int d = 0; d < destinations; ++d) text += std::to_string(d) + " " + std::to_string((d * 7) % 1000) + "\n";
    return text + "\n";
}

std::vector<std::uint8_t> swp08Dump() {
    std::vector<std::uint8_t> bytes;
    for (int d = 0; d < destinations; ++d) {
        const std::vector<std::uint8_t> framed = sw::frame(sw::tallyMessage({0, 0}, d, (d * 7) % 1000, true));
        bytes.insert(bytes.end(), framed.begin(), framed.end());
    }
    return bytes;
}

struct counting_block_sink : vh::block_sink {
    std::size_t lines = 0;
    void onBlock(const vh::block& complete) override { lines += complete.lines.size(); }
    void onReaderProblem(vh::reader_problem) override {}
};

void VideohubReaderRoutingDump(benchmark::State& state) {
    const std::string dump = videohubDump();
    vh::reader reader;
    for (auto _ : state) {
        counting_block_sink sink;
        for (std::size_t at = 0; at < dump.size(); at += read_size)
            reader.feed(std::string_view(dump).substr(at, read_size), sink);
        benchmark::DoNotOptimize(sink.lines);
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * dump.size()));
}
BENCHMARK(VideohubReaderRoutingDump);

// Floor: what any reader must do at least, find every line end.
void VideohubFloorLineEnds(benchmark::State& state) {
    const std::string dump = videohubDump();
    for (auto _ : state) {
        std::size_t lines = 0;
        const char* at = dump.data();
        const char* const end = dump.data() + dump.size();
        while ((at = static_cast<const char*>(std::memchr(at, '\n', static_cast<std::size_t>(end - at))))) {
            ++lines;
            ++at;
        }
        benchmark::DoNotOptimize(lines);
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * dump.size()));
}
BENCHMARK(VideohubFloorLineEnds);

// Reading plus decoding: the routing items parsed as the link does.
void VideohubReadAndParseRoutingDump(benchmark::State& state) {
    const std::string dump = videohubDump();
    struct parsing_sink : vh::block_sink {
        long long sum = 0;
        void onBlock(const vh::block& complete) override {
            for (const std::string& line : complete.lines)
                if (const auto item = vh::parseItem(line))
                    sum += item->index + vh::parseNumber(item->rest, 65535).value_or(0);
        }
        void onReaderProblem(vh::reader_problem) override {}
    };
    vh::reader reader;
    for (auto _ : state) {
        parsing_sink sink;
        for (std::size_t at = 0; at < dump.size(); at += read_size)
            reader.feed(std::string_view(dump).substr(at, read_size), sink);
        benchmark::DoNotOptimize(sink.sum);
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * dump.size()));
}
BENCHMARK(VideohubReadAndParseRoutingDump);

struct counting_frame_sink : sw::frame_sink {
    long long sum = 0;
    void onFrame(const std::vector<std::uint8_t>& data) override {
        if (const auto crosspoint = sw::decodeCrosspoint(data)) sum += crosspoint->destination + crosspoint->source;
    }
    void onAck() override {}
    void onNak() override {}
    void onFrameProblem(sw::frame_problem) override {}
};

void Swp08ReaderRoutingDump(benchmark::State& state) {
    const std::vector<std::uint8_t> dump = swp08Dump();
    sw::frame_reader reader;
    for (auto _ : state) {
        counting_frame_sink sink;
        for (std::size_t at = 0; at < dump.size(); at += read_size)
            reader.feed(dump.data() + at, std::min(read_size, dump.size() - at), sink);
        benchmark::DoNotOptimize(sink.sum);
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * dump.size()));
}
BENCHMARK(Swp08ReaderRoutingDump);

// Floor: find every DLE ETX, the end of each frame.
void Swp08FloorFrameMarks(benchmark::State& state) {
    const std::vector<std::uint8_t> dump = swp08Dump();
    for (auto _ : state) {
        std::size_t frames = 0;
        for (std::size_t i = 0; i + 1 < dump.size(); ++i) {
            if (dump[i] != sw::dle) continue;
            if (dump[i + 1] == sw::etx) ++frames;
            ++i;  // a DLE pairs with the byte after it
        }
        benchmark::DoNotOptimize(frames);
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * dump.size()));
}
BENCHMARK(Swp08FloorFrameMarks);

// A QualifiedMatrix with a connection for every target, modified, as a
// provider pushes a salvo: 1,000 targets come to about 20 KiB, 20 packets.
std::string emberplusUpdate() {
    namespace ber = quon::routers::ber;
    std::string entries;
    for (int t = 0; t < destinations; ++t) {
        const std::string connection =
            ber::wrap(ber::application(16), ber::wrap(ber::context(0), ber::integer(t)) +
                                                ber::wrap(ber::context(1), ber::relativeOid({static_cast<std::uint32_t>((t * 7) % 1000)})) +
                                                ber::wrap(ber::context(3), ber::integer(1)));
        entries += ber::wrap(ber::context(0), connection);
    }
    const std::string matrix = ber::wrap(ber::application(17), ber::wrap(ber::context(0), ber::relativeOid({0, 1, 0})) +
                                                                   ber::wrap(ber::context(5), ber::wrap(ber::sequence, entries)));
    return quon::routers::s101::message(
        ber::wrap(ber::application(0), ber::wrap(ber::application(11), ber::wrap(ber::context(0), matrix))));
}

struct decoding_s101_sink : quon::routers::s101::frame_sink {
    long long sum = 0;
    std::vector<quon::routers::glow::element> elements;
    std::string error;
    void onMessage(const std::string& ber) override {
        elements.clear();
        quon::routers::glow::decode(ber, elements, error);
        for (const auto& e : elements)
            if (e.connections)
                for (const auto& c : *e.connections) sum += c.target + (c.sources.empty() ? 0 : c.sources.front());
    }
    void onKeepAliveRequest() override {}
    void onKeepAliveResponse() override {}
    void onFrameProblem(quon::routers::s101::problem) override {}
};

// Floor: what any S101 reader must do at least, look at every byte for a
// frame mark or an escape.
std::size_t frameMarks(const std::string& bytes) {
    std::size_t marks = 0;
    for (const char c : bytes)
        if (static_cast<std::uint8_t>(c) >= quon::routers::s101::escape) ++marks;
    return marks;
}

// The floor's CPU time a pass, the best of a few rounds.
double frameMarksNanoseconds(const std::string& bytes) {
    const int rounds = 5, count = 2000;
    double best = 0;
    for (int round = 0; round < rounds; ++round) {
        const double start = quon::bench::threadCpuNanoseconds();
        for (int i = 0; i < count; ++i) benchmark::DoNotOptimize(frameMarks(bytes));
        const double ns = (quon::bench::threadCpuNanoseconds() - start) / count;
        if (round == 0 || ns < best) best = ns;
    }
    return best;
}

const double emberplus_target_x_floor = 10;

// The S101 reader joining the packets, and the Glow decoder reading every
// connection, as the link does; its CPU time beside the floor's, taken in
// the same run, and the heap allocations per decoded connection (the
// sink's element list is kept from one update to the next, as the link's
// is not: its own allocations are counted too).
void EmberplusReadAndDecodeConnectionUpdate(benchmark::State& state) {
    const std::string update = emberplusUpdate();
    const auto* bytes = reinterpret_cast<const std::uint8_t*>(update.data());
    quon::routers::s101::reader reader;
    decoding_s101_sink sink;
    const long allocationsBefore = allocation_counter::count;
    const double start = quon::bench::threadCpuNanoseconds();
    for (auto _ : state) {
        sink.sum = 0;
        for (std::size_t at = 0; at < update.size(); at += read_size)
            reader.feed(bytes + at, std::min(read_size, update.size() - at), sink);
        benchmark::DoNotOptimize(sink.sum);
    }
    const double iterations = static_cast<double>(state.iterations());
    const double perUpdateNs = (quon::bench::threadCpuNanoseconds() - start) / iterations;
    const double allocations = static_cast<double>(allocation_counter::count - allocationsBefore);
    const double floorNs = frameMarksNanoseconds(update);
    state.counters["allocs/connection"] = allocations / (iterations * destinations);
    state.counters["floor ns"] = floorNs;
    state.counters["x floor"] = perUpdateNs / floorNs;
    state.counters["x floor target"] = emberplus_target_x_floor;
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * update.size()));
}
BENCHMARK(EmberplusReadAndDecodeConnectionUpdate);

// The floor on its own.
void EmberplusFloorFrameMarks(benchmark::State& state) {
    const std::string update = emberplusUpdate();
    for (auto _ : state) benchmark::DoNotOptimize(frameMarks(update));
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * update.size()));
}
BENCHMARK(EmberplusFloorFrameMarks);

}  // namespace
