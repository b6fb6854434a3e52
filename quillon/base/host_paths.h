// Paths of the machine quillon runs on, and the forms the updater's code
// wants them in.
#pragma once

#include <cstdint>
#include <string>

namespace quillon {

// `path` in the form the platform layer takes: "\" between directories. The
// host platform of the portable build reads such a path that starts with "\"
// as a host path, and a relative one from the working directory.
std::string PlatformPath(const std::string& path);

// The directory part of `path` up to and including its last "/" or "\"
// (empty when there is none).
std::string DirectoryPart(const std::string& path);

// The file of volume `volume` of the package whose volume 1 is `firstVolume`:
// that file for volume 1, otherwise its name with the extension replaced by
// the number written with at least three digits (SETUP.EXE: SETUP002), as
// the updater looks for it. Empty when the name would be too long.
std::string VolumeHostPath(const std::string& firstVolume, uint32_t volume);

// `base` joined with a member's name, its "\" turned into the host's
// separator.
std::string MemberHostPath(const std::string& base, const std::string& name);

}  // namespace quillon
