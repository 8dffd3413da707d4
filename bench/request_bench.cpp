// The request parser beside llhttp (Debian's node-llhttp sources, built -O2 into this program
// only), both filling the same Request: method, decoded path and query, lower-cased and
// trimmed headers. Also what a request costs when it trickles in a few bytes at a time.
//
// Usage: request_bench [Google Benchmark flags]; bench/request_bench.sh runs it with
// repetitions. Each benchmark runs its contenders in turns (see sideBySide) and shows their
// CPU time per parse as counters, in ns; after the table come the ratios from every
// repetition: llhttp's time over Scribbet's (above 1: Scribbet is faster), and a trickled
// parse's time over the same request parsed whole.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <functional>
#include <map>
#include <string>
#include <string_view>
#include <vector>

extern "C" {
#include <llhttp.h>
}

#include "server/request.hpp"

using scribbet::Request;

namespace {

// A browser fetching one of the page's scripts, as Chromium sends it: 562 bytes.
std::string browserRequest() {
    std::string r =
        "GET /overlay.js HTTP/1.1\r\n"
        "Host: 127.0.0.1:3921\r\n"
        "Connection: keep-alive\r\n"
        "sec-ch-ua: \"Chromium\";v=\"120\", \"Not?A_Brand\";v=\"8\"\r\n"
        "sec-ch-ua-mobile: ?0\r\n"
        "User-Agent: Mozilla/5.0 (X11; Linux x86_64) AppleWebKit/537.36 (KHTML, like Gecko) "
        "Chrome/120.0.0.0 Safari/537.36\r\n"
        "sec-ch-ua-platform: \"Linux\"\r\n"
        "Accept: */*\r\n"
        "Sec-Fetch-Site: same-origin\r\n"
        "Sec-Fetch-Mode: no-cors\r\n"
        "Sec-Fetch-Dest: script\r\n"
        "Referer: http://127.0.0.1:3921/overlay.html?sw=960&sh=540&x=160&y=120&w=800&h=450"
        "&pz=83.30&slide=257&sid=try\r\n"
        "Accept-Encoding: gzip, deflate, br\r\n"
        "Accept-Language: en-GB,en;q=0.9\r\n"
        "\r\n";
    if (r.size() != 562) {
        std::fprintf(stderr, "the browser request is %zu bytes, not 562\n", r.size());
        std::abort();
    }
    return r;
}

// 159 distinct headers of mixed lengths in exactly 16 KiB, blank line included.
std::string manyHeaders() {
    constexpr std::size_t total = 16384;
    constexpr int count = 159;
    const std::string line = "GET /api/state?sid=try HTTP/1.1\r\nHost: 127.0.0.1:3921\r\n";
    std::vector<std::string> names;
    std::size_t fixed = line.size() + 2;
    for (int i = 1; i < count; ++i) {
        static const char* const prefixes[] = {"X-Trace-Span-", "x-custom-", "X-Forwarded-Hop-"};
        names.push_back(prefixes[i % 3] + std::to_string(i));
        fixed += names.back().size() + 4; // ": " and CR LF
    }
    std::string r = line;
    std::size_t left = total - fixed;
    unsigned seed = 12345;
    for (std::size_t i = 0; i < names.size(); ++i) {
        const auto size = left / (names.size() - i);
        std::string value;
        for (std::size_t k = 0; k < size; ++k) {
            seed = seed * 1103515245 + 12345;
            const auto pick = (seed >> 16) % 40;
            value += pick == 0 && k > 0 && k + 1 < size ? ' ' : static_cast<char>('a' + pick % 26);
        }
        left -= size;
        r += names[i] + ": " + value + "\r\n";
    }
    r += "\r\n";
    if (r.size() != total) {
        std::fprintf(stderr, "the large request is %zu bytes, not %zu\n", r.size(), total);
        std::abort();
    }
    return r;
}

// ---- llhttp filling a Request the way Scribbet's parser does ----

std::string_view trimmed(std::string_view s) {
    const auto blank = [](char c) { return c == ' ' || c == '\t'; };
    while (!s.empty() && blank(s.front())) s.remove_prefix(1);
    while (!s.empty() && blank(s.back())) s.remove_suffix(1);
    return s;
}

std::string lowered(std::string_view s) {
    std::string out(s);
    for (char& c : out) {
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    }
    return out;
}

// One piece of text that llhttp may hand over in parts. Given whole, it is used where it
// lies, without a copy (the best case for llhttp); split, or left open when a chunk ends,
// it is copied, since the chunk's bytes may be gone by the next call.
class Span {
public:
    void add(const char* at, std::size_t n) {
        if (!owned_ && view_.empty()) {
            view_ = {at, n};
            return;
        }
        own();
        copy_.append(at, n);
        view_ = copy_;
    }
    void own() {
        if (owned_ || view_.empty()) return;
        copy_.assign(view_);
        view_ = copy_;
        owned_ = true;
    }
    void clear() {
        view_ = {};
        copy_.clear();
        owned_ = false;
    }
    std::string_view text() const { return view_; }

private:
    std::string_view view_;
    std::string copy_;
    bool owned_ = false;
};

// The scratch text is kept from parse to parse, as a server would keep it per connection;
// each parse makes a fresh Request, as Scribbet's does.
struct LlhttpReader {
    llhttp_t parser{};
    llhttp_settings_t settings{};
    Request request;
    Span method, target, field, value;
    bool complete = false;

