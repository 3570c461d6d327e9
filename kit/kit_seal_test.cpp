// The integrity trailer as the reader judges it: kits opened through DistributionKit::Open,
// with and without a required signer.

#include "kit/kit_seal.h"

#include <gtest/gtest.h>
#include <sodium.h>

#include <cstring>
#include <string>

#include "kit/container_format.h"
#include "kit/distribution_kit.h"
#include "kit/kit_trailer.h"
#include "testing/kit_builders.h"
#include "testing/scratch_directory.h"
#include "testing/test_files.h"
#include "testing/text_helpers.h"

namespace {

// The bytes of a key file of kit/testdata ("WORD HEX").
void ReadTestKey(const std::string& name, unsigned char* bytes, std::size_t length) {
  const std::string line = ReadWholeFile(std::string(KIT_TESTDATA_DIR) + "/" + name);
  const std::size_t space = line.find(' ');
  ASSERT_NE(space, std::string::npos);
  std::size_t decoded = 0;
  ASSERT_EQ(sodium_hex2bin(bytes, length, line.data() + space + 1, 2 * length, nullptr, &decoded,
                           nullptr),
            0);
  ASSERT_EQ(decoded, length);
}

class KitSealTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ReadTestKey("test_key.secret", test_secret_.bytes, kSecretKeyBytes);
    ReadTestKey("test_key.public", test_public_.bytes, kPublicKeyBytes);
    ReadTestKey("other_key.secret", other_secret_.bytes, kSecretKeyBytes);
  }

  // A kit of one entry (64 KiB unless given), stored without compression, so that a flipped
  // bit in its data still inflates: only the digest can tell.
  Bytes Kit(bool with_trailer = true, const KitSecretKey* signer = nullptr,
            std::size_t data_bytes = 65536) {
    KitWriter writer;
    writer.AddDescription(
        KitInfo{WideFromAscii("en"), WideFromAscii("P"), WideFromAscii("V"), WideFromAscii("")});
    EXPECT_EQ(writer.AddEntry(WideFromAscii("data.bin"), TimeOf(1577836800),
                              PatternBytes(data_bytes, 7)),
              kSuccess);
    writer.SetCompressionLevel(0);
    writer.SetTrailer(with_trailer);
    if (signer != nullptr) writer.SetSigningKey(*signer);
    const std::string path = scratch_.Child("made.efd");
    WriteKitFile(writer, path);
    return ReadWholeFileBytes(path);
  }

  // Opens bytes as a kit: the code, with the reason in reason_.
  ErrorCode Open(const Bytes& bytes, const KitPublicKey* required = nullptr) {
    const std::string path = scratch_.Child("kit.efd");
    EXPECT_TRUE(WriteWholeFile(path, bytes));
    kit_.reset(new DistributionKit);
    const ErrorCode code = kit_->Open(WideFromAscii(path), required);
    reason_ = kit_->FailureReason().CStr();
    return code;
  }

  ScratchDirectory scratch_;
  KitSecretKey test_secret_, other_secret_;
  KitPublicKey test_public_;
  std::unique_ptr<DistributionKit> kit_;
  std::string reason_;
};

TEST_F(KitSealTest, ASoundTrailerOpensAndNamesTheStreamDigest) {
  const Bytes kit = Kit();
  ASSERT_EQ(Open(kit), kSuccess) << reason_;
  EXPECT_TRUE(kit_->Seal().has_trailer);
  EXPECT_FALSE(kit_->Seal().is_signed);
  unsigned char digest[kDigestBytes];
  crypto_hash_sha256(digest, kit.data(), kit.size() - kTrailerBytes);
  EXPECT_EQ(std::memcmp(kit_->Seal().digest, digest, kDigestBytes), 0);
  EXPECT_EQ(std::memcmp(kit.data() + kit.size() - kTrailerBytes, kTrailerMagic, 8), 0);
}

