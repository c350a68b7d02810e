// Loader, renderer, lookups and edits of the INI document, beside three
// well-known INI libraries on the same generated inputs. Reports bytes per
// second per benchmark and, at the end, a table of ratios to each peer.
//
//   ini_bench [benchmark options]          warm, in-process benchmarks
//   ini_bench --generate PROFILE SIZE FILE writes a generated document
//   ini_bench --fresh LIBRARY FILE         loads FILE once; prints the time
//                                          and the peak resident set size
#include "IniEditor.h"
#include "IniFileIndex.h"
#include "IniScanner.h"
#include "document_generator.h"

#include <benchmark/benchmark.h>
#include <malloc.h>
#include <sys/resource.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <map>
#include <sstream>
#include <stdexcept>
#include <streambuf>
#include <string>
#include <utility>
#include <vector>

#ifdef INI_BENCH_PEERS
// Header-only: Debian's SimpleIni.h compiles its definitions only with
// SI_IMPLEMENTATION; no conversion means plain bytes, like this library.
#define SI_IMPLEMENTATION
#define SI_NO_CONVERSION
#include <SimpleIni.h>
#include <ini.h>

#include <boost/property_tree/ini_parser.hpp>
#include <boost/property_tree/ptree.hpp>
#endif

namespace {

using bench::Profile;

// An input stream over bytes held elsewhere, so that loading from memory
// measures the loader rather than a copy into a string stream.
class ViewBuffer : public std::streambuf {
public:
    explicit ViewBuffer(const std::string& text) {
        char* begin = const_cast<char*>(text.data());
        setg(begin, begin, begin + text.size());
    }
};

// A private directory for the input files, made on first use, so that two
// runs at once do not share files.
const std::string& scratchDirectory() {
    static const std::string dir = [] {
        std::string pattern = (std::filesystem::temp_directory_path() / "ini_bench_XXXXXX").string();
        if (::mkdtemp(pattern.data()) == nullptr) {
            throw std::runtime_error("cannot make a scratch directory");
        }
        return pattern;
    }();
    return dir;
}

std::string sizeLabel(std::size_t size) {
    return size >= (1U << 20) ? std::to_string(size >> 20) + "MiB" : std::to_string(size >> 10) + "KiB";
}

// One generated document. The text and its file are made when a benchmark
// first asks for them, so a filtered run generates only what it measures.
class Input {
public:
    Input(Profile profile, std::size_t size)
        : profile_(profile),
          size_(size),
          label_(std::string(bench::profileName(profile)) + "/" + sizeLabel(size)) {}

    std::size_t size() const { return size_; }
    const std::string& label() const { return label_; }  // "mixed/4MiB"

    const std::string& text() const {
        if (text_.empty()) {
            text_ = bench::generateDocument(profile_, size_);
        }
        return text_;
    }

    const std::string& file() const {
        if (file_.empty()) {
            std::string name = label_;
            std::replace(name.begin(), name.end(), '/', '_');
            file_ = scratchDirectory() + "/" + name + ".ini";
            std::ofstream(file_, std::ios::binary) << text();
        }
        return file_;
    }

private:
    Profile profile_;
    std::size_t size_;
    std::string label_;
    mutable std::string text_;
    mutable std::string file_;
};

std::vector<Input>& inputs() {
    static std::vector<Input> all;
    return all;
}

void prepareInputs() {
    for (const Profile profile : {Profile::mixed, Profile::commentHeavy}) {
        for (const std::size_t size : {std::size_t{64} << 10, std::size_t{4} << 20, std::size_t{64} << 20}) {
            inputs().emplace_back(profile, size);
        }
    }
}

ini::IniFileIndex loadDocument(const std::string& text) {
    ViewBuffer buffer(text);
    std::istream stream(&buffer);
    ini::IniFileIndex doc;
    doc.load(stream, ';');
    return doc;
}

// Runs `body` once untimed, which absorbs the first touch of memory and the
// heap clean-up that the previous benchmark left behind, then in the timed
// loop. `body` returns the size of the input document it handled: every row,
// rendering included, counts input bytes, so libraries that drop comments
// when they write are not credited with a smaller output.
template <typename Body>
void measure(benchmark::State& state, Body body) {
    std::size_t bytes = body();
    for (auto _ : state) {
        bytes = body();
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations()) * static_cast<std::int64_t>(bytes));
}

