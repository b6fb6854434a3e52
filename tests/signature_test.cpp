// Signed packages: what the system's trust service says of the updater's own
// signature, what the updater then decides on its package, and quillon's own
// check of a signature (verify) and its refusal to sign a package whose
// members nothing would bind to the signature.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include "package/integrity.h"
#include "package/table.h"
#include "platform/bytes.h"
#include "platform/own_signature.h"
#include "platform/posix_platform.h"
#include "platform/sha256.h"
#include "quillon/read/updater_file.h"
#include "quillon/sign/signing.h"
#include "string_ids.h"
#include "tests/support/fault_platform.h"
#include "tests/support/fixture_package.h"
#include "tests/support/host_layout.h"
#include "tests/support/lzhuf_test_encoder.h"
#include "tests/support/pe_builder.h"
#include "tests/support/sample_data.h"
#include "tests/support/temp_dir.h"
#include "tests/support/tool_run.h"
#include "transfer/package_messages.h"

using namespace zv;
using zvtest::ReadFileBytes;
using zvtest::ToolRun;
using zvtest::WriteFileBytes;

// --- The trust service's answers --------------------------------------------

TEST(TrustResult, EachAnswerCountsForWhatItSaysOfTheFile) {
    struct Case {
        const char* what;
        bool table;
        uint32_t result;
        SignatureState state;
    };
    const Case cases[] = {
        {"no certificate table, whatever the service says", false, 0x00000000u, SignatureState::Unsigned},
        {"no certificate table, no signature", false, 0x800B0100u, SignatureState::Unsigned},
        {"no certificate table, a bad digest", false, 0x80096010u, SignatureState::Unsigned},
        {"sound and trusted", true, 0x00000000u, SignatureState::Sound},
        {"a self-signed test certificate: sound, its root unknown", true, 0x800B0109u, SignatureState::Sound},
        {"a chain that ends nowhere", true, 0x800B010Au, SignatureState::Sound},
        {"an expired certificate", true, 0x800B0101u, SignatureState::Sound},
        {"a certificate not meant for code", true, 0x800B0110u, SignatureState::Sound},
        {"the image's hash differs", true, 0x80096010u, SignatureState::Broken},
        {"a table the service calls unsigned: malformed", true, 0x800B0100u, SignatureState::Broken},
        {"the signer's signature does not verify", true, 0x80090006u, SignatureState::Broken},
        {"a damaged encoding", true, 0x80093102u, SignatureState::Broken},
        {"a revoked certificate", true, 0x800B010Cu, SignatureState::Broken},
        {"an explicitly distrusted certificate", true, 0x800B0111u, SignatureState::Broken},
        {"the service does not know the action", true, 0x800B0002u, SignatureState::CannotTell},
        {"the service does not know the file's form", true, 0x800B0003u, SignatureState::CannotTell},
        {"the file cannot be opened", true, 0x80070005u, SignatureState::CannotTell},
        {"out of memory", true, 0x8007000Eu, SignatureState::CannotTell},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        EXPECT_EQ(ClassifyTrustResult(c.table, c.result), c.state) << SignatureStateName(c.state);
    }
}

// --- The updater's decision at start -------------------------------------------

namespace {

// A package stamped into C:\UPDATE\SETUP.EXE, with or without integrity
// data, and the updater's own signature scripted.
struct TrustFixture {
    zvtest::TempDir dir;
    PosixPlatform posix;
    zvtest::FaultPlatform os{posix};
    PackageHeader header{};
    std::vector<uint8_t> image;
    const char* path = "C:\\UPDATE\\SETUP.EXE";

    explicit TrustFixture(bool digests) {
        posix.SetLayout(zvtest::MachineLayout(dir.path(), "SETUP.EXE"));
        zvtest::MakeDirs(dir / "UPDATE");
        std::vector<zvtest::FixtureMember> members;
        for (const char* name : {"zvact.exe", "readme.txt"}) {
            zvtest::FixtureMember m;
            m.name = name;
            const std::vector<uint8_t> content = zvtest::SampleText(3000, static_cast<unsigned>(std::strlen(name)));
            m.data = zvtest::EncodeLzhufForTest(content);
            if (digests) {
                m.digest.resize(SHA256_DIGEST_SIZE);
                EXPECT_EQ(Sha256Bytes(content.data(), content.size(), m.digest.data()), Sha256Status::Ok);
            }
            members.push_back(m);
        }
        image = zvtest::StampFixturePackage(zvtest::BlankUpdaterImage(2048, 512), members, MakeVersion(1, 2, 1, 31),
                                            0x409);
        header = DecodePackageHeader(image.data() + 512);
        Write();
    }
    void Write() { WriteFileBytes(dir / "UPDATE/SETUP.EXE", image); }

