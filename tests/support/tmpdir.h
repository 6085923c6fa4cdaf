// Temporary directories and small trees for tests.
#pragma once
#include <string>
#include <utility>
#include <vector>

// A fresh directory under $TMPDIR (or /tmp), removed with its contents when the
// object goes. The removal stays on the directory's own file system, so a
// mount inside it that a test forgot is never emptied.
struct TempDir {
    std::string path;
    explicit TempDir(const std::string &tag = "t");
    ~TempDir();
    TempDir(const TempDir &) = delete;
    TempDir &operator=(const TempDir &) = delete;
    std::string operator/(const std::string &rel) const { return path + "/" + rel; }
};

void write_file(const std::string &path, const std::string &content, int mode = 0644);
std::string read_file(const std::string &path);
bool file_exists(const std::string &path);
void make_dirs(const std::string &path);

// Builds a tree below root: an entry ending in "/" is a directory, any other
// entry a file whose content is the second member.
void make_tree(const std::string &root,
               const std::vector<std::pair<std::string, std::string>> &entries);
// Creates the file at path (and its directory) and holds a write lock on all
// of it, as another program would; the descriptor, whose closing lets go
// (-1 on failure).
int hold_lock(const std::string &path);
