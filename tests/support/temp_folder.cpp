#include "tests/support/temp_folder.h"

#include <fstream>
#include <sstream>
#include <stdexcept>
#include <vector>

namespace fs = std::filesystem;

TempFolder::TempFolder(const std::string& base) {
    const fs::path parent = base.empty() ? fs::temp_directory_path() : fs::path(base);
    fs::create_directories(parent);
    std::string pattern = (parent / "launcher-test-XXXXXX").string();
    std::vector<char> buffer(pattern.begin(), pattern.end());
    buffer.push_back('\0');
    if (mkdtemp(buffer.data()) == nullptr) {
        throw std::runtime_error("mkdtemp failed under " + parent.string());
    }
    root = buffer.data();
}

TempFolder::~TempFolder() {
    std::error_code error;
    // Tests make folders unwritable on purpose; give the owner its rights back first.
    for (auto it = fs::recursive_directory_iterator(root, error); !error && it != fs::end(it);
         it.increment(error)) {
        if (it->is_directory(error) && !it->is_symlink(error)) {
            fs::permissions(it->path(), fs::perms::owner_all, fs::perm_options::add, error);
        }
    }
    fs::permissions(root, fs::perms::owner_all, fs::perm_options::add, error);
    fs::remove_all(root, error);
}

void writeFile(const fs::path& path, const std::string& contents) {
    fs::create_directories(path.parent_path());
    std::ofstream file(path, std::ios::binary | std::ios::trunc);
    file << contents;
    if (!file) {
        throw std::runtime_error("cannot write " + path.string());
    }
}

std::string readFile(const fs::path& path) {
    std::ifstream file(path, std::ios::binary);
    std::ostringstream contents;
    contents << file.rdbuf();
    return contents.str();
}