    // Marks the integrity block as a newer packer's, its checksum made right.
    void MakeBlockNewer() {
        uint32_t end = 0;
        ASSERT_TRUE(TableRecordsEnd(image.data() + header.tableOffset, header.tableSize, header.entryCount, &end));
        uint8_t* block = image.data() + header.tableOffset + end;
        ASSERT_EQ(LoadU32LE(block), INTEGRITY_MAGIC);
        StoreU16LE(block + 4, 2);
        const uint32_t size = LoadU32LE(block + 8);
        StoreU32LE(block + size - 4, IntegrityChecksum(block, size - 4));
        Write();
    }

    PackageTrust Check(SignatureState signature) {
        os.scriptSignature = true;
        os.signature = signature;
        os.signatureResult = 0x12345678u;
        SignatureState said = SignatureState::Unsigned;
        uint32_t result = 0;
        const PackageTrust trust = CheckPackageTrust(os, path, header, &said, &result);
        EXPECT_EQ(said, signature);
        EXPECT_EQ(result, 0x12345678u) << "the service's answer is handed on for the trace";
        return trust;
    }
};

enum class Block { Present, None, Newer, Unreadable };

}  // namespace

// Every signature state against every kind of integrity data: a signed file
// goes on only when its signature holds (or cannot be checked) and its
// members are bound to it; an unsigned one as it always did.
TEST(PackageTrust, ASignedPackageGoesOnOnlyWithItsMembersBoundToASoundSignature) {
    struct Case {
        SignatureState signature;
        Block block;
        PackageTrust trust;
        unsigned message;  // 0: goes on
    };
    const Case cases[] = {
        {SignatureState::Unsigned, Block::Present, PackageTrust::Unsigned, 0},
        {SignatureState::Unsigned, Block::None, PackageTrust::Unsigned, 0},
        {SignatureState::Unsigned, Block::Newer, PackageTrust::Unsigned, 0},
        {SignatureState::Sound, Block::Present, PackageTrust::Bound, 0},
        {SignatureState::Sound, Block::None, PackageTrust::Unbound, IDS_SIGNED_UNCHECKED},
        {SignatureState::Sound, Block::Newer, PackageTrust::Unbound, IDS_SIGNED_UNCHECKED},
        {SignatureState::CannotTell, Block::Present, PackageTrust::CannotTell, 0},
        {SignatureState::CannotTell, Block::None, PackageTrust::Unbound, IDS_SIGNED_UNCHECKED},
        {SignatureState::CannotTell, Block::Newer, PackageTrust::Unbound, IDS_SIGNED_UNCHECKED},
        {SignatureState::Broken, Block::Present, PackageTrust::SignatureBroken, IDS_SIGNATURE_BROKEN},
        {SignatureState::Broken, Block::None, PackageTrust::SignatureBroken, IDS_SIGNATURE_BROKEN},
        // A table that cannot be read here is refused by the package's own
        // check when detection reads it; nothing is decided on it here.
        {SignatureState::Sound, Block::Unreadable, PackageTrust::TableUnread, 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(SignatureStateName(c.signature)) + " / block " +
                     std::to_string(static_cast<int>(c.block)));
        TrustFixture f(c.block != Block::None);
        if (c.block == Block::Newer) f.MakeBlockNewer();
        if (c.block == Block::Unreadable) f.os.Add({zvtest::FaultOp::Open, "SETUP.EXE", 0, -1});
        const PackageTrust trust = f.Check(c.signature);
        EXPECT_EQ(trust, c.trust) << PackageTrustName(trust);
        EXPECT_EQ(PackageTrustMessage(trust), c.message);
        EXPECT_EQ(PackageTrustAllows(trust), c.message == 0);
        EXPECT_EQ(f.os.OpenFiles(), 0u);
        EXPECT_EQ(f.os.liveBlocks, 0);
    }
}

// A broken signature is refused on the service's word alone: the package's
// bytes, which it no longer vouches for, are not read.
TEST(PackageTrust, ABrokenSignatureIsRefusedWithoutReadingThePackage) {
    TrustFixture f(true);
    f.os.Add({zvtest::FaultOp::Open, "", 0, -1});
    EXPECT_EQ(f.Check(SignatureState::Broken), PackageTrust::SignatureBroken);
    EXPECT_EQ(f.os.Struck(0), 0);
    EXPECT_EQ(f.Check(SignatureState::Unsigned), PackageTrust::Unsigned);
    EXPECT_EQ(f.os.Struck(0), 0);
}

