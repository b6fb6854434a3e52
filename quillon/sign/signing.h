// Signing volume 1 of a package (the stamped updater) with osslsigncode, and
// the updater's own signature: Authenticode signatures live in the PE's
// certificate table at the end of the file, which the package's bytes follow,
// so an updater must be unsigned before it is stamped.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "quillon/sign/authenticode.h"

namespace quillon {

struct SignOptions {
    std::string certs;      // --sign-cert: the certificate (chain) file, PEM or DER
    std::string key;        // --sign-key: the private key file
    std::string pass;       // --sign-pass: the key's password, if any
    std::string passFile;   // --sign-pass-file: a file holding it
    std::string timestamp;  // --timestamp: the URL of a time-stamping server
    bool enabled() const { return !certs.empty() || !key.empty(); }
};

// The command that runs osslsigncode: $QUILLON_OSSLSIGNCODE, else
// "osslsigncode" from the PATH.
std::string SigningTool();

// Why signing cannot be done with `options` (osslsigncode missing, a file not
// readable, --sign-cert without --sign-key); empty when it can.
std::vector<std::string> SigningProblems(const SignOptions& options);

// Where an Authenticode signature of the PE file `image` lies.
enum class PeSignature { NotPe, Unsigned, Signed };
PeSignature FindPeSignature(const std::vector<uint8_t>& image, uint32_t* offset, uint32_t* size);

// Removes the signature of `image` (its certificate table at the end of the
// file, and the entry that points to it). False with the reason when the
// table is not at the end of the file, where signing tools put it.
bool RemovePeSignature(std::vector<uint8_t>* image, std::string* error);

// How many bytes signing adds to a PE file: `image` is signed once, in a
// temporary file beside `near`, and the growth measured.
bool MeasureSignature(const SignOptions& options, const std::vector<uint8_t>& image, const std::string& near,
                      uint64_t* bytes, std::string* error);

// Whether the stamped updater at `path` carries integrity data that binds
// every member to a signature over it; false with the reason when not (no
// block, or one this quillon does not read): such a package is not signed.
bool PackageBindsMembers(const std::string& path, std::string* error);

// Signs the file at `path` in place (a stamped updater: only one whose
// package carries integrity data, PackageBindsMembers), then checks the signature with
// osslsigncode verify (trusting the certificates given to sign, so that what
// is checked is the signature over the file's bytes, not the chain's trust).
bool SignFile(const SignOptions& options, const std::string& path, std::string* error);

// Runs osslsigncode verify on `path`, trusting `caFile`; its output in *output.
bool VerifySignature(const std::string& path, const std::string& caFile, std::string* output);

// Checks the signature of the file at `path`.
SignatureReport CheckFileSignature(const std::string& path);

// Runs `arguments` (the program first) and waits; its stdout and stderr
// together in *output. Returns the exit code, or -1 when it could not run.
int RunProgram(const std::vector<std::string>& arguments, std::string* output);

}  // namespace quillon
