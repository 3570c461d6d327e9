// Snapshots of whole trees (kinds, bytes, link targets, modification times to the
// nanosecond), for tests that a failed or undone operation leaves a tree exactly as it was.

#ifndef TESTING_TREE_SNAPSHOT_H_
#define TESTING_TREE_SNAPSHOT_H_

#include <cstdint>
#include <map>
#include <string>

// One node of a tree as a snapshot sees it.
struct NodeState {
  char kind;             // 'f' regular file, 'd' directory, 'l' link, '?' other
  std::string contents;  // file bytes or link target
  int64_t modified_seconds;
  long modified_nanoseconds;
  bool operator==(const NodeState& other) const;
};

// Relative path ("." for the root itself) to state; empty when nothing exists at root.
using TreeState = std::map<std::string, NodeState>;

TreeState SnapshotTree(const std::string& root);
// What differs, one line per path; empty when the snapshots are equal.
std::string DescribeDifferences(const TreeState& before, const TreeState& after);

#endif  // TESTING_TREE_SNAPSHOT_H_
