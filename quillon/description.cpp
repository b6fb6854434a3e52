#include "quillon/description.h"

#include <cstdlib>
#include <cstring>
#include <set>

namespace quillon {
namespace {

// The tokens of a line: words separated by blanks, a word in double quotes
// may hold blanks. Everything from a "#" outside quotes is a comment.
bool SplitLine(const std::string& line, std::vector<std::string>* words, std::string* error) {
    words->clear();
    size_t i = 0;
    while (i < line.size()) {
        const char c = line[i];
        if (c == ' ' || c == '\t' || c == '\r') {
            ++i;
        } else if (c == '#') {
            break;
        } else if (c == '"') {
            const size_t close = line.find('"', i + 1);
            if (close == std::string::npos) {
                *error = "a quoted word is not closed";
                return false;
            }
            words->push_back(line.substr(i + 1, close - i - 1));
            i = close + 1;
        } else {
            size_t end = i;
            while (end < line.size() && line[end] != ' ' && line[end] != '\t' && line[end] != '\r' &&
                   line[end] != '"' && line[end] != '#') {
                ++end;
            }
            words->push_back(line.substr(i, end - i));
            i = end;
        }
    }
    return true;
}

bool ParseNumber(const std::string& text, uint32_t limit, uint32_t* value) {
    if (text.empty()) return false;
    const bool hex = text.size() > 2 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X');
    const std::string digits = hex ? text.substr(2) : text;
    uint64_t v = 0;
    for (char c : digits) {
        unsigned d;
        if (c >= '0' && c <= '9') {
            d = static_cast<unsigned>(c - '0');
        } else if (hex && c >= 'a' && c <= 'f') {
            d = static_cast<unsigned>(c - 'a' + 10);
        } else if (hex && c >= 'A' && c <= 'F') {
            d = static_cast<unsigned>(c - 'A' + 10);
        } else {
            return false;
        }
        v = v * (hex ? 16 : 10) + d;
        if (v > limit) return false;
    }
    *value = static_cast<uint32_t>(v);
    return true;
}

std::string LowerAz(std::string s) {
    for (char& c : s) {
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    }
    return s;
}

struct Flag {
    const char* name;
    uint16_t bits;
};
const Flag kFlags[] = {
    {"shared", zv::ENTRY_SHARED},
    {"update-only", zv::ENTRY_UPDATE_ONLY},
    {"ignored", zv::ENTRY_IGNORED},
};

class Parser {
public:
    Parser(PackageDescription* description, std::vector<DescriptionError>* errors)
        : d_(description), errors_(errors) {}

    void Line(unsigned number, const std::vector<std::string>& words) {
        line_ = number;
        const std::string& keyword = words[0];
        if (keyword == "version") {
            Version(words);
        } else if (keyword == "language") {
            Language(words);
        } else if (keyword == "file") {
            File(words);
        } else {
            Error("unknown keyword '" + keyword + "' (expected version, language or file)");
        }
    }

    void Finish() {
        line_ = 0;
        if (!haveVersion_) Error("the package version is missing (a line 'version a.b.c.d')");
        if (!haveLanguage_) Error("the package language is missing (a line 'language 0x0409', say)");
        if (d_->members.empty()) Error("the description lists no files");
        if (d_->members.size() > 0xFFFF) Error("more than 65535 files");
    }

    void Error(const std::string& message) { errors_->push_back(DescriptionError{line_, message}); }

private:
    void Version(const std::vector<std::string>& words) {
        if (haveVersion_) return Error("the package version is given twice");
        if (words.size() != 2) return Error("expected: version a.b.c.d");
        if (!ParseVersionText(words[1], &d_->version)) {
            return Error("'" + words[1] + "' is not a version a.b.c.d (four numbers of 0 to 65535)");
        }
        if (d_->version.high == 0 && d_->version.low == 0) return Error("the package version 0.0.0.0 is not allowed");
        haveVersion_ = true;
    }

    void Language(const std::vector<std::string>& words) {
        if (haveLanguage_) return Error("the package language is given twice");
        if (words.size() != 2) return Error("expected: language ID (0x0409, or 1033)");
        uint32_t id = 0;
        if (!ParseNumber(words[1], 0xFFFF, &id)) {
            return Error("'" + words[1] + "' is not a language id of 16 bits (0x0409, or 1033)");
        }
        d_->language = id;
        haveLanguage_ = true;
    }

