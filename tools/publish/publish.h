// Publishing an update folder from a release folder.
//
// Every file of the release is copied to the update folder under its path plus ".txt" (the client's
// executable thus becomes "tovipos.exe.txt"), and "list.txt" lists each with its SHA-1 digest
// (upper-case) and its path in GB2312, as raw bytes inside the JSON strings. Each file is written
// under a temporary name and moved into place, and "list.txt" comes last, so a client that reads
// the folder while it is being published sees the old release or the new one, never a mix that
// claims the new version.
#pragma once

#include <functional>
#include <string>
#include <vector>

#include "client/updater/openssl.h"

namespace tovi::publish {

struct PublishedFile {
    std::string path;  // relative, "/"-separated, UTF-8, without ".txt"
    std::string sha1;
    unsigned long long size = 0;
};

// The JSON text of list.txt for these files (paths converted to GB2312, ".txt" appended).
// Throws ValueError for a path that GB2312 cannot write.
std::string manifestText(const std::string& version, const std::vector<PublishedFile>& files);

// Publishes releaseFolder into updateFolder (created if missing); returns the files in list order
// (sorted by path). Throws tovi::Error; on failure list.txt is left as it was.
std::vector<PublishedFile> publish(const updater::OpenSsl& ssl, const std::string& releaseFolder, const std::string& version,
                                   const std::string& updateFolder);

// The command: publish <release folder> <version> <update folder>; returns the exit status.
int publishMain(const std::vector<std::string>& args);

}  // namespace tovi::publish
