#include "quillon/pack/description.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>
#include <set>

#include "package/member_name.h"
#include "platform/languages.h"
#include "platform/text.h"
#include "quillon/base/name_encoding.h"
#include "transfer/stage.h"

namespace quillon {
namespace {

// Orders stored names as the file systems compare them in a code page: names
// that name one file are equal.
struct FileNameOrder {
    uint16_t codePage;
    bool operator()(const std::string& a, const std::string& b) const {
        return zv::CompareMemberNames(a.c_str(), b.c_str(), codePage) < 0;
    }
};

// Why `text`, written as a language id whose value is `id`, names no Windows
// language, with a hint when one is likely meant (a number in hex written
// without its 0x: "409" for 0x0409). Empty when `id` is a language.
std::string LanguageProblem(const std::string& text, uint32_t id) {
    if (zv::FindLanguage(id) != nullptr) return std::string();
    char shown[16];
    std::snprintf(shown, sizeof shown, "0x%04X", static_cast<unsigned>(id));
    std::string problem = "the language id " + std::string(shown) + " names no Windows language";
    // Decimal digits that read as a language in hex: the 0x was left out.
    const bool hex = text.size() > 2 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X');
    if (!hex && text.size() <= 4 && text.find_first_not_of("0123456789") == std::string::npos) {
        const unsigned long asHex = std::stoul(text, nullptr, 16);
        if (const zv::Language* meant = zv::FindLanguage(static_cast<uint32_t>(asHex))) {
            char hint[16];
            std::snprintf(hint, sizeof hint, "0x%04X", static_cast<unsigned>(meant->id));
            problem += std::string("; did you mean ") + hint + " (" + DecodeFromCodePage(meant->name, 1252) +
                       ")? A number without 0x is decimal";
        }
    }
    return problem;
}

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
        } else if (zv::LowerAz(keyword) == "version" || zv::LowerAz(keyword) == "language" || zv::LowerAz(keyword) == "file") {
            Error("unknown keyword '" + keyword + "': keywords are written in lower case ('" + zv::LowerAz(keyword) + "')");
        } else {
            Error("unknown keyword '" + keyword + "' (expected version, language or file)");
        }
    }

    void Finish() {
        EncodeNames();
        CheckNamesTogether();
        line_ = 0;
        if (!haveVersion_) Error("the package version is missing (a line 'version a.b.c.d')");
        if (!haveLanguage_) Error("the package language is missing (a line 'language 0x0409', say)");
        if (fileLines_ == 0) Error("the description lists no files");
        if (d_->members.size() > 0xFFFF) Error("more than 65535 files");
    }

    void Error(const std::string& message) { errors_->push_back(DescriptionError{line_, message}); }

