#pragma once
// A throw-away folder tree that looks like the launcher's world from the server's side: a
// disc with its DATA folder, a workspace DATA folder, an upload folder, and canary files that
// lie outside every folder a request may reach. Nothing in it is ever served on purpose.

#include <string>
#include <vector>

struct Sandbox {
    std::string base;           // the whole tree; removed by removeSandbox
    std::string disc;           // the current directory while requests are served ("~" paths)
    std::string documentRoot;   // the workspace's DATA folder
    std::string secondaryRoot;  // the disc's DATA folder
    std::string uploads;        // where uploaded files may be written
    std::string canaryToken;    // the content of every canary file
};

// Builds the tree under the temporary folder; aborts the process when it cannot.
Sandbox makeSandbox(const char* prefix);
void removeSandbox(const Sandbox& sandbox);

// Every path under base except those under uploads, sorted; to see that nothing else appeared.
std::vector<std::string> sandboxEntries(const Sandbox& sandbox);
// Deletes what uploads were written.
void emptyUploads(const Sandbox& sandbox);

// The lowest descriptor number not in use; a leak raises it.
int lowestFreeDescriptor();