    static LlhttpReader& of(llhttp_t* p) { return *static_cast<LlhttpReader*>(p->data); }

    LlhttpReader() {
        llhttp_settings_init(&settings);
        settings.on_method = [](llhttp_t* p, const char* at, std::size_t n) {
            of(p).method.add(at, n);
            return 0;
        };
        settings.on_method_complete = [](llhttp_t* p) {
            auto& self = of(p);
            self.request.method.assign(self.method.text()); // llhttp takes upper-case methods only
            return 0;
        };
        settings.on_url = [](llhttp_t* p, const char* at, std::size_t n) {
            of(p).target.add(at, n);
            return 0;
        };
        settings.on_header_field = [](llhttp_t* p, const char* at, std::size_t n) {
            of(p).field.add(at, n);
            return 0;
        };
        settings.on_header_value = [](llhttp_t* p, const char* at, std::size_t n) {
            of(p).value.add(at, n);
            return 0;
        };
        settings.on_header_value_complete = [](llhttp_t* p) {
            auto& self = of(p);
            self.request.headers.insert_or_assign(lowered(trimmed(self.field.text())),
                                                  std::string(trimmed(self.value.text())));
            self.field.clear();
            self.value.clear();
            return 0;
        };
        settings.on_headers_complete = [](llhttp_t* p) {
            auto& self = of(p);
            self.request.setTarget(self.target.text());
            return 0;
        };
        settings.on_body = [](llhttp_t* p, const char* at, std::size_t n) {
            of(p).request.body.append(at, n);
            return 0;
        };
        settings.on_message_complete = [](llhttp_t* p) {
            of(p).complete = true;
            return static_cast<int>(HPE_PAUSED); // one request per connection
        };
        start();
    }

    void start() {
        llhttp_init(&parser, HTTP_REQUEST, &settings);
        parser.data = this;
        request = Request{};
        for (auto* span : {&method, &target, &field, &value}) span->clear();
        complete = false;
    }

