// A build whose built-in key is the test key of kit/testdata (cmake/KitKey.cmake): the key
// comes through from the key file, and the installer's own opening of the kit takes only kits
// signed by it.

#include <gtest/gtest.h>
#include <sodium.h>

#include <cstring>
#include <string>

#include "kit/built_in_key.h"
#include "kit/preinstall_checks.h"
#include "testing/kit_builders.h"
#include "testing/scratch_home.h"
#include "testing/test_files.h"

namespace {

void ReadHex(const std::string& name, unsigned char* bytes, std::size_t length) {
  const std::string line = ReadWholeFile(std::string(KIT_TESTDATA_DIR) + "/" + name);
  std::size_t decoded = 0;
  ASSERT_EQ(sodium_hex2bin(bytes, length, line.data() + line.find(' ') + 1, 2 * length, nullptr,
                           &decoded, nullptr),
            0);
  ASSERT_EQ(decoded, length);
}

TEST(KitKeyBuildTest, TheBuiltInKeyIsTheKeyFilesKey) {
  KitPublicKey expected;
  ReadHex("test_key.public", expected.bytes, kPublicKeyBytes);
  ASSERT_NE(BuiltInKitKey(), nullptr);
  EXPECT_EQ(std::memcmp(BuiltInKitKey()->bytes, expected.bytes, kPublicKeyBytes), 0);
}

TEST(KitKeyBuildTest, TheInstallerTakesOnlyKitsSignedByTheBuiltInKey) {
  KitSecretKey test_secret, other_secret;
  ReadHex("test_key.secret", test_secret.bytes, kSecretKeyBytes);
  ReadHex("other_key.secret", other_secret.bytes, kSecretKeyBytes);
  ScratchHome scratch;
  const std::string kit_path = scratch.Work() + "/tavlo5.efd";
  const struct {
    const KitSecretKey* signer;
    PreinstallResult expected;
  } cases[] = {{nullptr, PreinstallResult::kKitDamaged},
               {&other_secret, PreinstallResult::kKitDamaged},
               {&test_secret, PreinstallResult::kReady}};
  for (const auto& c : cases) {
    KitWriter writer = DemoKitWriter();
    if (c.signer != nullptr) writer.SetSigningKey(*c.signer);
    WriteKitFile(writer, kit_path);
    std::vector<WideString> locations;
    PreinstallFindings findings;
    DistributionKit kit;
    EXPECT_EQ(RunPreinstallSteps(true, &locations, &findings, &kit), c.expected);
  }
}

}  // namespace