// --- quillon: signing and checking signatures ----------------------------------

namespace {

bool CanSign() {
    return zvtest::RunTool("osslsigncode --version").exitCode == 0 && zvtest::RunTool("openssl version").exitCode == 0;
}

bool Has(const ToolRun& run, const std::string& text) { return run.out.find(text) != std::string::npos; }

// An unstamped updater that Windows would load, two sources, a description,
// and a self-signed code-signing certificate.
struct SignedRelease {
    zvtest::TempDir dir;
    std::string updater = dir / "zvupdate.exe";
    std::string description = dir / "zarvel.txt";
    std::string setup = dir / "SETUP.EXE";
    quillon::SignOptions sign;

    SignedRelease() {
        zvtest::MakeDirs(dir / "src");
        std::vector<uint8_t> pe = zvtest::BuildVersionedExecutable(
            zvtest::ExeFormat::Pe32, zvtest::ProductVersionInfo(MakeVersion(1, 2, 1, 31), 0x409, "zvupdate.exe"));
        const std::vector<uint8_t> blank = zvtest::BlankUpdaterImage(64, 16);
        pe.insert(pe.end(), blank.begin() + 16, blank.begin() + 48);
        pe.resize(pe.size() + 4000, 0);
        WriteFileBytes(updater, pe);
        WriteFileBytes(dir / "src/readme.txt", zvtest::SampleText(30000, 1));
        WriteFileBytes(dir / "src/plmr.dll", zvtest::SampleNoise(45000, 2));
        zvtest::WriteFileText(description,
                              "version 1.2.1.31\nlanguage 0x0409\n"
                              "file src/readme.txt readme.txt\n"
                              "file src/plmr.dll plmr.dll shared version=1.2.1.28\n");
        sign.certs = dir / "cert.pem";
        sign.key = dir / "key.pem";
        EXPECT_EQ(zvtest::RunTool("openssl req -x509 -newkey rsa:2048 -sha256 -days 30 -subj /CN=Zarvel-Test -nodes "
                                  "-addext extendedKeyUsage=codeSigning -keyout " +
                                  sign.key + " -out " + sign.certs)
                      .exitCode,
                  0);
    }
    ToolRun Build(const std::string& more = "") {
        return zvtest::RunQuillon("build " + description + " --updater " + updater + " --output " + setup +
                                  " --jobs 1" + more);
    }
    ToolRun BuildSigned(const std::string& more = "") {
        return Build(" --sign-cert " + sign.certs + " --sign-key " + sign.key + more);
    }
    // osslsigncode's own signature of `in` into `out`, as a signer that does
    // not go through quillon would make it.
    bool SignDirectly(const std::string& in, const std::string& out) {
        std::filesystem::remove(out);
        return zvtest::RunTool("osslsigncode sign -certs " + sign.certs + " -key " + sign.key + " -h sha256 -in " + in +
                               " -out " + out)
                   .exitCode == 0;
    }
};

// Where the table's parts lie in a stamped file.
struct Layout {
    uint32_t count = 0;
    std::vector<uint32_t> pieces;  // file offset of each record's first piece descriptor
    uint32_t block = 0;            // file offset of the integrity block
};

Layout Locate(const std::string& path) {
    Layout l;
    PosixPlatform os;
    quillon::UpdaterFile file;
    std::string error;
    EXPECT_EQ(quillon::OpenUpdaterFile(os, path, &file, &error), quillon::UpdaterOpen::Ok) << error;
    l.count = file.table.entryCount;
    l.block = file.header.tableOffset + file.integrity.offset;
    PackageEntry e = FirstPackageEntry(file.table);
    for (unsigned i = 0; i < file.table.entryCount; ++i, e = NextPackageEntry(e)) {
        l.pieces.push_back(file.header.tableOffset + static_cast<uint32_t>(EntryPieces(e) - file.table.bytes));
    }
    quillon::CloseUpdaterFile(os, &file);
    return l;
}

void Reseal(std::vector<uint8_t>* file, uint32_t block) {
    const uint32_t size = LoadU32LE(file->data() + block + 8);
    StoreU32LE(file->data() + block + size - 4, IntegrityChecksum(file->data() + block, size - 4));
}

}  // namespace

