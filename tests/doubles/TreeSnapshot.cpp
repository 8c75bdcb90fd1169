// Snapshots of directory trees for the tests that must leave one alone.
#include "doubles/TreeSnapshot.h"

#include <algorithm>
#include <cstdio>
#include <dirent.h>
#include <sys/stat.h>
#include <vector>

// The link count is left out: a second name inside a tree may go.
std::string TreeSnapshot(const std::string& dir, const std::string& skip)
{
    std::vector<std::string> names;
    if (DIR* d = ::opendir(dir.c_str())) {
        while (dirent* e = ::readdir(d))
            names.push_back(e->d_name);
        ::closedir(d);
    }
    std::sort(names.begin(), names.end());
    std::string all;
    for (const std::string& name : names) {
        const std::string path = dir + "/" + name;
        struct stat st;
        if (name == "." || name == ".." || name == skip || ::lstat(path.c_str(), &st) != 0)
            continue;
        all += name + ":" + std::to_string(st.st_mode) + ":" + std::to_string(st.st_size) + "{";
        if (S_ISDIR(st.st_mode)) {
            all += TreeSnapshot(path);
        } else if (FILE* f = S_ISREG(st.st_mode) ? std::fopen(path.c_str(), "rb") : nullptr) {
            for (int c; (c = std::fgetc(f)) != EOF;)
                all += static_cast<char>(c);
            std::fclose(f);
        }
        all += "}";
    }
    return all;
}
