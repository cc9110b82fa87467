#include "tests/support/plist_files.h"

#include "tests/support/temp_folder.h"

#include <cstdlib>
#include <plist/plist.h>
#include <stdexcept>

std::string plistXml(const PlistEntries& entries) {
    std::string xml = "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
                      "<!DOCTYPE plist PUBLIC \"-//Apple//DTD PLIST 1.0//EN\" "
                      "\"http://www.apple.com/DTDs/PropertyList-1.0.dtd\">\n"
                      "<plist version=\"1.0\">\n<dict>\n";
    for (const auto& [key, value] : entries) {
        xml += "\t<key>" + key + "</key>\n\t" + value + "\n";
    }
    return xml + "</dict>\n</plist>\n";
}

void writeXmlPlist(const std::string& path, const PlistEntries& entries) {
    writeFile(path, plistXml(entries));
}

void writeBinaryPlist(const std::string& path, const PlistEntries& entries) {
    const std::string xml = plistXml(entries);
    plist_t root = nullptr;
    plist_from_xml(xml.data(), static_cast<uint32_t>(xml.size()), &root);
    if (root == nullptr) {
        throw std::runtime_error("test plist does not parse");
    }
    char* binary = nullptr;
    uint32_t length = 0;
    plist_to_bin(root, &binary, &length);
    plist_free(root);
    writeFile(path, std::string(binary, length));
    std::free(binary);
}