    void File(const std::vector<std::string>& words) {
        if (words.size() < 3) return Error("expected: file SOURCE NAME [shared] [update-only] [ignored] [version=...]");
        MemberDescription m;
        m.line = line_;
        m.source = words[1];
        m.name = words[2];
        bool ok = true;
        if (m.source.empty()) {
            Error("the source file name is empty");
            ok = false;
        }
        if (const char* why = CheckMemberName(m.name)) {
            Error("the name '" + m.name + "' cannot be used: " + why);
            ok = false;
        }
        bool versionSeen = false;
        for (size_t i = 3; i < words.size(); ++i) {
            const std::string& w = words[i];
            if (w.compare(0, 8, "version=") == 0) {
                if (versionSeen) {
                    Error("the version is given twice");
                    ok = false;
                    continue;
                }
                versionSeen = true;
                const std::string value = w.substr(8);
                if (value == "auto") {
                    m.versionSource = VersionSource::Auto;
                } else if (ParseVersionText(value, &m.version)) {
                    m.versionSource = VersionSource::Given;
                } else {
                    Error("'" + value + "' is not a version a.b.c.d or auto");
                    ok = false;
                }
                continue;
            }
            const Flag* flag = nullptr;
            for (const Flag& f : kFlags) {
                if (w == f.name) flag = &f;
            }
            if (flag == nullptr) {
                Error("unknown flag '" + w + "' (expected shared, update-only, ignored or version=...)");
                ok = false;
            } else if (m.flags & flag->bits) {
                Error(std::string("the flag ") + flag->name + " is given twice");
                ok = false;
            } else {
                m.flags |= flag->bits;
            }
        }
        // The record has a version exactly when one of these flags is set.
        const bool needsVersion = (m.flags & zv::ENTRY_HAS_VERSION) != 0;
        if (ok && needsVersion && m.versionSource == VersionSource::None) {
            Error("a shared or update-only file needs a version (version=a.b.c.d or version=auto)");
            ok = false;
        }
        if (ok && !needsVersion && m.versionSource != VersionSource::None) {
            Error("only a shared or update-only file carries a version; the record of this one has no room for it");
            ok = false;
        }
        const std::string key = LowerAz(m.name);
        if (ok && !names_.insert(key).second) {
            Error("the name '" + m.name + "' is used twice (names are compared without regard to case)");
            ok = false;
        }
        if (ok) d_->members.push_back(m);
    }

    PackageDescription* d_;
    std::vector<DescriptionError>* errors_;
    unsigned line_ = 0;
    bool haveVersion_ = false;
    bool haveLanguage_ = false;
    std::set<std::string> names_;
};

}  // namespace

bool ParseVersionText(const std::string& text, zv::ProductVersion* version) {
    uint32_t parts[4] = {};
    size_t start = 0;
    for (int i = 0; i < 4; ++i) {
        const size_t dot = text.find('.', start);
        const bool last = i == 3;
        if (last != (dot == std::string::npos)) return false;
        const std::string part = text.substr(start, last ? std::string::npos : dot - start);
        if (part.empty() || part.size() > 5 || part.find_first_not_of("0123456789") != std::string::npos) {
            return false;
        }
        if (!ParseNumber(part, 0xFFFF, &parts[i])) return false;
        start = dot + 1;
    }
    *version = zv::MakeVersion(static_cast<uint16_t>(parts[0]), static_cast<uint16_t>(parts[1]),
                               static_cast<uint16_t>(parts[2]), static_cast<uint16_t>(parts[3]));
    return true;
}

const char* CheckMemberName(const std::string& name) {
    if (name.empty()) return "it is empty";
    if (name.size() >= 260) return "it is longer than a Windows path may be";
    if (name[0] == '\\') return "it must be relative to the target directory (no leading \\)";
    if (name.size() >= 2 && name[1] == ':') return "it must be relative to the target directory (no drive)";
    if (name.find('/') != std::string::npos) return "directories are separated by \\ in the package, not /";
    size_t start = 0;
    for (;;) {
        const size_t end = name.find('\\', start);
        const std::string part = name.substr(start, end == std::string::npos ? std::string::npos : end - start);
        if (part.empty()) return "it has an empty directory part (\\\\, or a trailing \\)";
        if (part == "." || part == "..") return "it may not hold . or .. parts";
        if (part.back() == '.' || part.back() == ' ') return "a part of it ends with a dot or a blank";
        for (unsigned char c : part) {
            if (c < 0x20 || std::strchr("<>:\"|?*", c) != nullptr) {
                return "it holds a character that Windows file names may not hold";
            }
        }
        if (end == std::string::npos) break;
        start = end + 1;
    }
    return nullptr;
}

bool ParseDescription(const std::string& text, PackageDescription* description,
                      std::vector<DescriptionError>* errors) {
    *description = PackageDescription{};
    errors->clear();
    Parser parser(description, errors);
    size_t start = 0;
    unsigned number = 0;
    while (start <= text.size()) {
        size_t end = text.find('\n', start);
        if (end == std::string::npos) end = text.size();
        ++number;
        const std::string line = text.substr(start, end - start);
        std::vector<std::string> words;
        std::string error;
        if (line.find('\0') != std::string::npos) {
            errors->push_back(DescriptionError{number, "the line holds a zero byte"});
        } else if (!SplitLine(line, &words, &error)) {
            errors->push_back(DescriptionError{number, error});
        } else if (!words.empty()) {
            parser.Line(number, words);
        }
        if (end == text.size()) break;
        start = end + 1;
    }
    parser.Finish();
    return errors->empty();
}

}  // namespace quillon
