// A folder of the test's own, removed with all it holds.
#ifndef QN_TEST_TEMP_DIR_H
#define QN_TEST_TEMP_DIR_H

#include <string>

namespace qntest {

class TempDir {
public:
    TempDir();
    ~TempDir();
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;

    const std::string& path() const { return path_; }  // ends in "/"
    std::string file(const std::string& name) const { return path_ + name; }

    // Folders made as needed; returns the path.
    std::string write(const std::string& name, const std::string& content) const;

private:
    std::string path_;
};

std::string read_file(const std::string& path);
bool file_exists(const std::string& path);

// $MJ_CONFIG_DIR, for MJBase: before the library's first use.
void use_config_dir(const std::string& dir);

}  // namespace qntest

#endif