std::vector<std::pair<std::string, std::string>> everyKey(const ini::IniFileIndex& doc) {
    std::vector<std::pair<std::string, std::string>> keys;
    for (const auto& name : doc.sectionOrder) {
        for (const auto& key : doc.sections.at(name).keyOrder) {
            keys.emplace_back(name, key);
        }
    }
    return keys;
}

// ---- this library

void loadMemory(benchmark::State& state, const Input* in) {
    measure(state, [&] {
        benchmark::DoNotOptimize(loadDocument(in->text()));
        return in->text().size();
    });
}

void loadFile(benchmark::State& state, const Input* in) {
    measure(state, [&] {
        std::ifstream file(in->file(), std::ios::binary);
        ini::IniFileIndex doc;
        doc.load(file, ';');
        benchmark::DoNotOptimize(doc);
        return in->text().size();
    });
}

void render(benchmark::State& state, const Input* in) {
    const auto doc = loadDocument(in->text());
    measure(state, [&] {
        const std::string text = doc.toString();
        benchmark::DoNotOptimize(text.data());
        return in->text().size();
    });
}

// Every line of the input classified by `scanner`, as a caller that reads
// a file without building a document uses it: every key line's parts at hand.
std::size_t scanAll(ini::IniScanner scanner) {
    std::size_t keys = 0;
    for (ini::IniLine line; scanner.next(line);) {
        keys += line.kind == ini::IniLineKind::key && line.hasValue ? 1 : 0;
        benchmark::DoNotOptimize(line.value.data());
    }
    return keys;
}

// The scanner alone, with the classic rules.
void scan(benchmark::State& state, const Input* in) {
    measure(state, [&] {
        benchmark::DoNotOptimize(scanAll(ini::IniScanner(in->text(), ';')));
        return in->text().size();
    });
}

// The scanner under the preset numbered P, on the same text: what a
// dialect's rules cost beside classic's.
template <std::size_t P>
void scanPreset(benchmark::State& state, const Input* in) {
    ini::IniDialect dialect;
    ini::IniDialect::byName(ini::IniDialect::presetNames().at(P), dialect);
    measure(state, [&] {
        benchmark::DoNotOptimize(scanAll(ini::IniScanner(in->text(), dialect)));
        return in->text().size();
    });
}

// A key in the middle of the document, for the one-value edit rows.
std::pair<std::string, std::string> middleKey(const Input* in) {
    const auto keys = everyKey(loadDocument(in->text()));
    return keys.at(keys.size() / 2);
}

// One value changed, from the text to the new text: through the editor ...
void setOneWithEditor(benchmark::State& state, const Input* in) {
    const auto [section, key] = middleKey(in);
    measure(state, [&, section = section, key = key] {
        ini::IniEditor editor(in->text(), ';');
        benchmark::DoNotOptimize(editor.write(section, key, "a new value"));
        benchmark::DoNotOptimize(editor.text().data());
        return in->text().size();
    });
}

// ... and through the document: load, write, render.
void setOneWithDocument(benchmark::State& state, const Input* in) {
    const auto [section, key] = middleKey(in);
    measure(state, [&, section = section, key = key] {
        auto doc = loadDocument(in->text());
        doc.write(section, key, "a new value");
        const std::string text = doc.toString();
        benchmark::DoNotOptimize(text.data());
        return in->text().size();
    });
}

