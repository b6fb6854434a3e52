// A fresh directory for one test, removed with everything in it afterwards,
// and small helpers to put files into it and read them back.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace zvtest {

class TempDir {
public:
    TempDir();
    ~TempDir();
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;

    const std::string& path() const { return path_; }
    // path() + "/" + relative
    std::string operator/(const std::string& relative) const { return path_ + "/" + relative; }

private:
    std::string path_;
};

void WriteFileBytes(const std::string& path, const std::vector<uint8_t>& bytes);
void WriteFileText(const std::string& path, const std::string& text);
std::vector<uint8_t> ReadFileBytes(const std::string& path);  // empty when missing
bool FileExists(const std::string& path);
void MakeDirs(const std::string& path);  // like mkdir -p
void SetReadOnly(const std::string& path, bool readOnly);

}  // namespace zvtest
