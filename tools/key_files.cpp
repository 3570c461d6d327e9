#include "tools/key_files.h"

#include <fcntl.h>
#include <sodium.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <string>

namespace {

NarrowString Quoted(const NarrowString& text) { return NarrowString("\"") + text + "\""; }

NarrowString SystemFailure(const NarrowString& what, const NarrowString& path, int error) {
  return what + " " + Quoted(path) + ": " + std::strerror(error);
}

// Writes text into a file made anew with mode; false with *failure.
bool WriteNewFile(const NarrowString& path, const std::string& text, mode_t mode, bool exact_mode,
                  NarrowString* failure) {
  const int descriptor = open(path.CStr(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, mode);
  if (descriptor < 0) {
    *failure = SystemFailure("cannot create", path, errno);
    return false;
  }
  bool written = !exact_mode || fchmod(descriptor, mode) == 0;
  std::size_t done = 0;
  while (written && done < text.size()) {
    const ssize_t count = write(descriptor, text.data() + done, text.size() - done);
    if (count < 0 && errno == EINTR) continue;
    written = count > 0;
    if (written) done += static_cast<std::size_t>(count);
  }
  if (written) written = fsync(descriptor) == 0;
  const int error = errno;
  if (close(descriptor) != 0 && written) {
    written = false;
  }
  if (!written) {
    *failure = SystemFailure("cannot write", path, error != 0 ? error : errno);
    unlink(path.CStr());
  }
  return written;
}

std::string KeyLine(const char* word, const unsigned char* bytes, std::size_t length) {
  return std::string(word) + " " + HexText(bytes, length).CStr() + "\n";
}

// Reads the one line of a key file of the given word and length into bytes.
bool ReadKeyFile(const NarrowString& path, const char* word, unsigned char* bytes,
                 std::size_t length, NarrowString* failure) {
  const int descriptor = open(path.CStr(), O_RDONLY | O_CLOEXEC);
  if (descriptor < 0) {
    *failure = SystemFailure("cannot open", path, errno);
    return false;
  }
  char text[512];
  std::size_t filled = 0;
  ssize_t count = 0;
  while (filled < sizeof text &&
         (count = read(descriptor, text + filled, sizeof text - filled)) != 0) {
    if (count < 0) {
      if (errno == EINTR) continue;
      *failure = SystemFailure("cannot read", path, errno);
      close(descriptor);
      return false;
    }
    filled += static_cast<std::size_t>(count);
  }
  close(descriptor);
  std::string line(text, filled);
  while (!line.empty() && (line.back() == '\n' || line.back() == '\r')) line.pop_back();
  const std::string prefix = std::string(word) + " ";
  std::size_t decoded = 0;
  if (line.compare(0, prefix.size(), prefix) != 0 || line.size() != prefix.size() + 2 * length ||
      sodium_hex2bin(bytes, length, line.data() + prefix.size(), 2 * length, nullptr, &decoded,
                     nullptr) != 0 ||
      decoded != length) {
    *failure = Quoted(path) + " is not a key file of the kind \"" + word + "\" (one line: \"" +
               word + "\" and " + NarrowString(std::to_string(2 * length).c_str()) +
               " hexadecimal digits)";
    return false;
  }
  return true;
}

}  // namespace

bool WriteNewKeyPair(const NarrowString& secret_path, const NarrowString& public_path,
                     KitPublicKey* made, NarrowString* failure) {
  if (!CryptoReady()) {
    *failure = "the cryptography library cannot be set up";
    return false;
  }
  KitSecretKey secret;
  crypto_sign_keypair(made->bytes, secret.bytes);
  const std::string secret_line = KeyLine(kSecretKeyWord, secret.bytes, kSecretKeyBytes);
  sodium_memzero(secret.bytes, sizeof secret.bytes);
  if (!WriteNewFile(secret_path, secret_line, 0600, true, failure)) return false;
  if (!WriteNewFile(public_path, KeyLine(kPublicKeyWord, made->bytes, kPublicKeyBytes), 0666, false,
                    failure)) {
    unlink(secret_path.CStr());
    return false;
  }
  return true;
}

bool ReadSecretKeyFile(const NarrowString& path, KitSecretKey* key, NarrowString* failure) {
  return ReadKeyFile(path, kSecretKeyWord, key->bytes, kSecretKeyBytes, failure);
}

bool ReadPublicKeyFile(const NarrowString& path, KitPublicKey* key, NarrowString* failure) {
  return ReadKeyFile(path, kPublicKeyWord, key->bytes, kPublicKeyBytes, failure);
}