void readEveryKey(benchmark::State& state, const Input* in) {
    const auto doc = loadDocument(in->text());
    const auto keys = everyKey(doc);
    measure(state, [&] {
        for (const auto& [section, key] : keys) {
            benchmark::DoNotOptimize(doc.read(section, key, ""));
        }
        return in->text().size();
    });
}

void writeEveryKey(benchmark::State& state, const Input* in) {
    auto doc = loadDocument(in->text());
    const auto keys = everyKey(doc);
    measure(state, [&] {
        for (const auto& [section, key] : keys) {
            doc.write(section, key, "a new value");
        }
        return in->text().size();
    });
}

// The floor that the data model sets for any loader: the entries of the
// loaded document, already cut out of the text, stored into a fresh document
// (maps, order vectors, strings) and freed again, with no parsing at all.
void storeOnly(benchmark::State& state, const Input* in) {
    struct Record {
        const std::string* section;  // null for a key of the current section
        const std::string* key;
        const ini::IniValue* entry;
        const std::string* comment;  // a section's comment block
    };
    const auto doc = loadDocument(in->text());
    std::vector<Record> records;
    for (const auto& name : doc.sectionOrder) {
        const auto& section = doc.sections.at(name);
        records.push_back({&name, nullptr, nullptr, &section.comment});
        for (const auto& key : section.keyOrder) {
            records.push_back({nullptr, &key, &section.values.at(key), nullptr});
        }
    }
    measure(state, [&] {
        ini::IniFileIndex copy;
        ini::IniFileSection* current = nullptr;
        for (const Record& r : records) {
            if (r.section != nullptr) {
                current = &copy.sections[*r.section];
                current->comment = *r.comment;
                copy.sectionOrder.push_back(*r.section);
            } else {
                auto& entry =
                    current->values.emplace_hint(current->values.end(), *r.key, ini::IniValue{})->second;
                entry.value = r.entry->value;
                entry.comment = r.entry->comment;
                entry.inlineComment = r.entry->inlineComment;
                current->keyOrder.push_back(*r.key);
            }
        }
        benchmark::DoNotOptimize(copy);
        return in->text().size();
    });
}

// A lower floor for any container: the same strings, copied into plain
// vectors with no lookup structure at all.
void storeFlat(benchmark::State& state, const Input* in) {
    const auto doc = loadDocument(in->text());
    measure(state, [&] {
        std::vector<std::pair<std::string, std::vector<std::pair<std::string, ini::IniValue>>>> copy;
        std::vector<std::string> order;
        for (const auto& name : doc.sectionOrder) {
            auto& values =
                copy.emplace_back(name, std::vector<std::pair<std::string, ini::IniValue>>{}).second;
            order.push_back(name);
            for (const auto& entry : doc.sections.at(name).values) {
                values.emplace_back(entry);
            }
        }
        benchmark::DoNotOptimize(copy);
        return in->text().size();
    });
}

#ifdef INI_BENCH_PEERS
// ---- peers

int ignoreEntry(void*, const char*, const char*, const char*) { return 1; }

void inihParse(benchmark::State& state, const Input* in) {
    measure(state, [&] {
        benchmark::DoNotOptimize(ini_parse_string(in->text().c_str(), ignoreEntry, nullptr));
        return in->text().size();
    });
}

void inihParseFile(benchmark::State& state, const Input* in) {
    measure(state, [&] {
        benchmark::DoNotOptimize(ini_parse(in->file().c_str(), ignoreEntry, nullptr));
        return in->text().size();
    });
}

void simpleIniLoad(benchmark::State& state, const Input* in) {
    measure(state, [&] {
        CSimpleIniA ini;
        benchmark::DoNotOptimize(ini.LoadData(in->text().data(), in->text().size()));
        return in->text().size();
    });
}

void simpleIniLoadFile(benchmark::State& state, const Input* in) {
    measure(state, [&] {
        CSimpleIniA ini;
        benchmark::DoNotOptimize(ini.LoadFile(in->file().c_str()));
        return in->text().size();
    });
}

