// The package description parser of quillon build on arbitrary text. Checks:
// no access out of bounds (the sanitizers), and that what it accepts is
// consistent: at least one member, every name usable, no two names that the
// updater's table check takes for one file (in the code page of the
// package's language), and a version exactly on the members whose record has
// room for one.
#include <cstdint>
#include <cstdlib>
#include <set>
#include <string>
#include <vector>

#include "package/member_name.h"
#include "platform/code_page.h"
#include "platform/text.h"
#include "quillon/pack/description.h"
#include "transfer/stage.h"

namespace {

void Check(bool condition) {
    if (!condition) std::abort();
}

std::string LowerAz(std::string s) {
    for (char& c : s) c = static_cast<char>(zv::FoldAz(static_cast<unsigned char>(c)));
    return s;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size > 65536) return 0;
    const std::string text(reinterpret_cast<const char*>(data), size);
    quillon::PackageDescription description;
    std::vector<quillon::DescriptionError> errors;
    const bool ok = quillon::ParseDescription(text, &description, &errors);
    Check(ok == errors.empty());
    if (!ok) return 0;
    Check(!description.members.empty());
    Check(description.language <= 0xFFFF);
    std::set<std::string> names;
    std::vector<const char*> stored;
    for (const quillon::MemberDescription& m : description.members) {
        Check(zv::CheckMemberName(m.storedName.c_str()) == zv::MemberNameProblem::None);
        Check(zv::LongestTargetDirectory(m.storedName.c_str()) >= zv::SHORTEST_TARGET_DIRECTORY);
        Check(names.insert(LowerAz(m.name)).second);
        stored.push_back(m.storedName.c_str());
        Check(!m.source.empty());
        const bool hasRoom = (m.flags & zv::ENTRY_HAS_VERSION) != 0;
        Check(hasRoom == (m.versionSource != quillon::VersionSource::None));
    }
    std::vector<uint32_t> scratch(stored.size());
    Check(zv::CheckMemberNames(stored.data(), static_cast<uint32_t>(stored.size()),
                               zv::LanguageCodePage(description.language), scratch.data())
              .problem == zv::MemberNameProblem::None);
    return 0;
}