// The signed package as built, and changed after signing as an attacker
// would: each change that the signature covers fails verify on the
// signature, even where every member still matches its digest.
TEST(QuillonSignature, VerifyFailsEveryChangeMadeAfterSigning) {
    if (!CanSign()) GTEST_SKIP() << "osslsigncode or openssl is not installed: signing is not tested";
    SignedRelease r;
    ToolRun run = r.BuildSigned();
    ASSERT_EQ(run.exitCode, 0) << run.out;
    const std::vector<uint8_t> built = ReadFileBytes(r.setup);
    const Layout l = Locate(r.setup);
    ASSERT_EQ(l.count, 2u);

    run = zvtest::RunQuillon("verify " + r.setup);
    EXPECT_EQ(run.exitCode, 0) << run.out;
    EXPECT_TRUE(Has(run, "signature: present and sound")) << run.out;
    EXPECT_EQ(quillon::CheckFileSignature(r.setup).state, quillon::SignatureState::Sound);
    run = zvtest::RunQuillon("verify --json " + r.setup);
    EXPECT_TRUE(Has(run, "\"signature\":\"sound\",\"signatureProblem\":null")) << run.out;

    struct Case {
        const char* what;
        void (*edit)(std::vector<uint8_t>*, const Layout&);
        const char* why;
    };
    const Case cases[] = {
        {"the first member replaced by the second, its digest and the block's checksum fixed up",
         [](std::vector<uint8_t>* f, const Layout& l) {
             std::copy_n(f->begin() + l.pieces[1], 10, f->begin() + l.pieces[0]);
             std::copy_n(f->begin() + l.block + 12 + 32, 32, f->begin() + l.block + 12);
             Reseal(f, l.block);
         },
         "the file's bytes are not the ones it signed"},
        {"the integrity block removed",
         [](std::vector<uint8_t>* f, const Layout& l) {
             std::fill_n(f->begin() + l.block, IntegrityBlockSize(l.count), 0);
         },
         "the file's bytes are not the ones it signed"},
        {"bytes added behind the signature",
         [](std::vector<uint8_t>* f, const Layout&) { f->insert(f->end(), 16, 0x41); }, "follow the signature"},
        {"the image digest in the signature changed to another",
         [](std::vector<uint8_t>* f, const Layout&) {
             // The digest follows the indirect data's object identifier.
             const uint8_t oid[] = {0x2B, 0x06, 0x01, 0x04, 0x01, 0x82, 0x37, 0x02, 0x01, 0x04};
             auto at = std::search(f->begin(), f->end(), std::begin(oid), std::end(oid));
             ASSERT_NE(at, f->end());
             const uint8_t octets[] = {0x04, 0x20};
             at = std::search(at, f->end(), std::begin(octets), std::end(octets));
             ASSERT_NE(at, f->end());
             at[2] ^= 0x01;
         },
         "BROKEN"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        std::vector<uint8_t> changed = built;
        c.edit(&changed, l);
        WriteFileBytes(r.setup, changed);
        run = zvtest::RunQuillon("verify " + r.setup);
        EXPECT_EQ(run.exitCode, 1) << run.out;
        EXPECT_TRUE(Has(run, "signature: BROKEN")) << run.out;
        EXPECT_TRUE(Has(run, c.why)) << run.out;
        EXPECT_TRUE(Has(run, "its signature is broken; the updater refuses to run")) << run.out;
        EXPECT_EQ(quillon::CheckFileSignature(r.setup).state, quillon::SignatureState::Broken);
        // osslsigncode agrees.
        EXPECT_NE(zvtest::RunTool("osslsigncode verify -CAfile " + r.sign.certs + " -in " + r.setup).exitCode, 0);
    }
}

// A member on volume 2, which the signature does not cover, changed: its
// digest in the signed table finds it; the signature itself still holds.
TEST(QuillonSignature, AChangedMemberOnALaterVolumeFailsOnItsDigest) {
    if (!CanSign()) GTEST_SKIP() << "osslsigncode or openssl is not installed: signing is not tested";
    SignedRelease r;
    ToolRun run = r.BuildSigned(" --volume-size 40000");
    ASSERT_EQ(run.exitCode, 0) << run.out;
    const std::string second = r.dir / "SETUP002";
    std::vector<uint8_t> volume = ReadFileBytes(second);
    ASSERT_GT(volume.size(), 1000u);
    volume[volume.size() / 2] ^= 0x10;
    WriteFileBytes(second, volume);
    run = zvtest::RunQuillon("verify " + r.setup);
    EXPECT_EQ(run.exitCode, 1) << run.out;
    EXPECT_TRUE(Has(run, "BAD ")) << run.out;
    EXPECT_TRUE(Has(run, "signature: present and sound")) << run.out;
}

// A package signed without integrity data, or with a newer packer's, binds
// no member to the signature: verify fails it as the updater refuses it,
// and quillon does not sign such a package.
TEST(QuillonSignature, APackageWhoseMembersNothingBindsIsNotSigned) {
    if (!CanSign()) GTEST_SKIP() << "osslsigncode or openssl is not installed: signing is not tested";
    SignedRelease r;
    ASSERT_EQ(r.Build().exitCode, 0);
    const std::vector<uint8_t> built = ReadFileBytes(r.setup);
    const Layout l = Locate(r.setup);
    struct Case {
        const char* what;
        void (*edit)(std::vector<uint8_t>*, const Layout&);
    };
    const Case cases[] = {
        {"no integrity block",
         [](std::vector<uint8_t>* f, const Layout& l) {
             std::fill_n(f->begin() + l.block, IntegrityBlockSize(l.count), 0);
         }},
        {"a newer packer's block",
         [](std::vector<uint8_t>* f, const Layout& l) {
             StoreU16LE(f->data() + l.block + 4, 2);
             Reseal(f, l.block);
         }},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        std::vector<uint8_t> changed = built;
        c.edit(&changed, l);
        const std::string plain = r.dir / "plain.exe";
        const std::string signedFile = r.dir / "signed.exe";
        WriteFileBytes(plain, changed);
        // Unsigned, it verifies as packages without integrity data always did.
        ToolRun run = zvtest::RunQuillon("verify " + plain);
        EXPECT_EQ(run.exitCode, 0) << run.out;
        EXPECT_TRUE(Has(run, "signature: none")) << run.out;

        ASSERT_TRUE(r.SignDirectly(plain, signedFile));
        run = zvtest::RunQuillon("verify " + signedFile);
        EXPECT_EQ(run.exitCode, 1) << run.out;
        EXPECT_TRUE(Has(run, "signature: present and sound")) << run.out;
        EXPECT_TRUE(Has(run, "it is signed but carries no integrity data that binds its members")) << run.out;

        // quillon's signing refuses it, and leaves it unsigned.
        std::string error;
        EXPECT_FALSE(quillon::SignFile(r.sign, plain, &error));
        EXPECT_NE(error.find("carries no integrity data"), std::string::npos) << error;
        EXPECT_EQ(ReadFileBytes(plain), changed);
    }
    // The package as built is signed.
    std::string error;
    EXPECT_TRUE(quillon::PackageBindsMembers(r.setup, &error)) << error;
    EXPECT_TRUE(quillon::SignFile(r.sign, r.setup, &error)) << error;
    EXPECT_EQ(quillon::CheckFileSignature(r.setup).state, quillon::SignatureState::Sound);
}

// The signature's container itself malformed: the table's header, or its
// bounds, are not what a signature has.
TEST(QuillonSignature, AMalformedCertificateTableIsBroken) {
    if (!CanSign()) GTEST_SKIP() << "osslsigncode or openssl is not installed: signing is not tested";
    SignedRelease r;
    ASSERT_EQ(r.BuildSigned().exitCode, 0);
    const std::vector<uint8_t> built = ReadFileBytes(r.setup);
    uint32_t offset = 0;
    uint32_t size = 0;
    ASSERT_EQ(quillon::FindPeSignature(built, &offset, &size), quillon::PeSignature::Signed);
    const uint32_t pe = LoadU32LE(built.data() + 0x3C);
    const size_t entry = pe + 24 + 96 + 4 * 8;  // PE32: the certificate table's directory entry
    ASSERT_EQ(LoadU32LE(built.data() + entry), offset);
    struct Case {
        const char* what;
        size_t at;
        uint32_t value;
    };
    const Case cases[] = {
        {"a certificate type other than PKCS#7", offset + 4, 0x00010200u},
        {"a table that runs past the file", entry + 4, size + 8},
        {"a table that starts inside the header", entry, 16},
        {"a signed-data identifier changed", offset + 8 + 6, 0xFFFFFFFFu},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        std::vector<uint8_t> changed = built;
        StoreU32LE(changed.data() + c.at, c.value);
        EXPECT_EQ(quillon::CheckImageSignature(changed).state, quillon::SignatureState::Broken)
            << quillon::CheckImageSignature(changed).detail;
    }
    std::vector<uint8_t> unsigned_ = built;
    StoreU32LE(unsigned_.data() + entry, 0);
    StoreU32LE(unsigned_.data() + entry + 4, 0);
    EXPECT_EQ(quillon::CheckImageSignature(unsigned_).state, quillon::SignatureState::None);
}