void simpleIniSave(benchmark::State& state, const Input* in) {
    CSimpleIniA ini;
    ini.LoadData(in->text().data(), in->text().size());
    measure(state, [&] {
        std::string text;
        ini.Save(text);
        benchmark::DoNotOptimize(text.data());
        return in->text().size();
    });
}

void simpleIniRead(benchmark::State& state, const Input* in) {
    CSimpleIniA ini;
    ini.LoadData(in->text().data(), in->text().size());
    const auto keys = everyKey(loadDocument(in->text()));
    measure(state, [&] {
        for (const auto& [section, key] : keys) {
            benchmark::DoNotOptimize(ini.GetValue(section.c_str(), key.c_str(), ""));
        }
        return in->text().size();
    });
}

void simpleIniWrite(benchmark::State& state, const Input* in) {
    CSimpleIniA ini;
    ini.LoadData(in->text().data(), in->text().size());
    const auto keys = everyKey(loadDocument(in->text()));
    measure(state, [&] {
        for (const auto& [section, key] : keys) {
            ini.SetValue(section.c_str(), key.c_str(), "a new value");
        }
        return in->text().size();
    });
}

// Boost's reader throws on a repeated key; the generated documents have none.
boost::property_tree::ptree boostRead(const std::string& text) {
    ViewBuffer buffer(text);
    std::istream stream(&buffer);
    boost::property_tree::ptree tree;
    boost::property_tree::ini_parser::read_ini(stream, tree);
    return tree;
}

void boostLoad(benchmark::State& state, const Input* in) {
    measure(state, [&] {
        benchmark::DoNotOptimize(boostRead(in->text()));
        return in->text().size();
    });
}

void boostSave(benchmark::State& state, const Input* in) {
    const auto tree = boostRead(in->text());
    measure(state, [&] {
        std::ostringstream out;
        boost::property_tree::ini_parser::write_ini(out, tree);
        benchmark::DoNotOptimize(out);
        return in->text().size();
    });
}
#endif

// ---- many operations on one text: iniedit's list and batch

// One section of 100,000 keys (about 2 MiB), as `iniedit list FILE SECTION`
// reads it.
const std::string& bigSection() {
    static const std::string text = [] {
        std::string out = "[big]\n";
        for (int i = 0; i < 100000; ++i) {
            out += "key" + std::to_string(i) + " = value " + std::to_string(i) + "\n";
        }
        return out;
    }();
    return text;
}

void listWithEditor(benchmark::State& state) {
    measure(state, [] {
        const ini::IniEditor editor(bigSection(), ';');
        benchmark::DoNotOptimize(editor.entries("big"));
        return bigSection().size();
    });
}

void listWithDocument(benchmark::State& state) {
    measure(state, [] {
        const auto doc = loadDocument(bigSection());
        std::vector<std::pair<std::string, std::string>> entries;
        for (const auto& key : doc.sections.at("big").keyOrder) {
            entries.emplace_back(key, doc.read("big", key, ""));
        }
        benchmark::DoNotOptimize(entries);
        return bigSection().size();
    });
}

// The generated 1 MiB mixed document and 10,000 sets spread over it, a
// third of them of new keys, as one `iniedit batch` makes them.
struct Batch {
    std::string text;
    std::vector<std::pair<std::string, std::string>> keys;
};

const Batch& batchInput() {
    static const Batch batch = [] {
        Batch b{bench::generateDocument(Profile::mixed, std::size_t{1} << 20), {}};
        const auto keys = everyKey(loadDocument(b.text));
        for (std::size_t i = 0; i < 10000; ++i) {
            const auto& [section, key] = keys[i * 7919 % keys.size()];
            b.keys.emplace_back(section, i % 3 == 0 ? "new" + std::to_string(i) : key);
        }
        return b;
    }();
    return batch;
}