    // False when llhttp refuses the bytes.
    bool feed(std::string_view bytes) {
        const auto err = llhttp_execute(&parser, bytes.data(), bytes.size());
        if (!complete) {
            for (auto* span : {&method, &target, &field, &value}) span->own();
        }
        return err == HPE_OK || err == HPE_PAUSED;
    }
};

// ---- The runs ----

const std::string& sample(const std::string& name) {
    static const std::map<std::string, std::string> samples{{"browser", browserRequest()},
                                                            {"headers159", manyHeaders()}};
    return samples.at(name);
}

// ---- The contenders: one parse each, its result handed back ----

Request::Parse scribbetWhole(std::string_view data) { return Request::parse(data); }

// The server appends every chunk to one buffer and asks again with the same progress; the
// parser sees the buffer grow by `chunk` bytes a call.
Request::Parse scribbetTrickled(std::string_view data, std::size_t chunk) {
    Request::Progress progress;
    for (std::size_t n = chunk;; n += chunk) {
        auto parsed = Request::parse(data.substr(0, std::min(n, data.size())), progress);
        if (!std::holds_alternative<Request::Partial>(parsed) || n >= data.size()) return parsed;
    }
}

Request::Parse llhttpRead(LlhttpReader& reader, std::string_view data, std::size_t chunk) {
    reader.start();
    for (std::size_t at = 0; at < data.size() && !reader.complete; at += chunk) {
        if (!reader.feed(data.substr(at, chunk))) return Request::Bad{400};
    }
    if (!reader.complete) return Request::Partial{};
    return std::move(reader.request);
}

// Both readers must fill the same Request, whole or trickled, or the comparison measures
// different work.
void checkSameWork() {
    LlhttpReader reader;
    for (const char* name : {"browser", "headers159"}) {
        const std::string_view data = sample(name);
        const auto ours = scribbetWhole(data);
        const auto* request = std::get_if<Request>(&ours);
        bool same = request && request->headers.size() >= 10 &&
                    llhttpRead(reader, data, data.size()) == ours;
        for (const std::size_t chunk : {1, 4, 16}) {
            same = same && scribbetTrickled(data, chunk) == ours &&
                   llhttpRead(reader, data, chunk) == ours;
        }
        if (!same) {
            std::fprintf(stderr, "Scribbet and llhttp read the %s sample differently\n", name);
            std::abort();
        }
    }
}

// ---- Side by side ----

double threadSeconds() {
    timespec t{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t);
    return static_cast<double>(t.tv_sec) + static_cast<double>(t.tv_nsec) * 1e-9;
}

struct Contender {
    std::string name;
    std::function<Request::Parse()> parse;
};

// The contenders take turns within every iteration, a batch of parses each (about 100 us),
// in an order that rotates, so that all of them meet the same load on this busy machine;
// each one's thread CPU time per parse is a counter (ns), and their ratios come from the
// same repetition.
void sideBySide(benchmark::State& state, const std::vector<Contender>& contenders) {
    std::vector<int> batch;
    for (const auto& c : contenders) {
        const auto start = threadSeconds();
        for (int i = 0; i < 3; ++i) benchmark::DoNotOptimize(c.parse());
        const auto each = (threadSeconds() - start) / 3;
        batch.push_back(std::clamp(static_cast<int>(100e-6 / std::max(each, 1e-9)), 1, 2000));
    }
    std::vector<double> seconds(contenders.size(), 0);
    std::vector<long> parses(contenders.size(), 0);
    std::size_t turn = 0;
    for (auto _ : state) {
        for (std::size_t k = 0; k < contenders.size(); ++k) {
            const auto i = (turn + k) % contenders.size();
            const auto start = threadSeconds();
            for (int n = 0; n < batch[i]; ++n) benchmark::DoNotOptimize(contenders[i].parse());
            seconds[i] += threadSeconds() - start;
            parses[i] += batch[i];
        }
        ++turn;
    }
    for (std::size_t i = 0; i < contenders.size(); ++i) {
        state.counters[contenders[i].name] = seconds[i] * 1e9 / static_cast<double>(parses[i]);
    }
}

constexpr std::size_t chunks[] = {1, 4, 16};

void registerAll() {
    static LlhttpReader reader; // the benchmarks run one at a time
    for (const std::string name : {"browser", "headers159"}) {
        const std::string_view data = sample(name);
        benchmark::RegisterBenchmark(("whole/" + name).c_str(), sideBySide,
                                     std::vector<Contender>{
                                         {"scribbet", [=] { return scribbetWhole(data); }},
                                         {"llhttp",
                                          [=] { return llhttpRead(reader, data, data.size()); }},
                                     });
        for (const auto chunk : chunks) {
            benchmark::RegisterBenchmark(
                ("trickle/" + name + "/" + std::to_string(chunk)).c_str(), sideBySide,
                std::vector<Contender>{
                    {"scribbet", [=] { return scribbetWhole(data); }},
                    {"scribbet_trickled", [=] { return scribbetTrickled(data, chunk); }},
                    {"llhttp", [=] { return llhttpRead(reader, data, data.size()); }},
                    {"llhttp_trickled", [=] { return llhttpRead(reader, data, chunk); }},
                });
        }
    }
}

// Prints the usual table (aggregates only, when there are repetitions), then, from every
// repetition's counters, the ratios: median and spread.
class RatioReporter : public benchmark::ConsoleReporter {
public:
    void ReportRuns(const std::vector<Run>& runs) override {
        std::vector<Run> shown;
        for (const auto& run : runs) {
            if (run.run_type == Run::RT_Aggregate || run.repetitions <= 1) shown.push_back(run);
            if (run.run_type != Run::RT_Iteration || run.error_occurred) continue;
            auto& counters = counters_[run.run_name.function_name];
            for (const auto& [name, counter] : run.counters) {
                counters[name].push_back(counter.value);
            }
        }
        if (!shown.empty()) ConsoleReporter::ReportRuns(shown);
    }

    void Finalize() override {
        ConsoleReporter::Finalize();
        std::printf("\nRatios of CPU time per parse, per repetition: median (min-max), n\n");
        for (const std::string name : {"browser", "headers159"}) {
            ratio("whole/" + name, "llhttp", "scribbet", "llhttp / scribbet, whole");
        }
        for (const std::string name : {"browser", "headers159"}) {
            for (const auto chunk : chunks) {
                const auto run = "trickle/" + name + "/" + std::to_string(chunk);
                ratio(run, "scribbet_trickled", "scribbet", "scribbet trickled / whole");
                ratio(run, "llhttp_trickled", "llhttp", "llhttp trickled / whole");
                ratio(run, "llhttp_trickled", "scribbet_trickled", "llhttp / scribbet, trickled");
                ratio(run, "llhttp", "scribbet", "llhttp / scribbet, whole");
            }
        }
    }

private:
    void ratio(const std::string& run, const std::string& over, const std::string& under,
               const std::string& label) {
        const auto found = counters_.find(run);
        if (found == counters_.end()) return;
        const auto& a = found->second[over];
        const auto& b = found->second[under];
        std::vector<double> ratios;
        for (std::size_t i = 0; i < std::min(a.size(), b.size()); ++i) {
            ratios.push_back(a[i] / b[i]);
        }
        if (ratios.empty()) return;
        std::sort(ratios.begin(), ratios.end());
        const auto n = ratios.size();
        const double median = n % 2 ? ratios[n / 2] : (ratios[n / 2 - 1] + ratios[n / 2]) / 2;
        std::printf("  %-22s %-28s %6.2f  (%.2f-%.2f)  n=%zu\n", run.c_str(), label.c_str(), median,
                    ratios.front(), ratios.back(), n);
    }

    std::map<std::string, std::map<std::string, std::vector<double>>> counters_;
};

} // namespace

int main(int argc, char** argv) {
    checkSameWork();
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
    registerAll();
    RatioReporter reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);
    benchmark::Shutdown();
    return 0;
}
