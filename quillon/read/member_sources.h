// Where quillon verify finds the source file of each member of a package: the
// file of the member's name under a directory (--source), or the source that
// the package's description names for it (--description).
#pragma once

#include <cstdint>
#include <map>
#include <string>
#include <vector>

namespace quillon {

// The file a description's SOURCE names: relative to the description's
// directory unless absolute.
std::string DescribedSourcePath(const std::string& descriptionPath, const std::string& source);

class MemberSources {
public:
    // Sources under `directory` by member name (a "\" is a subdirectory).
    void UseDirectory(const std::string& directory);
    // Sources as the description at `path` names them. False with every
    // problem in *error when the description cannot be read or is not sound.
    bool UseDescription(const std::string& path, std::string* error);

    // The source of the member stored as `name` in a package of `language`,
    // or empty when the description has no member of that name.
    std::string SourceOf(const char* name, uint32_t language);

    // The description's names (UTF-8) that SourceOf was never asked for: in
    // the description, not in the package.
    std::vector<std::string> NotAskedFor() const;

private:
    struct Described {
        std::string name;  // as written
        std::string source;
        bool asked = false;
    };
    std::string directory_;
    bool described_ = false;
    std::map<std::string, Described> byName_;  // stored name, A to Z lower-cased
};

}  // namespace quillon
