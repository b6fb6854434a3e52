#include "quillon/read/member_sources.h"

#include <filesystem>

#include "platform/text.h"
#include "quillon/base/cli.h"
#include "quillon/base/host_paths.h"
#include "quillon/base/name_encoding.h"
#include "quillon/pack/description.h"

namespace quillon {

std::string DescribedSourcePath(const std::string& descriptionPath, const std::string& source) {
    const std::filesystem::path p(source);
    if (p.is_absolute()) return source;
    return (std::filesystem::path(descriptionPath).parent_path() / p).string();
}

void MemberSources::UseDirectory(const std::string& directory) {
    directory_ = directory;
    described_ = false;
}

bool MemberSources::UseDescription(const std::string& path, std::string* error) {
    std::vector<uint8_t> text;
    std::string why;
    if (!ReadWholeFile(path, &text, &why)) {
        *error = path + ": cannot read: " + why;
        return false;
    }
    PackageDescription description;
    std::vector<DescriptionError> problems;
    if (!ParseDescription(std::string(text.begin(), text.end()), &description, &problems)) {
        error->clear();
        for (const DescriptionError& p : problems) {
            if (!error->empty()) *error += "\n";
            *error += path + (p.line != 0 ? ":" + std::to_string(p.line) : std::string()) + ": " + p.message;
        }
        return false;
    }
    described_ = true;
    byName_.clear();
    for (const MemberDescription& m : description.members) {
        byName_[zv::LowerAz(m.storedName)] = Described{m.name, DescribedSourcePath(path, m.source), false};
    }
    return true;
}

std::string MemberSources::SourceOf(const char* name, uint32_t language) {
    if (!described_) return MemberHostPath(directory_, HostMemberName(name, language));
    const auto found = byName_.find(zv::LowerAz(name));
    if (found == byName_.end()) return std::string();
    found->second.asked = true;
    return found->second.source;
}

std::vector<std::string> MemberSources::NotAskedFor() const {
    std::vector<std::string> names;
    for (const auto& entry : byName_) {
        if (!entry.second.asked) names.push_back(entry.second.name);
    }
    return names;
}

}  // namespace quillon
