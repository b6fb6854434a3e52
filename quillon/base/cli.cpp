#include "quillon/base/cli.h"

#include <cerrno>
#include <cstdarg>
#include <cstring>
#include <algorithm>

namespace quillon {

bool WantsHelp(int argc, char** argv) {
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--help") == 0 || std::strcmp(argv[i], "-h") == 0) return true;
    }
    return false;
}

namespace {

std::string Lower(std::string s) {
    for (char& c : s) {
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    }
    return s;
}

// Edits (insert, delete, change) that turn `a` into `b`.
size_t EditDistance(const std::string& a, const std::string& b) {
    std::vector<size_t> row(b.size() + 1);
    for (size_t j = 0; j <= b.size(); ++j) row[j] = j;
    for (size_t i = 1; i <= a.size(); ++i) {
        size_t diagonal = row[0];
        row[0] = i;
        for (size_t j = 1; j <= b.size(); ++j) {
            const size_t above = row[j];
            const size_t change = diagonal + (a[i - 1] == b[j - 1] ? 0 : 1);
            row[j] = std::min(change, std::min(row[j - 1], above) + 1);
            diagonal = above;
        }
    }
    return row[b.size()];
}

std::string WithoutDashes(const std::string& s) {
    const size_t start = s.find_first_not_of('-');
    return start == std::string::npos ? std::string() : s.substr(start);
}

// The option most likely meant by the unknown `name`, or nullptr: one a
// couple of edits away, or one that `name` begins ("-o", "--out" for
// "--output").
const KnownOption* Likely(const std::string& name, const std::vector<KnownOption>& known) {
    const std::string bare = Lower(WithoutDashes(name));
    const KnownOption* best = nullptr;
    size_t bestDistance = 3;  // more edits than two is another word
    for (const KnownOption& s : known) {
        const std::string option = WithoutDashes(s.name);
        size_t d = EditDistance(bare, option);
        if (!bare.empty() && option.compare(0, bare.size(), bare) == 0) d = std::min<size_t>(d, 1);
        if (d < bestDistance) {
            best = &s;
            bestDistance = d;
        }
    }
    return best;
}

}  // namespace

bool ParsedArguments::Has(const std::string& name) const {
    for (const auto& o : options) {
        if (o.first == name) return true;
    }
    return false;
}

std::string ParsedArguments::Value(const std::string& name, const std::string& fallback) const {
    for (const auto& o : options) {
        if (o.first == name) return o.second;
    }
    return fallback;
}

bool ParseArguments(int argc, char** argv, const std::vector<KnownOption>& known, size_t maxPositionals,
                    ParsedArguments* parsed, std::vector<std::string>* errors) {
    *parsed = ParsedArguments{};
    errors->clear();
    bool optionsEnded = false;
    for (int i = 1; i < argc; ++i) {
        const std::string a = argv[i];
        if (optionsEnded || a.size() < 2 || a[0] != '-') {
            if (parsed->positionals.size() == maxPositionals) {
                errors->push_back("unexpected argument '" + a + "'" +
                                  (maxPositionals == 0 ? std::string()
                                                       : " (" + std::to_string(maxPositionals) + " expected at most)"));
            } else {
                parsed->positionals.push_back(a);
            }
            continue;
        }
        if (a == "--") {
            optionsEnded = true;
            continue;
        }
        const size_t equals = a.find('=');
        const std::string name = a.substr(0, equals);
        const KnownOption* option = nullptr;
        for (const KnownOption& s : known) {
            if (name == s.name) option = &s;
        }
        if (option == nullptr) {
            errors->push_back(UnknownOption(name, known));
            const KnownOption* likely = Likely(name, known);
            // Its value, if it takes one, is not another argument.
            if (equals == std::string::npos && likely != nullptr && likely->takesValue && i + 1 < argc &&
                argv[i + 1][0] != '-') {
                ++i;
            }
            continue;
        }
        std::string value;
        if (!option->takesValue) {
            if (equals != std::string::npos) {
                errors->push_back(name + " takes no value ('" + a + "')");
                continue;
            }
        } else if (equals != std::string::npos) {
            value = a.substr(equals + 1);
            if (value.empty()) {
                errors->push_back(name + " needs a value ('" + a + "')");
                continue;
            }
        } else if (i + 1 < argc) {
            value = argv[++i];
        } else {
            errors->push_back(name + " needs a value");
            continue;
        }
        if (parsed->Has(name)) {
            errors->push_back(name + " is given twice ('" + parsed->Value(name) + "' and '" + value + "')");
            continue;
        }
        parsed->options.emplace_back(name, value);
    }
    return errors->empty();
}

std::string UnknownOption(const std::string& name, const std::vector<KnownOption>& known) {
    std::string message = "unknown option '" + name + "'";
    const KnownOption* likely = Likely(name, known);
    if (likely != nullptr && Lower(name) == likely->name) {
        message += "; options are written in lower case: " + std::string(likely->name);
    } else if (likely != nullptr) {
        message += "; did you mean " + std::string(likely->name) + "?";
    }
    return message;
}

int FailUsage(const char* command, const std::vector<std::string>& errors, const char* usage) {
    for (const std::string& e : errors) std::fprintf(stderr, "quillon %s: %s\n", command, e.c_str());
    std::fprintf(stderr, "%s(see quillon %s --help)\n", usage, command);
    return EXIT_USAGE;
}

int Fail(int code, const char* format, ...) {
    std::fputs("quillon: ", stderr);
    va_list args;
    va_start(args, format);
    std::vfprintf(stderr, format, args);
    va_end(args);
    std::fputc('\n', stderr);
    return code;
}

bool ReadWholeFile(const std::string& path, std::vector<uint8_t>* bytes, std::string* error) {
    std::FILE* file = std::fopen(path.c_str(), "rb");
    if (file == nullptr) {
        *error = std::strerror(errno);
        return false;
    }
    bytes->clear();
    uint8_t block[65536];
    size_t n;
    while ((n = std::fread(block, 1, sizeof block, file)) > 0) bytes->insert(bytes->end(), block, block + n);
    bool ok = !std::ferror(file);
    if (!ok) *error = std::strerror(errno);
    std::fclose(file);
    return ok;
}

}  // namespace quillon
