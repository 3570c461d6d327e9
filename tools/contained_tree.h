// ContainedTree: a directory, held open, below which files are written without ever leaving
// it, whatever is already there.
//
// Every folder on the way to a file is opened from the one above it by name (openat), made
// first when missing (mkdirat), and opened with O_NOFOLLOW: a symbolic link on the way is
// refused, never followed, so neither a link planted in the tree nor one swapped in while the
// tree is being written can lead a file outside the directory. A file is written under a
// temporary name in its folder and renamed over its final name only once it is complete, so
// a reader sees either the old file or the whole new one; a symbolic link or a file under the
// final name is replaced, not written through. A failed file leaves no temporary behind.
//
// Failures are described for people in *failure (the path below the directory and the
// system's reason).

#ifndef TOOLS_CONTAINED_TREE_H_
#define TOOLS_CONTAINED_TREE_H_

#include <functional>
#include <string>

class ContainedTree {
 public:
  ContainedTree() = default;
  ~ContainedTree();
  ContainedTree(const ContainedTree&) = delete;
  ContainedTree& operator=(const ContainedTree&) = delete;

  // Opens directory, making it and its missing parents first (mode 0777 before the umask).
  // The directory's own path is taken as given, links and all: it is the caller's choice.
  bool Open(const std::string& directory, std::string* failure);

  // Writes the file at relative, a path below the directory with "/" between components
  // (empty components are skipped; a ".." component is refused). fill receives the
  // descriptor of the new, empty temporary file (mode 0666 before the umask) and returns
  // false, with *failure, when it could not fill it; WriteFile closes the descriptor itself.
  bool WriteFile(const std::string& relative,
                 const std::function<bool(int descriptor, std::string* failure)>& fill,
                 std::string* failure);

 private:
  int root_ = -1;
  std::string root_path_;
  unsigned temporary_count_ = 0;
};

#endif  // TOOLS_CONTAINED_TREE_H_