private:
    void Version(const std::vector<std::string>& words) {
        if (haveVersion_) return Error("the package version is given twice");
        haveVersion_ = true;  // a wrong one is reported here, not again as missing
        if (words.size() != 2) return Error("expected: version a.b.c.d");
        if (!ParseVersionText(words[1], &d_->version)) {
            return Error("'" + words[1] + "' is not a version a.b.c.d (four numbers of 0 to 65535)");
        }
        if (d_->version.high == 0 && d_->version.low == 0) return Error("the package version 0.0.0.0 is not allowed");
    }

    void Language(const std::vector<std::string>& words) {
        if (haveLanguage_) return Error("the package language is given twice");
        haveLanguage_ = true;
        if (words.size() != 2) return Error("expected: language ID (0x0409, or 1033)");
        uint32_t id = 0;
        if (!ParseNumber(words[1], 0xFFFF, &id)) {
            return Error("'" + words[1] + "' is not a language id of 16 bits (0x0409, or 1033)");
        }
        const std::string problem = LanguageProblem(words[1], id);
        if (!problem.empty()) return Error(problem);
        d_->language = id;
        languageKnown_ = true;
    }

    void File(const std::vector<std::string>& words) {
        ++fileLines_;
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
        if (m.name.find('/') != std::string::npos) {
            Error("the name '" + m.name + "' cannot be used: directories are separated by \\ in the package, not /");
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
            const Flag* otherCase = nullptr;
            for (const Flag& f : kFlags) {
                if (w == f.name) flag = &f;
                if (zv::LowerAz(w) == f.name) otherCase = &f;
            }
            if (flag == nullptr && otherCase != nullptr) {
                Error("unknown flag '" + w + "': flags are written in lower case ('" + otherCase->name + "')");
                ok = false;
            } else if (zv::LowerAz(w).compare(0, 8, "version=") == 0) {
                Error("unknown flag '" + w + "': version= is written in lower case");
                ok = false;
            } else if (flag == nullptr) {
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
        // Two names for one file are found once the names are in the code
        // page (EncodeNames).
        if (ok) d_->members.push_back(m);
    }

    // Every name in the code page of the package's language, as the updater
    // hands it to the system's file calls; lengths count those bytes.
    void EncodeNames() {
        const uint16_t codePage = LanguageCodePage(d_->language);
        // Names as the file systems compare them: differing in the case of
        // any letter of the code page (not only A to Z), they are one file.
        std::map<std::string, unsigned, FileNameOrder> files{FileNameOrder{codePage}};
        for (MemberDescription& m : d_->members) {
            line_ = m.line;
            std::string why;
            if (!languageKnown_) {
                m.storedName = m.name;  // the language's problem is told already
            } else if (!EncodeForCodePage(m.name, codePage, &m.storedName, &why)) {
                Error("the name '" + m.name + "' cannot be used: " + why);
                continue;
            }
            // The updater's own check, on the bytes it will be handed.
            const zv::MemberNameProblem problem = zv::CheckMemberName(m.storedName.c_str());
            if (problem != zv::MemberNameProblem::None && problem != zv::MemberNameProblem::TooLong) {
                Error("the name '" + m.name + "' cannot be used: " + zv::MemberNameProblemName(problem));
                continue;
            }
            size_t start = 0;
            for (;;) {
                const size_t end = m.storedName.find('\\', start);
                const size_t length = (end == std::string::npos ? m.storedName.size() : end) - start;
                if (length > kMaxNamePart) {
                    Error("the name '" + m.name + "' cannot be used: a part of it is " + std::to_string(length) +
                          " characters long, and Windows allows " + std::to_string(kMaxNamePart));
                    break;
                }
                if (end == std::string::npos) break;
                start = end + 1;
            }
            // The updater's own rule for the length of a target path, below
            // the shortest directory there is, a drive's root.
            const int32_t longestDirectory = zv::LongestTargetDirectory(m.storedName.c_str());
            if (longestDirectory < zv::SHORTEST_TARGET_DIRECTORY) {
                Error("the name '" + m.name + "' cannot be used: it is " + std::to_string(m.storedName.size()) +
                      " characters long, and no path under a directory can hold it (Windows allows " +
                      std::to_string(kMaxWindowsPath) + ", and the updater's new copy and backup of a file lie "
                      "beside it)");
                continue;
            }
            const auto seen = files.emplace(m.storedName, m.line);
            if (!seen.second) {
                Error("the name '" + m.name + "' is used twice, first on line " + std::to_string(seen.first->second) +
                      " (Windows' file systems take names that differ only in the case of their letters, accented "
                      "ones too, for one file)");
                continue;
            }
            if (longestDirectory < static_cast<int32_t>(kTypicalProductDirectory)) {
                d_->warnings.push_back(DescriptionError{
                    m.line, "the name '" + m.name + "' is " + std::to_string(m.storedName.size()) +
                                " characters long: the updater can write it only below a product directory of at "
                                "most " +
                                std::to_string(longestDirectory) +
                                " characters with its backslash (Windows allows paths of " +
                                std::to_string(kMaxWindowsPath) + "); names of up to " +
                                std::to_string(kMaxWindowsPath - kTypicalProductDirectory) + " characters"});
            }
        }
    }

    // A name that is also a directory of another name: one would have to be
    // a file and a directory at once.
    void CheckNamesTogether() {
        // Directory paths as the file systems compare them, the first line
        // that needs each.
        std::map<std::string, unsigned, FileNameOrder> directories{FileNameOrder{LanguageCodePage(d_->language)}};
        for (const MemberDescription& m : d_->members) {
            const std::string& key = m.storedName;
            for (size_t slash = key.find('\\'); slash != std::string::npos; slash = key.find('\\', slash + 1)) {
                directories.emplace(key.substr(0, slash), m.line);
            }
        }
        for (const MemberDescription& m : d_->members) {
            const auto dir = directories.find(m.storedName);
            if (dir == directories.end()) continue;
            line_ = m.line;
            Error("the name '" + m.name + "' is also a directory of a name on line " + std::to_string(dir->second) +
                  "; it cannot be a file and a directory at once");
        }
    }

    PackageDescription* d_;
    std::vector<DescriptionError>* errors_;
    unsigned line_ = 0;
    bool haveVersion_ = false;
    bool haveLanguage_ = false;
    bool languageKnown_ = false;
    size_t fileLines_ = 0;
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

bool ParseDescription(const std::string& text, PackageDescription* description,
                      std::vector<DescriptionError>* errors) {
    *description = PackageDescription{};
    errors->clear();
    Parser parser(description, errors);
    // A UTF-8 byte-order mark is invisible in an editor; it is not part of
    // the first keyword.
    size_t start = text.compare(0, 3, "\xEF\xBB\xBF") == 0 ? 3 : 0;
    // UTF-16 (with its mark, or ASCII text with a zero byte beside each
    // character) would fail on every line; say so once.
    const bool utf16Mark = text.compare(0, 2, "\xFF\xFE") == 0 || text.compare(0, 2, "\xFE\xFF") == 0;
    const bool utf16Zeros = text.size() >= 4 && ((text[0] != '\0' && text[1] == '\0' && text[3] == '\0') ||
                                                 (text[0] == '\0' && text[2] == '\0' && text[1] != '\0'));
    if (utf16Mark || utf16Zeros) {
        errors->push_back(DescriptionError{0, "the description is in UTF-16; save it as UTF-8"});
        return false;
    }
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
