#pragma once
#include <filesystem>
#include <string>

// A fresh folder for one test, removed with everything in it at the end.
class TempFolder {
  public:
    explicit TempFolder(const std::string& base = "");
    ~TempFolder();
    TempFolder(const TempFolder&) = delete;
    TempFolder& operator=(const TempFolder&) = delete;

    const std::filesystem::path& path() const { return root; }
    std::string str() const { return root.string(); }
    std::filesystem::path operator/(const std::string& name) const { return root / name; }

  private:
    std::filesystem::path root;
};

void writeFile(const std::filesystem::path& path, const std::string& contents);
std::string readFile(const std::filesystem::path& path);
