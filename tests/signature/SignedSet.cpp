#include "SignedSet.h"

#include "tests/support/Minisign.h"
#include "tests/support/TempDir.h"

#include <random>

namespace tests::signature {

namespace ms = tests::support::minisign;

void MakeSignedSet(const std::string& dir) {
    const ms::KeyPair publisher = ms::MakeKeyPair(dir, kPublisherKey);
    const ms::KeyPair stranger = ms::MakeKeyPair(dir, kStrangerKey);
    std::mt19937 rng(2024);
    std::string content(300000, '\0');
    for (auto& c : content)
        c = static_cast<char>(rng());
    const std::string file = dir + "/" + kContentName;
    tests::support::WriteFile(file, content);
    ms::Sign(publisher, file);
    ms::Sign(publisher, file, {true, "", dir + "/" + kLegacySignature});
    ms::Sign(stranger, file, {false, "", dir + "/" + kStrangerSignature});
    ms::Sign(publisher, file, {false, "release 5.30", dir + "/" + kNoFileNameSignature});
    ms::Sign(
        publisher, file, {false, std::string("file:") + kContentName + "\tfile:X", dir + "/" + kTwoFileNamesSignature});
    ms::Sign(publisher, file,
        {false, std::string("5.30\tfile:") + kContentName + "\ttimestamp:1", dir + "/" + kOwnCommentSignature});
    ms::Sign(publisher, file, {false, std::string("file:") + kContentName, dir + "/" + kNoTimestampSignature});
    const std::string documentation = dir + "/" + kDocumentationName;
    tests::support::WriteFile(documentation, kDocumentationContent);
    ms::Sign(publisher, documentation);
}

} // namespace tests::signature
