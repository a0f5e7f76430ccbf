// A folder of its own for one test, removed with everything in it at the
// end of the test.
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

    // Ends in "/".
    const std::string& path() const { return path_; }
    std::string file(const std::string& name) const { return path_ + name; }

    // Writes `content` to `name` (folders created as needed); returns the path.
    std::string write(const std::string& name, const std::string& content) const;

private:
    std::string path_;
};

std::string read_file(const std::string& path);
bool file_exists(const std::string& path);

// Points the stand-in MJBase's configuration directory at `dir` for this
// process ($MJ_CONFIG_DIR). Call before the first use of the library.
void use_config_dir(const std::string& dir);

}  // namespace qntest

#endif
