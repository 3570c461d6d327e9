// efdtool: makes, lists and checks distribution kits (".efd" files).
//
//   efdtool pack [--layout-a] [--sign SECRET] [--describe LANG:PRODUCT:VENDOR:DOCUMENT]...
//                KIT DIR
//   efdtool list KIT
//   efdtool verify [--key PUBLIC] KIT
//   efdtool extract KIT DIR
//   efdtool keygen SECRET PUBLIC
//   efdtool --version
//
// Exit status: 0 success, 1 the command failed (the kit is damaged, a file cannot be read
// or written), 2 the command line is wrong.

#include <clocale>
#include <cstdio>
#include <cstring>

#include "tools/extract_command.h"
#include "tools/inspect_commands.h"
#include "tools/key_files.h"
#include "tools/pack_command.h"

static const char kUsage[] =
    "Usage:\n"
    "  efdtool pack [--layout-a] [--sign SECRET] [--describe LANG:PRODUCT:VENDOR:DOCUMENT]...\n"
    "               KIT DIR\n"
    "  efdtool list KIT\n"
    "  efdtool verify [--key PUBLIC] KIT\n"
    "  efdtool extract KIT DIR\n"
    "  efdtool keygen SECRET PUBLIC\n"
    "  efdtool --help | --version\n"
    "\n"
    "pack    writes every regular file below DIR (sorted by path) into the kit KIT, named\n"
    "        by its path below DIR with \"\\\" between components and stamped with its\n"
    "        modification time in whole seconds. Symbolic links are skipped.\n"
    "        --describe adds a description: the language code (such as en or ru), the\n"
    "        product and vendor names, and the description document's path below the\n"
    "        template directory. The document part may contain \":\".\n"
    "        The kit has per-language descriptions, one per --describe (layout B), unless\n"
    "        --layout-a is given: then it holds one description without a language (read\n"
    "        as \"en\"), so at most one --describe, whose LANG is not stored.\n"
    "        LANG must be the code of one of the installer's text sets.\n"
    "        The kit ends with an integrity trailer holding the SHA-256 of its stream;\n"
    "        --sign signs it with the secret key file SECRET (from efdtool keygen).\n"
    "list    opens KIT as the installer does and prints its descriptions and, per entry,\n"
    "        its size in bytes, its time (UTC) and its name.\n"
    "verify  opens KIT as the installer does and says whether it is sound; if it is not,\n"
    "        what is wrong (which record, which field), with exit status 1. It prints the\n"
    "        SHA-256 of the kit's stream and whether the kit is signed, and by which key.\n"
    "        With --key, the kit must be signed by the public key file PUBLIC (exit\n"
    "        status 1 otherwise), as a setup built with that key requires.\n"
    "extract opens KIT as the installer does and writes every entry below DIR (made when\n"
    "        missing) as the installer would: its name with \"\\\" read as \"/\", its bytes\n"
    "        and its modification time. A symbolic link inside DIR on the way to a file is\n"
    "        refused, never followed. Each file is written under a temporary name and\n"
    "        renamed into place. The first failure ends the command with exit status 1.\n"
    "keygen  makes an Ed25519 key pair: the secret key file SECRET (mode 0600) and the\n"
    "        public key file PUBLIC. Neither may exist yet.\n"
    "\n"
    "list, verify and extract unpack the kit into a temporary file in $TMPDIR (or /tmp)\n"
    "and remove it again before they end.\n"
    "\n"
    "Exit status: 0 success, 1 the command failed, 2 wrong command line.\n";

static int UsageError(const char* message) {
  std::fprintf(stderr, "efdtool: %s\n\n%s", message, kUsage);
  return 2;
}

static int Pack(int argc, char** argv) {
  PackOptions options;
  std::vector<NarrowString> operands;
  bool options_ended = false;
  for (int i = 2; i < argc; ++i) {
    const char* argument = argv[i];
    if (!options_ended && std::strcmp(argument, "--") == 0) {
      options_ended = true;
    } else if (!options_ended && std::strcmp(argument, "--layout-a") == 0) {
      options.single_description = true;
    } else if (!options_ended && std::strcmp(argument, "--describe") == 0) {
      if (i + 1 >= argc) return UsageError("--describe needs LANG:PRODUCT:VENDOR:DOCUMENT");
      options.descriptions.push_back(NarrowString(argv[++i]));
    } else if (!options_ended && std::strncmp(argument, "--describe=", 11) == 0) {
      options.descriptions.push_back(NarrowString(argument + 11));
    } else if (!options_ended && std::strcmp(argument, "--sign") == 0) {
      if (i + 1 >= argc) return UsageError("--sign needs a secret key file");
      options.secret_key_path = NarrowString(argv[++i]);
      options.sign = true;
    } else if (!options_ended && argument[0] == '-' && argument[1] != '\0') {
      std::fprintf(stderr, "efdtool: unknown option \"%s\"\n\n%s", argument, kUsage);
      return 2;
    } else {
      operands.push_back(NarrowString(argument));
    }
  }
  if (operands.size() != 2) return UsageError("pack needs KIT and DIR");
  options.kit_path = operands[0];
  options.directory = operands[1];
  return RunPack(options, stdout, stderr);
}

int main(int argc, char** argv) {
  std::setlocale(LC_ALL, "");
  if (argc < 2) return UsageError("no command given");
  const char* command = argv[1];
  if (std::strcmp(command, "--help") == 0 || std::strcmp(command, "-h") == 0 ||
      std::strcmp(command, "help") == 0) {
    std::fputs(kUsage, stdout);
    return 0;
  }
  if (std::strcmp(command, "--version") == 0) {
    std::printf("efdtool %s\n", SETUP_VERSION);
    return 0;
  }
  if (std::strcmp(command, "pack") == 0) return Pack(argc, argv);
  if (std::strcmp(command, "list") == 0) {
    if (argc != 3) return UsageError("list takes exactly one KIT");
    return RunList(NarrowString(argv[2]), stdout, stderr);
  }
  if (std::strcmp(command, "verify") == 0) {
    if (argc == 5 && std::strcmp(argv[2], "--key") == 0) {
      const NarrowString key_path(argv[3]);
      return RunVerify(NarrowString(argv[4]), &key_path, stdout, stderr);
    }
    if (argc != 3 || argv[2][0] == '-') return UsageError("verify takes [--key PUBLIC] KIT");
    return RunVerify(NarrowString(argv[2]), nullptr, stdout, stderr);
  }
  if (std::strcmp(command, "keygen") == 0) {
    if (argc != 4) return UsageError("keygen takes exactly SECRET and PUBLIC");
    KitPublicKey key;
    NarrowString failure;
    if (!WriteNewKeyPair(NarrowString(argv[2]), NarrowString(argv[3]), &key, &failure)) {
      std::fprintf(stderr, "efdtool keygen: %s\n", failure.CStr());
      return 1;
    }
    std::printf("wrote the secret key %s and the public key %s (key %s)\n", argv[2], argv[3],
                KeyFingerprint(key).CStr());
    return 0;
  }
  if (std::strcmp(command, "extract") == 0) {
    if (argc != 4) return UsageError("extract takes exactly KIT and DIR");
    return RunExtract(NarrowString(argv[2]), NarrowString(argv[3]), stdout, stderr);
  }
  std::fprintf(stderr, "efdtool: unknown command \"%s\"\n\n%s", command, kUsage);
  return 2;
}
