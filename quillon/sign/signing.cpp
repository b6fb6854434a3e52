#include "quillon/sign/signing.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <system_error>

#include "platform/bytes.h"
#include "quillon/base/cli.h"
#include "quillon/base/output_files.h"
#include "quillon/read/updater_file.h"

#ifdef _WIN32
#include <process.h>
#else
#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>
extern char** environ;
#endif

namespace quillon {

namespace {

// A temporary file beside `near` holding `bytes`; its name, or empty.
std::string WriteTemporary(const std::string& near, const void* bytes, size_t size, std::string* error) {
    std::string path;
    std::FILE* f = CreateTemporaryFile(near, &path, error);
    if (f == nullptr) return std::string();
    const bool ok = std::fwrite(bytes, 1, size, f) == size;
    if (std::fclose(f) != 0 || !ok) {
        *error = path + ": cannot be written";
        std::remove(path.c_str());
        return std::string();
    }
    return path;
}

// osslsigncode sign of `in` into `out`.
bool Sign(const SignOptions& o, const std::string& in, const std::string& out, std::string* error) {
    std::vector<std::string> args = {SigningTool(), "sign", "-certs", o.certs, "-key", o.key, "-h", "sha256"};
    // The password goes in a file of this process, never on osslsigncode's
    // command line, where others could read it.
    std::string passFile = o.passFile;
    bool ownPassFile = false;
    if (!o.pass.empty()) {
        passFile = WriteTemporary(out, o.pass.data(), o.pass.size(), error);
        if (passFile.empty()) return false;
        ownPassFile = true;
    }
    if (!passFile.empty()) {
        args.push_back("-readpass");
        args.push_back(passFile);
    }
    if (!o.timestamp.empty()) {
        args.push_back("-ts");  // RFC 3161
        args.push_back(o.timestamp);
    }
    args.insert(args.end(), {"-in", in, "-out", out});
    std::remove(out.c_str());  // osslsigncode will not write over a file
    std::string output;
    const int code = RunProgram(args, &output);
    if (ownPassFile) std::remove(passFile.c_str());
    if (code != 0) {
        while (!output.empty() && (output.back() == '\n' || output.back() == '\r')) output.pop_back();
        *error = "osslsigncode sign failed" + (output.empty() ? std::string() : ": " + output);
        std::remove(out.c_str());
        return false;
    }
    return true;
}

}  // namespace

SignatureReport CheckFileSignature(const std::string& path) {
    std::vector<uint8_t> image;
    std::string why;
    if (!ReadWholeFile(path, &image, &why)) {
        return SignatureReport{SignatureState::Unchecked, path + ": cannot read: " + why};
    }
    return CheckImageSignature(image);
}

std::string SigningTool() {
    const char* tool = std::getenv("QUILLON_OSSLSIGNCODE");
    return tool != nullptr && *tool != '\0' ? tool : "osslsigncode";
}

std::vector<std::string> SigningProblems(const SignOptions& o) {
    std::vector<std::string> problems;
    if (o.certs.empty()) problems.push_back("--sign-key needs --sign-cert");
    if (o.key.empty()) problems.push_back("--sign-cert needs --sign-key");
    for (const std::string* file : {&o.certs, &o.key, &o.passFile}) {
        std::error_code ec;
        if (!file->empty() && !std::filesystem::is_regular_file(*file, ec)) {
            problems.push_back(*file + ": no such file");
        }
    }
    std::string output;
    if (RunProgram({SigningTool(), "--version"}, &output) != 0) {
        problems.push_back("signing needs osslsigncode (" + SigningTool() +
                           "), which cannot be run; install it (the Debian package osslsigncode)");
    }
    return problems;
}

PeSignature FindPeSignature(const std::vector<uint8_t>& image, uint32_t* offset, uint32_t* size) {
    const size_t entry = PeSecurityEntry(image);
    if (entry == 0) return PeSignature::NotPe;
    *offset = zv::LoadU32LE(image.data() + entry);
    *size = zv::LoadU32LE(image.data() + entry + 4);
    return *offset != 0 && *size != 0 ? PeSignature::Signed : PeSignature::Unsigned;
}

bool RemovePeSignature(std::vector<uint8_t>* image, std::string* error) {
    uint32_t offset = 0;
    uint32_t size = 0;
    if (FindPeSignature(*image, &offset, &size) != PeSignature::Signed) return true;
    // Signing tools pad the file to 8 bytes before the table; both go.
    if (static_cast<uint64_t>(offset) + size != image->size()) {
        *error = "its signature is not at the end of the file, so it cannot be taken out safely";
        return false;
    }
    const size_t entry = PeSecurityEntry(*image);
    image->resize(offset);
    std::memset(image->data() + entry, 0, 8);
    // The checksum covered the signature; 0 is "none", which Windows accepts
    // for programs.
    const uint32_t pe = zv::LoadU32LE(image->data() + 0x3C);
    std::memset(image->data() + pe + 24 + 64, 0, 4);
    return true;
}

bool MeasureSignature(const SignOptions& options, const std::vector<uint8_t>& image, const std::string& near,
                      uint64_t* bytes, std::string* error) {
    const std::string in = WriteTemporary(near, image.data(), image.size(), error);
    if (in.empty()) return false;
    const std::string out = in + ".signed";
    const bool ok = Sign(options, in, out, error);
    std::error_code ec;
    const uint64_t signedSize = ok ? std::filesystem::file_size(out, ec) : 0;
    std::remove(in.c_str());
    std::remove(out.c_str());
    if (!ok) return false;
    *bytes = signedSize > image.size() ? signedSize - image.size() : 0;
    return true;
}

bool PackageBindsMembers(const std::string& path, std::string* error) {
    zv::Platform& os = zv::HostPlatform();
    UpdaterFile file;
    std::string why;
    if (OpenUpdaterFile(os, path, &file, &why) != UpdaterOpen::Ok) {
        CloseUpdaterFile(os, &file);
        *error = why;
        return false;
    }
    const bool bound = file.integrity.status == zv::IntegrityStatus::Present;
    if (!bound) {
        *error = "its package carries no integrity data that this quillon reads (" +
                 std::string(zv::IntegrityStatusName(file.integrity.status)) +
                 "), so a signature would not cover its members on later volumes; it is not signed";
    }
    CloseUpdaterFile(os, &file);
    return bound;
}

bool SignFile(const SignOptions& options, const std::string& path, std::string* error) {
    if (!PackageBindsMembers(path, error)) return false;
    const std::string out = path + ".signed";
    if (!Sign(options, path, out, error)) return false;
    std::error_code ec;
    std::filesystem::rename(out, path, ec);
    if (ec) {
        std::remove(out.c_str());
        *error = "the signed file cannot be put in place: " + ec.message();
        return false;
    }
    std::string output;
    if (!VerifySignature(path, options.certs, &output)) {
        *error = "osslsigncode verify does not accept the signature: " + output;
        return false;
    }
    return true;
}

bool VerifySignature(const std::string& path, const std::string& caFile, std::string* output) {
    std::vector<std::string> args = {SigningTool(), "verify"};
    if (!caFile.empty()) args.insert(args.end(), {"-CAfile", caFile});
    args.insert(args.end(), {"-in", path});
    return RunProgram(args, output) == 0;
}

#ifdef _WIN32

int RunProgram(const std::vector<std::string>& arguments, std::string* output) {
    // The arguments quoted as the C runtime of the started program splits them.
    std::vector<std::string> quoted;
    for (const std::string& a : arguments) {
        std::string q = "\"";
        size_t slashes = 0;
        for (char c : a) {
            if (c == '\\') {
                ++slashes;
                continue;
            }
            q.append(c == '"' ? slashes * 2 + 1 : slashes, '\\');
            slashes = 0;
            q += c;
        }
        q.append(slashes * 2, '\\');
        quoted.push_back(q + "\"");
    }
    std::vector<const char*> argv;
    for (const std::string& q : quoted) argv.push_back(q.c_str());
    argv.push_back(nullptr);
    output->clear();
    const intptr_t code = ::_spawnvp(_P_WAIT, arguments[0].c_str(), argv.data());
    return code < 0 ? -1 : static_cast<int>(code);
}

#else

int RunProgram(const std::vector<std::string>& arguments, std::string* output) {
    output->clear();
    int fds[2];
    if (::pipe(fds) != 0) return -1;
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addclose(&actions, fds[0]);
    posix_spawn_file_actions_adddup2(&actions, fds[1], 1);
    posix_spawn_file_actions_adddup2(&actions, fds[1], 2);
    posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
    std::vector<char*> argv;
    for (const std::string& a : arguments) argv.push_back(const_cast<char*>(a.c_str()));
    argv.push_back(nullptr);
    pid_t pid = 0;
    const int spawned = ::posix_spawnp(&pid, argv[0], &actions, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    ::close(fds[1]);
    if (spawned != 0) {
        ::close(fds[0]);
        return -1;
    }
    char block[4096];
    ssize_t n;
    while ((n = ::read(fds[0], block, sizeof block)) > 0 || (n < 0 && errno == EINTR)) {
        if (n > 0) output->append(block, static_cast<size_t>(n));
    }
    ::close(fds[0]);
    int status = 0;
    while (::waitpid(pid, &status, 0) < 0 && errno == EINTR) {
    }
    if (WIFEXITED(status)) return WEXITSTATUS(status) == 127 ? -1 : WEXITSTATUS(status);
    return -1;
}

#endif

}  // namespace quillon