void batchWithEditor(benchmark::State& state) {
    measure(state, [] {
        const Batch& in = batchInput();
        ini::IniEditor editor(in.text, ';');
        for (const auto& [section, key] : in.keys) {
            benchmark::DoNotOptimize(editor.write(section, key, "a new value"));
        }
        benchmark::DoNotOptimize(editor.text().data());
        return in.text.size();
    });
}

void batchWithDocument(benchmark::State& state) {
    measure(state, [] {
        const Batch& in = batchInput();
        auto doc = loadDocument(in.text);
        for (const auto& [section, key] : in.keys) {
            doc.write(section, key, "a new value");
        }
        const std::string text = doc.toString();
        benchmark::DoNotOptimize(text.data());
        return in.text.size();
    });
}

// Collects each benchmark's bytes per second and prints, after the usual
// report, one row per operation and input with this library's MB/s and its
// ratio to each peer.
class RatioReporter : public benchmark::ConsoleReporter {
public:
    void ReportRuns(const std::vector<Run>& runs) override {
        ConsoleReporter::ReportRuns(runs);
        for (const auto& run : runs) {
            if (run.error_occurred || run.run_type != Run::RT_Iteration) continue;
            const auto it = run.counters.find("bytes_per_second");
            if (it == run.counters.end()) continue;
            // Names are operation/profile/size/library.
            const std::string& name = run.run_name.function_name;
            const auto cut = name.rfind('/');
            results_[name.substr(0, cut)][name.substr(cut + 1)] = it->second.value / 1e6;
        }
    }
    void Finalize() override {
        ConsoleReporter::Finalize();
        std::printf("\n%-32s %10s  %s\n", "operation/input", "ini MB/s", "ratio to peer (peer MB/s)");
        for (const auto& [row, libraries] : results_) {
            const auto ours = libraries.find("ini");
            if (ours == libraries.end()) continue;
            std::printf("%-32s %10.1f ", row.c_str(), ours->second);
            for (const auto& [library, mbps] : libraries) {
                if (library != "ini") {
                    std::printf("  %s %.2fx (%.1f)", library.c_str(), ours->second / mbps, mbps);
                }
            }
            std::printf("\n");
        }
    }

private:
    std::map<std::string, std::map<std::string, double>> results_;
};

void registerAll() {
    using Fn = void (*)(benchmark::State&, const Input*);
    struct Entry {
        const char* operation;
        const char* library;
        Fn fn;
    };
    const std::vector<Entry> entries = {
        {"load_memory", "ini", loadMemory},
        {"store_only", "ini", storeOnly},
        {"store_only", "flat_vectors", storeFlat},
        {"load_file", "ini", loadFile},
        {"to_string", "ini", render},
        // The scanner beside the loader and inih's callback parser; one set
        // through the editor beside the same set through the document.
        {"scan", "ini", scan},
        {"scan", "load", loadMemory},
        {"scan", "dialect_classic", scanPreset<0>},
        {"scan", "dialect_python", scanPreset<1>},
        {"scan", "dialect_php", scanPreset<2>},
        {"scan", "dialect_mysql", scanPreset<3>},
        {"scan", "dialect_desktop", scanPreset<4>},
        {"scan", "dialect_systemd", scanPreset<5>},
        {"set_one", "ini", setOneWithEditor},
        {"set_one", "document", setOneWithDocument},
        {"read_every_key", "ini", readEveryKey},
        {"write_every_key", "ini", writeEveryKey},
#ifdef INI_BENCH_PEERS
        {"load_memory", "inih_raw", inihParse},
        {"scan", "inih_raw", inihParse},
        {"load_file", "inih_raw", inihParseFile},
        {"load_memory", "simpleini", simpleIniLoad},
        {"load_file", "simpleini", simpleIniLoadFile},
        {"to_string", "simpleini", simpleIniSave},
        {"read_every_key", "simpleini", simpleIniRead},
        {"write_every_key", "simpleini", simpleIniWrite},
        {"load_memory", "boost", boostLoad},
        {"to_string", "boost", boostSave},
#endif
    };
    // Whole commands on one text: the editor beside the document doing the
    // same, named as the rows above.
    for (const auto& [name, fn] : std::vector<std::pair<const char*, void (*)(benchmark::State&)>>{
             {"list_100k_keys/one_section/2MiB/ini", listWithEditor},
             {"list_100k_keys/one_section/2MiB/document", listWithDocument},
             {"batch_10k_sets/mixed/1MiB/ini", batchWithEditor},
             {"batch_10k_sets/mixed/1MiB/document", batchWithDocument}}) {
        benchmark::RegisterBenchmark(name, fn)->Unit(benchmark::kMillisecond)->UseRealTime();
    }
    for (const auto& in : inputs()) {
        for (const auto& e : entries) {
            const std::string name = std::string(e.operation) + "/" + in.label() + "/" + e.library;
            // Wall-clock time: page faults on fresh memory are part of the cost.
            auto* b = benchmark::RegisterBenchmark(name.c_str(), e.fn, &in)
                          ->Unit(benchmark::kMillisecond)
                          ->UseRealTime();
            if (in.size() >= (std::size_t{64} << 20)) {
                b->MinTime(3.0);  // several iterations, so that the measured ones are warm
            }
        }
    }
}