TEST_F(KitSealTest, TheTrailerIsFoundWhereverTheStreamEndsAgainstTheReadPieces) {
  // The kit is read in pieces of kInflateInputBytes, and ISA-L takes bytes past the stream's
  // end; streams ending just before, at and just after a piece boundary must all be placed
  // exactly.
  const std::size_t probe = 200000;
  const std::size_t probe_stream = Kit(false, nullptr, probe).size();
  const std::size_t at_boundary = probe + kInflateInputBytes - probe_stream;
  for (std::size_t data = at_boundary - 24; data <= at_boundary + 24; ++data) {
    ASSERT_EQ(Open(Kit(true, nullptr, data)), kSuccess) << data << ": " << reason_;
    EXPECT_TRUE(kit_->Seal().has_trailer) << data;
  }
}

TEST_F(KitSealTest, AFlippedBitInTheStreamOrTheTrailerMakesTheKitDamaged) {
  const Bytes kit = Kit();
  Bytes stream_flipped = kit;
  stream_flipped[kit.size() - kTrailerBytes - 30000] ^= 0x10;  // inside the entry's bytes
  EXPECT_EQ(Open(stream_flipped), kErrorInvalidData);
  EXPECT_NE(reason_.find("SHA-256"), std::string::npos) << reason_;
  Bytes trailer_flipped = kit;
  trailer_flipped[kit.size() - kTrailerBytes + 20] ^= 0x01;  // inside the digest
  EXPECT_EQ(Open(trailer_flipped), kErrorInvalidData);
  EXPECT_NE(reason_.find("SHA-256"), std::string::npos) << reason_;
  // Without a trailer the same flip goes unseen, as it always did.
  Bytes plain = Kit(false);
  plain[plain.size() - 30000] ^= 0x10;
  EXPECT_EQ(Open(plain), kSuccess) << reason_;
}

TEST_F(KitSealTest, ACutTrailerIsDamagedAndForeignTrailingBytesAreIgnored) {
  const Bytes kit = Kit();
  for (std::size_t keep : {std::size_t{8}, kTrailerBytes - 1}) {
    const Bytes cut(kit.begin(), kit.end() - static_cast<long>(kTrailerBytes - keep));
    EXPECT_EQ(Open(cut), kErrorInvalidData) << keep;
    EXPECT_NE(reason_.find("cut short"), std::string::npos) << reason_;
  }
  Bytes foreign = Kit(false);
  const char junk[] = "EFDSEAX and whatever else a mirror appended";
  foreign.insert(foreign.end(), junk, junk + sizeof junk);
  ASSERT_EQ(Open(foreign), kSuccess) << reason_;
  EXPECT_FALSE(kit_->Seal().has_trailer);
  // Bytes after a whole trailer are ignored too.
  Bytes after = kit;
  after.insert(after.end(), junk, junk + sizeof junk);
  ASSERT_EQ(Open(after), kSuccess) << reason_;
  EXPECT_TRUE(kit_->Seal().has_trailer);
}

TEST_F(KitSealTest, ARequiredSignerTakesOnlyItsOwnSignature) {
  ASSERT_EQ(Open(Kit(true, &test_secret_), &test_public_), kSuccess) << reason_;
  EXPECT_TRUE(kit_->Seal().is_signed);
  EXPECT_EQ(std::memcmp(kit_->Seal().signer.bytes, test_public_.bytes, kPublicKeyBytes), 0);

  const Bytes foreign = Kit(true, &other_secret_);
  EXPECT_EQ(Open(foreign, &test_public_), kErrorInvalidData);
  EXPECT_NE(
      reason_.find("signed by key " + std::string(KeyFingerprint(kit_->Seal().signer).CStr())),
      std::string::npos);
  EXPECT_EQ(Open(Kit(), &test_public_), kErrorInvalidData);
  EXPECT_NE(reason_.find("not signed"), std::string::npos) << reason_;
  EXPECT_EQ(Open(Kit(false), &test_public_), kErrorInvalidData);
  // Without a required signer, another key's sound signature is accepted like any sound kit.
  ASSERT_EQ(Open(foreign), kSuccess) << reason_;
  EXPECT_TRUE(kit_->Seal().is_signed);
}

TEST_F(KitSealTest, ASignatureThatDoesNotVerifyIsDamagedEvenWithoutARequiredSigner) {
  Bytes kit = Kit(true, &test_secret_);
  kit[kit.size() - 1] ^= 0x80;  // the signature's last byte
  EXPECT_EQ(Open(kit), kErrorInvalidData);
  EXPECT_NE(reason_.find("does not verify"), std::string::npos) << reason_;
}

}  // namespace
