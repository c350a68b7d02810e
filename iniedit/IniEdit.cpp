// iniedit: reads, tests and edits INI files from the command line, changing
// only the lines an edit is about. See iniedit.1 for the whole interface:
// Options parses the command line, Verbs runs it over Files, Output prints,
// and every failure ends here with its status (Status.h).
#include "IniFileSave.h"
#include "Options.h"
#include "Status.h"
#include "Verbs.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <exception>
#include <iostream>
#include <string>
#include <vector>

namespace {

// The arguments as UTF-8 whatever the system passed, in argv's shape.
struct Arguments {
    std::vector<std::string> words;
    std::vector<char*> pointers;

    Arguments(int argc, char** argv) : words(ini::commandLineArguments(argc, argv)) {
        for (auto& word : words) {
            pointers.push_back(word.data());
        }
        pointers.push_back(nullptr);
    }
    int count() const { return static_cast<int>(words.size()); }
};

// The one line a failure prints (nothing for "not found" under -q), and its
// status.
int report(const iniedit::Failure& failure, const iniedit::Options& options) {
    if (failure.status != iniedit::notFound || !options.quiet) {
        std::fprintf(stderr, "iniedit: %s%s\n", failure.message.c_str(),
                     failure.status == iniedit::usageError ? " (see iniedit --help)" : "");
    }
    return failure.status;
}

}  // namespace

// iniedit [OPTIONS] VERB FILE [SECTION [KEY [VALUE]]]
int main(int argc, char** argv) {
    if (!ini::prepareStandardStreams()) {
        return iniedit::ioFailure;
    }
    ini::reportFileSizeLimitAsError();
    std::ios::sync_with_stdio(false);
    Arguments arguments(argc, argv);
    iniedit::Options options;
    try {
        options = iniedit::parseArguments(arguments.count(), arguments.pointers.data());
        const int status = iniedit::run(options);
        // What get and list printed is only done once it is written.
        if (!std::cout.flush()) {
            iniedit::fail(iniedit::ioFailure,
                          "standard output: cannot write: " + std::string(std::strerror(errno)));
        }
        return status;
    } catch (const iniedit::Failure& failure) {
        return report(failure, options);
    } catch (const std::exception& e) {
        std::fprintf(stderr, "iniedit: %s: %s\n", options.file.c_str(), e.what());
        return iniedit::ioFailure;
    }
}