// One load in a fresh process: the time it takes and the peak resident set.
int freshLoad(const std::string& library, const std::string& file) {
    const auto start = std::chrono::steady_clock::now();
    std::size_t entries = 0;
    if (library == "ini") {
        std::ifstream in(file, std::ios::binary);
        ini::IniFileIndex doc;
        doc.load(in, ';');
        entries = doc.sections.size();
#ifdef INI_BENCH_PEERS
    } else if (library == "simpleini") {
        CSimpleIniA ini;
        ini.LoadFile(file.c_str());
        CSimpleIniA::TNamesDepend names;
        ini.GetAllSections(names);
        entries = names.size();
    } else if (library == "inih_raw") {
        entries = static_cast<std::size_t>(ini_parse(file.c_str(), ignoreEntry, nullptr) == 0);
    } else if (library == "boost") {
        boost::property_tree::ptree tree;
        boost::property_tree::ini_parser::read_ini(file, tree);
        entries = tree.size();
#endif
    } else {
        std::cerr << "unknown library " << library << '\n';
        return 2;
    }
    const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    std::printf("%s %.3f s, peak RSS %.1f MiB (%zu sections)\n", library.c_str(), seconds,
                static_cast<double>(usage.ru_maxrss) / 1024.0, entries);
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    try {
        if (argc == 5 && std::strcmp(argv[1], "--generate") == 0) {
            const Profile profile =
                std::strcmp(argv[2], "mixed") == 0 ? Profile::mixed : Profile::commentHeavy;
            std::ofstream(argv[4], std::ios::binary) << bench::generateDocument(profile, std::stoul(argv[3]));
            return 0;
        }
        if (argc == 4 && std::strcmp(argv[1], "--fresh") == 0) {
            return freshLoad(argv[2], argv[3]);
        }
        // Warm means warm: freed memory stays with the process instead of
        // going back to the system after every iteration, for every library.
        mallopt(M_TRIM_THRESHOLD, 1 << 30);
        mallopt(M_MMAP_THRESHOLD, 32 << 20);
        benchmark::Initialize(&argc, argv);
        prepareInputs();
        registerAll();
        RatioReporter reporter;
        benchmark::RunSpecifiedBenchmarks(&reporter);
        benchmark::Shutdown();
        std::error_code ignored;
        std::filesystem::remove_all(scratchDirectory(), ignored);
        return 0;
    } catch (const std::exception& e) {
        std::cerr << "ini_bench: " << e.what() << '\n';
        return 1;
    }
}
