#include "testing/tree_snapshot.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <sstream>

#include "fs/read_link.h"
#include "testing/test_files.h"

bool NodeState::operator==(const NodeState& other) const {
  return kind == other.kind && contents == other.contents &&
         modified_seconds == other.modified_seconds &&
         modified_nanoseconds == other.modified_nanoseconds;
}

static void SnapshotInto(const std::string& path, const std::string& relative, TreeState* tree) {
  struct stat64 status;
  if (lstat64(path.c_str(), &status) != 0) return;
  NodeState node{'?', std::string(), status.st_mtim.tv_sec, status.st_mtim.tv_nsec};
  if (S_ISREG(status.st_mode)) {
    node.kind = 'f';
    node.contents = ReadWholeFile(path);
  } else if (S_ISLNK(status.st_mode)) {
    node.kind = 'l';
    NarrowString target;
    if (ReadLinkAt(AT_FDCWD, path.c_str(), &target) == 0) {
      node.contents.assign(target.Data(), target.Length());
    }
  } else if (S_ISDIR(status.st_mode)) {
    node.kind = 'd';
  }
  (*tree)[relative] = node;
  if (node.kind != 'd') return;
  for (const std::string& name : ListNames(path)) {
    SnapshotInto(path + "/" + name, relative == "." ? name : relative + "/" + name, tree);
  }
}

TreeState SnapshotTree(const std::string& root) {
  TreeState tree;
  SnapshotInto(root, ".", &tree);
  return tree;
}

static std::string Describe(const NodeState& node) {
  std::ostringstream text;
  text << node.kind << " " << node.contents.size() << " bytes, time " << node.modified_seconds
       << "." << node.modified_nanoseconds;
  return text.str();
}

std::string DescribeDifferences(const TreeState& before, const TreeState& after) {
  std::ostringstream text;
  for (const auto& [path, node] : before) {
    auto found = after.find(path);
    if (found == after.end()) {
      text << path << ": gone (was " << Describe(node) << ")\n";
    } else if (!(found->second == node)) {
      text << path << ": " << Describe(node) << " became " << Describe(found->second)
           << (found->second.contents != node.contents ? " (contents differ)" : "") << "\n";
    }
  }
  for (const auto& [path, node] : after) {
    if (before.count(path) == 0) text << path << ": new (" << Describe(node) << ")\n";
  }
  return text.str();
}
